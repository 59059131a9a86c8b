"""Writes everything the constituency parser's C++ tests read (see write_cpp_test_data.py):

- ``compare/<variant>/``: a bundle (``bundle/``) and ``expected.json``, the PyTorch reference's
  result for each of a set of seeded sentences (tree text or error message, applied transitions,
  smallest score margin, first-step scores); see ``VARIANTS``;
- ``parse/<name>/``: bundles whose parses end in a known way (equal scores, a transition limit,
  no Open transition, an Open row outside the dummy embedding, too few output rows);
- ``refused/<name>/`` and ``refused.json``: bundles that loading refuses, with the message.
"""

from __future__ import annotations

import json
import pathlib
import random

import torch

import constituency_bundle as cb
from constituency_reference import Parser

# name -> options of constituency_bundle.make_model
VARIANTS = {
    "plain": {},
    "everything": {"boundaries": True, "tag_source": "upos", "tag_dim": 0, "lower": True, "layers": 2,
                   "output_layers": 1, "unary_limit": 1, "charlm": True, "seed": 3},
    "strict_unary": {"unary_limit": 0, "output_layers": 3, "seed": 5, "root_labels": ("ROOT", "S")},
}

WORD_POOL = ["the", "The", "THE", "cat", "Cat", "sat", "on", "mat", "a", "dog", "Ran", "ran", "New York",
             "new york", "big", "House", "é", "É", "paris", "Paris", "zebra", "unknown", "x"]
TAG_POOL = cb.TAGS + ["XX"]


def sentences(seed, count=30):
    rng = random.Random(seed)
    out = [(["cat"], ["NN"]), (["New York", "big"], ["NNP", "JJ"])]
    while len(out) < count:
        length = rng.randint(1, 9)
        out.append(([rng.choice(WORD_POOL) for _ in range(length)], [rng.choice(TAG_POOL) for _ in range(length)]))
    return out


def write_comparison(folder, options, seed):
    model, assets = cb.make_model(**options)
    cb.write(folder / "bundle", model, assets)
    parser = Parser(model, assets)
    cases = []
    for words, tags in sentences(seed):
        result = parser.parse(words, tags)
        cases.append({"words": words, "tags": tags, "tree": result.tree, "error": result.error,
                      "applied": result.applied, "margin": min(result.margin, 1e9),
                      "first_scores": result.first_scores})
    (folder / "expected.json").write_text(json.dumps(cases, ensure_ascii=False, indent=1), encoding="utf-8")


def zero_last_layer(tensors, assets, bias):
    last = assets["config"]["num_output_layers"] - 1
    tensors[f"output_layers.{last}.weight"].zero_()
    tensors[f"output_layers.{last}.bias"].copy_(torch.tensor(bias, dtype=torch.float32))


def write_parse_cases(out):
    def table(*entries):
        rows = []
        for entry in entries:
            if isinstance(entry, tuple):
                rows.append({"kind": "open", "labels": list(entry[0]), "open_index": entry[1]})
            else:
                rows.append({"kind": entry})
        return rows

    # All scores equal: the earliest legal transition of the table wins every step.
    model, assets = cb.make_model(table=table("shift", (["S"], 0), "close", (["ROOT"], 1)), unary_limit=1)
    tensors, assets = cb.variant(model, assets, lambda t, a: zero_last_layer(t, a, [0.5] * 4))
    cb.write(out / "ties", model, assets, tensors=tensors)

    # Not-a-number scores rank below every number, and among themselves keep table order.
    nan = float("nan")
    model, assets = cb.make_model(table=table("shift", (["S"], 0), "close", (["ROOT"], 1)), unary_limit=1)
    tensors, assets = cb.variant(model, assets, lambda t, a: zero_last_layer(t, a, [nan, nan, 0.0, nan]))
    cb.write(out / "nan_scores", model, assets, tensors=tensors)

    # Open X and Close repeat forever above the only word: Open ROOT scores lowest.
    model, assets = cb.make_model(table=table("shift", "close", (["ROOT"], 0), (["X"], 1)), unary_limit=1000)
    tensors, assets = cb.variant(model, assets, lambda t, a: zero_last_layer(t, a, [0.0, 0.0, -10.0, 0.0]))
    cb.write(out / "endless_unary", model, assets, tensors=tensors)

    model, assets = cb.make_model(table=table("shift", "close"))
    cb.write(out / "no_open", model, assets)


