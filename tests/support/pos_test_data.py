"""Writes everything the tagger's C++ tests read (see write_cpp_test_data.py).

- ``highway/``: a bundle holding a two-layer highway BiLSTM stack under "stack", the input rows
  of a few sentences (``input_<i>.bin``) and the PyTorch reference's rows (``output_<i>.bin``);
- ``agreement/<name>/``: tagger bundles of several configurations (``AGREEMENT``), with the
  reference's encoder rows of each non-empty sentence i (``rows_<i>.bin``), and
  ``agreement/expected.json``: the sentences and, per bundle, the reference's tags of each word;
- ``forced/<name>/``: bundles whose heads are forced to given class ids (``FORCED``);
- ``refused/<name>/``: bundles with one fault each (``REFUSED``), named as the C++ test names them;
- ``accepted/<name>/``: unusual bundles that load (``ACCEPTED``);
- ``models/``: a model directory with English "tokenize" and "pos" bundles (package "default");
- ``transformer/``: when the compiled test encoder exists, ``transformer/bundle`` with transformer
  features over it and ``transformer/expected.json`` (sentences and the reference's tags).
"""

from __future__ import annotations

import json
import pathlib

import torch

from aoti_packages import write_raw_tensor
from bundle_writer import write_bundle
from pos_bundle import COMPOSITE, SPECIALS, PosSetup, build_tagger, tagger_tensors, write_pos_bundle
from pos_highway import HighwayStack, stack_tensors
from pos_reference import encoder_rows, reference_tags

HIGHWAY_LENGTHS = [3, 5, 5, 2, 1, 9, 4]

SENTENCES = [
    ["The", "cat", "sat", "on", "the", "mat", "."],
    ["??"],
    ["?!", "!", "\uff01\uff1f", "\u203c\u203c", "a?"],
    ["New York", "new york", "Paris", "PARIS"],
    [],
    ["日本", "é", "QQQ"],
    ["dog"],
    ["a", "big", "red", "dog", "runs", "on", "a", "green", "mat", "with", "the", "cat", "!"],
    ["the", "the", "the"],
    ["cat", "cat", "cat"],
]

AGREEMENT = {
    "character_model": PosSetup(),
    "charlm_composite": PosSetup(charlm=True, charlm_transform_dim=3, composite=True, word_lower=True,
                                 num_layers=1, seed=5),
    "charlm_untransformed": PosSetup(charlm=True, xpos_ignore=False, seed=7),
    "small_batches": PosSetup(batch_size=2, batch_maximum_tokens=7, seed=9),
}

TWO_FEATURES = {"Number": SPECIALS + ["Sing", "Plur"], "Case": SPECIALS + ["Nom", "Acc"]}

FORCED = {
    # UPOS "_" (id 9), plain XPOS id 2 with an ignore list, Case and Number both "no value".
    "no_values": PosSetup(features=TWO_FEATURES, force={"upos": 9, "xpos": [2], "feats": [2, 2]}),
    # UPOS id 0, plain XPOS id 2 without an ignore list, Case=Nom with Number "no value".
    "label_two": PosSetup(features=TWO_FEATURES, xpos_ignore=False,
                          force={"upos": 0, "xpos": [2], "feats": [4, 2]}),
    # Composite XPOS whose middle component is "no value".
    "composite_gap": PosSetup(composite=True, features=TWO_FEATURES,
                              force={"upos": 1, "xpos": [4, 2, 5], "feats": [2, 2]}),
    # Every head scores all labels equally.
    "ties": PosSetup(features=TWO_FEATURES, force={"upos": None, "xpos": [None], "feats": [None, None]}),
    # No feature categories and a composite vocabulary without components.
    "nothing_to_predict": PosSetup(composite=True, components={}, features={}, force={"upos": 4}),
}


def _config(**changes):
    def edit(tensors, assets):
        for key, value in changes.items():
            if value == "<delete>":
                assets["config"].pop(key, None)
            else:
                assets["config"][key] = value
    return edit


def _without(*names):
    def edit(tensors, assets):
        for name in names:
            del tensors[name]
    return edit


def _vocab(path, value):
    """Sets assets[path[0]][path[1]]... = value ("<delete>" removes the key)."""
    def edit(tensors, assets):
        target = assets
        for key in path[:-1]:
            target = target[key]
        if value == "<delete>":
            del target[path[-1]]
        else:
            target[path[-1]] = value
    return edit


def _both(*edits):
    def edit(tensors, assets):
        for e in edits:
            e(tensors, assets)
    return edit


def _swap_charlms(tensors, assets):
    """The backward model in the forward slot and the other way round, assets and tensors alike."""
    charlm = assets["charlm"]
    charlm["forward"], charlm["backward"] = charlm["backward"], charlm["forward"]
    swapped = {}
    for name in list(tensors):
        for mine, other in (("charmodel_forward.", "charmodel_backward."),
                            ("charmodel_backward.", "charmodel_forward.")):
            if name.startswith(mine):
                swapped[other + name[len(mine):]] = tensors.pop(name)
    tensors.update(swapped)