def refusals():
    """(name, change of (tensors, assets), message, options): bundles that loading refuses."""
    architecture = ("unsupported constituency architecture; the native profile requires IN_ORDER/MAX/LSTM with "
                    "ReLU, one tree layer, ordinary output layers, and no parser attention or PEFT")
    disagree = "constituency vocabularies disagree with embedding rows"

    def config(**changes):
        return lambda t, a: a["config"].update(changes)

    def drop_config(key):
        return lambda t, a: a["config"].pop(key)

    def assets(**changes):
        return lambda t, a: a.update(changes)

    def drop_tensor(*names):
        def change(t, a):
            for name in names:
                del t[name]
        return change

    def transition(index, **changes):
        def change(t, a):
            entry = a["transitions"][index]
            for key, value in changes.items():
                if value is None:
                    entry.pop(key)
                else:
                    entry[key] = value
        return change

    def pretrain(**changes):
        return lambda t, a: a["pretrain_vocab"]["_unit2id"].update(changes)

    def max_output_layer(t):
        return max(int(name.split(".")[1]) for name in t if name.startswith("output_layers."))

    def resize(name, rows):
        return lambda t, a: t.update({name: t[name][:rows].clone() if rows <= t[name].shape[0] else
                                      torch.cat([t[name], t[name][:rows - t[name].shape[0]]])})

    return [
        ("top_down", config(transition_scheme="TOP_DOWN"), architecture),
        ("tree_layers_absent", drop_config("num_tree_lstm_layers"), architecture),
        ("nonlinearity_upper", config(nonlinearity="ReLU"), architecture),
        ("maxout", config(maxout_k=2), architecture),
        ("rattn", config(use_rattn=True), architecture),
        ("peft", config(use_peft=True), architecture),
        ("scheme_missing", drop_config("transition_scheme"), "missing JSON key 'transition_scheme' at assets.config"),
        ("tree_layers_text", config(num_tree_lstm_layers="1"), "expected JSON integer at assets.config.num_tree_lstm_layers"),
        ("boundaries_words", config(sentence_boundary_vectors="WORDS"),
         "unsupported constituency sentence boundary profile: 'WORDS'"),
        ("hidden_zero", config(hidden_size=0), "constituency model dimensions must be positive"),
        ("tag_dim_negative", config(tag_embedding_dim=-1), "constituency model dimensions must be positive"),
        ("layers_absent", drop_config("num_lstm_layers"), "constituency model dimensions must be positive"),
        ("tag_source_lemma", lambda t, a: a["runtime_contract"].update(tag_source="lemma"),
         "unsupported constituency tag source: 'lemma'"),
        ("contract_missing", lambda t, a: a.pop("runtime_contract"), "missing JSON key 'runtime_contract' at assets"),
        ("unary_negative", assets(unary_limit=-1), "constituency unary limit cannot be negative"),
        ("unary_text", assets(unary_limit="2"), "expected JSON integer at assets.unary_limit"),
        ("no_root_labels", assets(root_labels=[]), "constituency model has no root labels"),
        ("root_label_number", assets(root_labels=["ROOT", 3]), "expected JSON string at assets.root_labels[]"),
        ("no_close", lambda t, a: a.update(transitions=[e for e in a["transitions"] if e["kind"] != "close"]),
         "constituency transition table is incomplete"),
        ("kind_reduce", transition(1, kind="reduce"), "unknown constituency transition kind: 'reduce'"),
        ("open_without_labels", transition(2, labels=[]), "constituency Open transition is incomplete"),
        ("open_index_negative", transition(3, open_index=-1), "constituency Open transition is incomplete"),
        ("open_index_missing", transition(2, open_index=None), "missing JSON key 'open_index' at assets.transitions[2]"),
        ("open_label_number", transition(4, labels=["NP", 1]), "expected JSON string at assets.transitions[4].labels[]"),
        ("unk_id", pretrain(**{"<UNK>": 2, "the": 1}), "constituency pretrain vocabulary has invalid PAD/UNK ids"),
        ("lower_text", lambda t, a: a["pretrain_vocab"].update(lower="yes"),
         "expected JSON boolean at assets.pretrain_vocab.lower"),
        ("embedding_rows", resize("embedding.weight", 5), disagree),
        ("delta_rows", resize("delta_embedding.weight", 20), disagree),
        ("transition_rows", resize("transition_embedding.weight", 3), disagree),
        # A repeated delta word keeps its first id, so the last word's id passes the table.
        ("delta_repeat", lambda t, a: a.update(delta_words=a["delta_words"][:-1] + ["the", "last"]), disagree),
        ("pretrain_id_past_table", pretrain(Paris=99), disagree),
        ("missing_reduce_bias", drop_tensor("reduce_linear.bias"), "missing constituency tensor: 'reduce_linear.bias'"),
        ("missing_stack_before_output", drop_tensor("output_layers.0.bias", "constituent_stack.lstm.weight_hh_l0"),
         "missing constituency tensor: 'constituent_stack.lstm.weight_hh_l0'"),
        ("missing_reverse", drop_tensor("word_lstm.bias_hh_l0_reverse", "transition_stack.lstm.weight_ih_l0"),
         "missing constituency tensor: 'word_lstm.bias_hh_l0_reverse'"),
        ("dummy_width", lambda t, a: t.update({"dummy_embedding.weight": t["dummy_embedding.weight"][:, :-1].clone()}),
         "constituency hidden dimensions disagree"),
        ("reduce_three_dims", lambda t, a: t.update({"reduce_linear.weight": t["reduce_linear.weight"].unsqueeze(0)}),
         "constituency hidden dimensions disagree"),
        # Scores are read one per transition, and Open picks its dummy row by index.
        ("output_rows", lambda t, a: [t.update({name: t[name][:-1].clone()}) for name in
                                      (f"output_layers.{max_output_layer(t)}.weight",
                                       f"output_layers.{max_output_layer(t)}.bias")],
         "constituency output layer has the wrong shape"),
        ("open_index_past_dummies", transition(3, open_index=999),
         "constituency Open index is outside dummy embeddings"),
        ("charlm_without_assets", lambda t, a: t.update({"forward_charlm.char_emb.weight": torch.zeros(3, 2)}),
         "constituency charLM tensors have no assets"),
    ]