def _word_id_past_table(tensors, assets):
    units = assets["vocab"]["word"]["_unit2id"]
    units[max(units, key=units.get)] = 99


def _shrink(*names):
    def edit(tensors, assets):
        for name in names:
            tensors[name] = tensors[name][:-1].clone()
    return edit


def _extra_word(tensors, assets):
    assets["vocab"]["word"]["_unit2id"]["extra"] = 99


def _unusual_dtype(tensors, assets):
    tensors["unused.counter"] = torch.zeros(2, dtype=torch.uint16)


def _composite_keys(keys):
    def edit(tensors, assets):
        assets["vocab"]["xpos"]["_id2unit"] = {key: SPECIALS + ["a"] for key in keys}
    return edit


CHARLM = PosSetup(charlm=True)
COMPOSITE_SETUP = PosSetup(composite=True)
# name -> (setup, edit, processor)
REFUSED = {
    "depparse_processor": (PosSetup(), None, "depparse"),
    "batch_size_zero": (PosSetup(), _config(batch_size=0), "pos"),
    "batch_size_fraction": (PosSetup(), _config(batch_size=250.5), "pos"),
    "char_absent": (PosSetup(), _config(char="<delete>"), "pos"),
    "pretrain_false": (PosSetup(), _config(pretrain=False), "pos"),
    "char_bidirectional": (PosSetup(), _config(char_bidirectional=True), "pos"),
    "share_hid": (PosSetup(), _config(share_hid=True), "pos"),
    "rec_dropout": (PosSetup(), _config(rec_dropout=0.5), "pos"),
    "char_layers_without_charlm": (PosSetup(), _config(char_num_layers=2), "pos"),
    "char_dropout_without_charlm": (PosSetup(), _config(char_rec_dropout=0.3), "pos"),
    "hidden_dim_absent": (PosSetup(), _config(hidden_dim="<delete>"), "pos"),
    "config_absent": (PosSetup(), _vocab(["config"], "<delete>"), "pos"),
    "xpos_class": (PosSetup(), _vocab(["vocab", "_key2class", "xpos"], "CompositeVocab"), "pos"),
    "keyed_composite": (COMPOSITE_SETUP, _vocab(["vocab", "xpos", "keyed"], True), "pos"),
    "composite_key_letters": (COMPOSITE_SETUP, _composite_keys(["0", "one"]), "pos"),
    "composite_key_digit_letter": (COMPOSITE_SETUP, _composite_keys(["0", "1a"]), "pos"),
    "composite_keys_gap": (COMPOSITE_SETUP, _composite_keys(["0", "2"]), "pos"),
    "composite_keys_no_zero": (COMPOSITE_SETUP, _composite_keys(["1", "2"]), "pos"),
    "composite_key_huge": (COMPOSITE_SETUP, _composite_keys(["0", "18446744073709551616"]), "pos"),
    "feats_comma": (PosSetup(), _vocab(["vocab", "feats", "sep"], ","), "pos"),
    "feats_two_pipes": (PosSetup(), _vocab(["vocab", "feats", "sep"], "||"), "pos"),
    "feats_unkeyed": (PosSetup(), _vocab(["vocab", "feats", "keyed"], False), "pos"),
    "word_lower_null": (PosSetup(), _vocab(["vocab", "word", "lower"], None), "pos"),
    "charlm_swapped": (CHARLM, _swap_charlms, "pos"),
    "unusual_dtype": (PosSetup(), _unusual_dtype, "pos"),
    "upos_emb_missing": (PosSetup(), _without("upos_emb.weight"), "pos"),
    "composite_component_missing": (COMPOSITE_SETUP, _without("xpos_clf.1.W_bilin.weight"), "pos"),
    "layer_gate_missing": (PosSetup(), _without("taggerlstm.gate.1.bias"), "pos"),
    "word_vocab_larger": (PosSetup(), _extra_word, "pos"),
    "word_width": (PosSetup(), _config(word_emb_dim=7), "pos"),
    "input_size": (PosSetup(), _config(transformed_dim=5), "pos"),
    "xpos_classes": (PosSetup(), _vocab(["vocab", "xpos", "_id2unit"], SPECIALS + ["NN"]), "pos"),
    "char_rows": (PosSetup(), _both(_vocab(["vocab", "char", "_unit2id"], {"a": 0})), "pos"),
    "word_id_past_table": (PosSetup(), _word_id_past_table, "pos"),
    "upos_emb_rows": (PosSetup(), _shrink("upos_emb.weight"), "pos"),
    "feature_rows": (PosSetup(), _shrink("ufeats_clf.0.W_bilin.weight", "ufeats_clf.0.W_bilin.bias"), "pos"),
}