def write_refusals(out):
    cases = []
    model, assets = cb.make_model()
    for name, change, message in refusals():
        tensors, changed = cb.variant(model, assets, change)
        cb.write(out / name, model, changed, tensors=tensors)
        cases.append({"name": name, "message": message})

    # Character LMs in the wrong slots.
    model, assets = cb.make_model(charlm=True)
    tensors, changed = cb.variant(model, assets, lambda t, a: a["charlm"].update(
        forward=a["charlm"]["backward"], backward=a["charlm"]["forward"]))
    cb.write(out / "charlm_swapped", model, changed, tensors=tensors)
    cases.append({"name": "charlm_swapped", "message": "character language model tensors do not match its assets"})
    tensors, changed = cb.variant(model, assets, lambda t, a: a["charlm"]["forward"].update(is_forward_lm=False))
    cb.write(out / "forward_reads_backward", model, changed, tensors=tensors)
    cases.append({"name": "forward_reads_backward", "message": "constituency forward charLM has the wrong direction"})
    tensors, changed = cb.variant(model, assets, lambda t, a: a["charlm"]["backward"].update(is_forward_lm=True))
    cb.write(out / "backward_reads_forward", model, changed, tensors=tensors)
    cases.append({"name": "backward_reads_forward", "message": "constituency backward charLM has the wrong direction"})

    cb.write(out / "pos_bundle", model, assets, processor="pos")
    cases.append({"name": "pos_bundle", "message": "expected a constituency bundle, got 'pos'"})
    return cases


def write(out: pathlib.Path) -> None:
    for seed, (name, options) in enumerate(VARIANTS.items()):
        folder = out / "compare" / name
        folder.mkdir(parents=True)
        write_comparison(folder, options, seed)
    write_parse_cases(out / "parse")
    cases = write_refusals(out / "refused")
    (out / "refused.json").write_text(json.dumps(cases, indent=1), encoding="utf-8")