# Bundles that load although they look unusual.
ACCEPTED = {
    "charlm_ignores_char_settings": (CHARLM, _config(char_num_layers=2, char_rec_dropout=0.3)),
    "integer_rec_dropout": (PosSetup(), _config(rec_dropout=0)),
    "batch_settings_null": (PosSetup(), _config(batch_size=None, batch_maximum_tokens=None)),
    "composite_eleven_components": (COMPOSITE_SETUP, None),  # built below with keys 0 .. 10
    "extra_tensor": (PosSetup(), lambda tensors, assets: tensors.update({"unused.weight": torch.ones(2)})),
}


def write_highway(out: pathlib.Path) -> None:
    torch.manual_seed(11)
    input_size, hidden, layers = 7, 5, 2
    stack = HighwayStack(input_size, hidden, layers).eval()
    h_init = torch.randn(2 * layers, 1, hidden)
    c_init = torch.randn(2 * layers, 1, hidden)
    write_bundle(out / "bundle", stack_tensors(stack, "stack", h_init, c_init), {"config": {}}, processor="pos")
    with torch.no_grad():
        for i, length in enumerate(HIGHWAY_LENGTHS):
            x = torch.randn(length, input_size)
            write_raw_tensor(out / f"input_{i}.bin", x)
            write_raw_tensor(out / f"output_{i}.bin", stack.run(x.unsqueeze(0), h_init, c_init).squeeze(0))


def write_tagged(out: pathlib.Path, setups: dict) -> None:
    expected = {"sentences": SENTENCES, "tags": {}}
    for name, setup in setups.items():
        tagger, forward, backward, assets = build_tagger(setup)
        write_bundle(out / name, tagger_tensors(tagger, forward, backward), assets, processor="pos")
        for i, words in enumerate(SENTENCES):
            if words:
                write_raw_tensor(out / name / f"rows_{i}.bin", encoder_rows(tagger, forward, backward, assets, words))
        expected["tags"][name] = [[list(tag) for tag in reference_tags(tagger, forward, backward, assets, words)]
                                  for words in SENTENCES]
    (out / "expected.json").write_text(json.dumps(expected, ensure_ascii=False, indent=1), encoding="utf-8")


def _eleven_components(tensors, assets):
    """Composite keys 0 .. 10, written in the order 1, 0, 10, 2 .. 9; scorers for each."""
    keys = ["1", "0", "10"] + [str(k) for k in range(2, 10)]
    assets["vocab"]["xpos"]["_id2unit"] = {key: SPECIALS + [f"c{key}"] for key in keys}
    template_weight = tensors["xpos_clf.0.W_bilin.weight"]
    for name in [n for n in tensors if n.startswith("xpos_clf.")]:
        del tensors[name]
    for k in range(11):
        tensors[f"xpos_clf.{k}.W_bilin.weight"] = torch.zeros(5, *template_weight.shape[1:])
        tensors[f"xpos_clf.{k}.W_bilin.bias"] = torch.zeros(5)


def write_model_dir(out: pathlib.Path) -> None:
    from bundle_writer import write_index
    from tokenizer_bundle import write_tokenizer_bundle

    base = out / "1.14.0" / "en"
    write_tokenizer_bundle(base / "tokenize_default")
    write_pos_bundle(base / "pos_default", PosSetup(charlm=True, charlm_transform_dim=2))
    write_index(out, [{"processor": name, "package": "default", "path": f"{name}_default"}
                      for name in ("tokenize", "pos")])


TRANSFORMER_SENTENCES = [["the", "cat", "running"], ["unbreakable"], ["a", "dog", "runs", "on", "the", "mat"]]


def write_transformer(out: pathlib.Path, package: pathlib.Path) -> None:
    tagger, forward, backward, assets = build_tagger(PosSetup(transformer=True, seed=17))
    write_bundle(out / "bundle", tagger_tensors(tagger), assets, processor="pos",
                 artifacts={"model.pt2": package.read_bytes()})
    expected = {"sentences": TRANSFORMER_SENTENCES,
                "tags": {"bundle": [[list(tag) for tag in reference_tags(tagger, None, None, assets, words)]
                                    for words in TRANSFORMER_SENTENCES]}}
    (out / "expected.json").write_text(json.dumps(expected), encoding="utf-8")


def write(out: pathlib.Path, packages: pathlib.Path | None = None) -> None:
    (out / "highway").mkdir()
    write_highway(out / "highway")
    (out / "agreement").mkdir()
    write_tagged(out / "agreement", AGREEMENT)
    (out / "forced").mkdir()
    write_tagged(out / "forced", FORCED)
    for name, (setup, edit, processor) in REFUSED.items():
        write_pos_bundle(out / "refused" / name, setup, edit=edit, processor=processor)
    for name, (setup, edit) in ACCEPTED.items():
        if name == "composite_eleven_components":
            edit = _eleven_components
        write_pos_bundle(out / "accepted" / name, setup, edit=edit)
    write_model_dir(out / "models")
    package = packages / "smoke_encoder.pt2" if packages is not None else None
    if package is not None and package.exists():
        write_transformer(out / "transformer", package)
