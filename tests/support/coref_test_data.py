"""Writes everything the coreference C++ tests read, once per test run.

<bundle>/        coref bundles over the tiny test encoder's compiled package
cases.json       resolve cases: bundle, words, sentence_ids, speakers and the reference's prediction
refused/<case>/  bundles the model must refuse (or, under loads/, accept), one change each

Run by write_cpp_test_data.py for the suite "coref", after the test packages are compiled.
"""

import json
import random
import re

import torch

import ud_corpus

# Words the WordPiece vocabulary splits into one or more pieces, and words of the bundle's own table.
VOCABULARY_WORDS = ["the", "cat", "dog", "run", "running", "un", "unbreakable", "cats", "a", "b", "x", "zebra", "Dog"]
WORD_TABLE = {"zebra": [37, 38, 12], "Dog": [6], "the": [4]}
# Words the tokenizer splits at punctuation, for when the English treebank is absent.
PUNCTUATED = [["Jennifer", "M.", "Anderson", "'s", "e-mail", ":", "j.m.a@x.com", "(", "U.S.", ")", "."],
              ["She", "did", "n't", "--", "$", "5", ",", "\"", "no", "!", "\"", "..."]]
# How many treebank documents of three punctuation-heavy sentences the cases hold.
TREEBANK_DOCUMENTS = 15


def punctuated_sentences():
    """Treebank sentences of at most 30 words where a word mixes letters with punctuation and at
    least three words hold punctuation; the hand-written ones when the treebank is absent."""
    corpus = ud_corpus.find_dev_corpus()
    if corpus is None:
        return PUNCTUATED
    picked = []
    for sentence in ud_corpus.parse(corpus.read_text(encoding="utf-8")):
        words = [token["form"] for token in sentence if isinstance(token["id"], int)]
        punctuated = [word for word in words if re.search(r"[^\w\s]", word)]
        if len(words) <= 30 and len(punctuated) >= 3 and any(re.search(r"[A-Za-z]", word) for word in punctuated):
            picked.append(words)
        if len(picked) == 3 * TREEBANK_DOCUMENTS:
            break
    return picked


def references():
    from coref_reference import CorefNetwork, CorefReference

    return {
        "plain": CorefReference(CorefNetwork(hidden_layers=1, rough_k=5, seed=3), window=10, batch_size=4,
                                word_table=WORD_TABLE),
        "full": CorefReference(CorefNetwork(hidden_layers=2, rough_k=3, singletons=True, full_pairwise=True,
                                            link_bias=-4.0, seed=5),
                               window=64, batch_size=1, use_zeros=True, special_ids=(-1, -1, 0, 3),
                               word_table=WORD_TABLE),
        "no_hidden": CorefReference(CorefNetwork(hidden_layers=0, rough_k=50, link_bias=-3.0, seed=8), window=7,
                                    batch_size=100, word_table=WORD_TABLE),
    }


def documents():
    """(sentences, speakers per sentence or None)."""
    rng = random.Random(21)
    docs = [
        ([["dog"]], None),
        ([["the", "cat"], ["a", "dog", "run"]], ["ann", "bob"]),
        ([[rng.choice(VOCABULARY_WORDS) for _ in range(70)]], None),
        ([["unbreakable", "running", "zebra", "cats"]] * 3, ["ann", "ann", "bob"]),
    ]
    for _ in range(8):
        sentences = [[rng.choice(VOCABULARY_WORDS) for _ in range(rng.randint(1, 9))] for _ in range(rng.randint(2, 5))]
        speakers = [rng.choice(["ann", "bob"]) for _ in sentences] if rng.random() < 0.5 else None
        docs.append((sentences, speakers))
    text = punctuated_sentences()
    for start in range(0, len(text), 3):
        sentences = text[start:start + 3]
        docs.append((sentences, ["ann", "bob", "ann"][:len(sentences)] if start % 2 else None))
    return docs


def write_cases(out, refs):
    from coref_reference import document_words

    cases = []
    for name, ref in refs.items():
        for sentences, speakers in documents():
            words, ids = document_words(sentences)
            word_speakers = [speakers[i] for i in ids] if speakers else []
            cases.append({"bundle": name, "words": words, "sentence_ids": ids, "speakers": word_speakers,
                          "expected": ref.resolve(words, ids, word_speakers)})
    (out / "cases.json").write_text(json.dumps(cases), encoding="utf-8")


def write_load_cases(out, ref, package):
    tensors = ref.tensors()
    assets = ref.assets()

    def replaced(name, value):
        return {**tensors, name: value}

    def without(*names):
        return {key: value for key, value in tensors.items() if key not in names}

    config_without_rough_k = {key: value for key, value in assets["config"].items() if key != "rough_k"}
    hidden = tensors["rough_scorer.bilinear.weight"].shape[0]
    zero_width = tensors["zeros_predictor.2.weight"].shape[1]
    score_width = tensors["a_scorer.out.weight"].shape[1]
    refused = {
        "processor_capitalised": {"processor": "Coref"},
        "processor_longer": {"processor": "coref2"},
        "window_four": {"assets": ref.assets(bert_window_size=4)},
        "negative_hidden_layers": {"assets": ref.assets(n_hidden_layers=-1)},
        "zero_rough_k": {"assets": ref.assets(rough_k=0)},
        "int32_tensor": {"tensors": {**tensors, "unused.counts": torch.zeros(3, dtype=torch.int32)}},
        "uint8_tensor": {"tensors": {**tensors, "unused.mask": torch.zeros(3, dtype=torch.uint8)}},
        "flag_as_number": {"assets": ref.assets(singletons=1)},
        "missing_rough_k": {"assets": {**assets, "config": config_without_rough_k}},
        "hidden_size_eight": {"assets": ref.assets(hidden_size=8)},
        "bilinear_three_dims": {"tensors": replaced("rough_scorer.bilinear.weight",
                                                    tensors["rough_scorer.bilinear.weight"].unsqueeze(2).clone())},
        "bilinear_one_dim": {"tensors": replaced("rough_scorer.bilinear.weight", torch.zeros(hidden))},
        "distance_ten_rows": {"tensors": replaced("pw.distance_emb.weight",
                                                  torch.cat([tensors["pw.distance_emb.weight"]] * 2)[:10].clone())},
        "attention_one_dim": {"tensors": replaced("we.attn.weight", tensors["we.attn.weight"].reshape(-1).clone())},
        "missing_before_shape": {"tensors": {**without("sp.emb.weight", "zeros_predictor.2.bias"),
                                             "rough_scorer.bilinear.weight": torch.zeros(hidden, hidden, 1)}},
        "missing_hidden_layer": {"tensors": without("a_scorer.hidden.0.bias")},
        "span_conv_five_wide": {"tensors": replaced("sp.conv.1.weight", torch.zeros(2, 6, 5))},
        "span_conv_three_channels": {"tensors": replaced("sp.conv.1.weight", torch.zeros(3, 6, 3))},
        "zero_predictor_no_rows": {"tensors": {**tensors, "zeros_predictor.2.weight": torch.zeros(0, zero_width),
                                               "zeros_predictor.2.bias": torch.zeros(0)}},
        "anaphoricity_two_outputs": {"tensors": {**tensors, "a_scorer.out.weight": torch.zeros(2, score_width),
                                                 "a_scorer.out.bias": torch.zeros(2)}},
        "span_positions_short": {"tensors": replaced("sp.emb.weight", tensors["sp.emb.weight"][:100].clone())},
        "table_holds_string": {"assets": {**assets, "runtime_contract": {"tokenizer_map_ids": {"cat": [5, "x"]}}}},
        "table_entry_not_array": {"assets": {**assets, "runtime_contract": {"tokenizer_map_ids": {"cat": 5}}}},
        "missing_eos_id": {"assets": json.loads(json.dumps(assets).replace('"eos_id"', '"eos"'))},
    }
    for name, case in refused.items():
        ref.write(out / "refused" / name, package, assets=case.get("assets"), tensors=case.get("tensors"),
                  processor=case.get("processor", "coref"))
    loads = {
        "window_five": {"assets": ref.assets(bert_window_size=5)},
        "flags_null": {"assets": ref.assets(singletons=None, full_pairwise=None, use_zeros=None)},
        "flags_absent": {"assets": {**assets, "config": {key: value for key, value in assets["config"].items()
                                                         if key not in ("singletons", "full_pairwise", "use_zeros")}}},
        "float64_extra_tensor": {"tensors": {**tensors, "unused.double": torch.zeros(2, dtype=torch.float64)}},
        "start_map_without_singletons": {"tensors": {**tensors, "a_scorer.start_map.weight": torch.zeros(1, 5)}},
        "blank_table_word": {"assets": {**assets, "runtime_contract": {"tokenizer_map_ids": {"cat": [], "dog": [6]}}}},
    }
    for name, case in loads.items():
        ref.write(out / "loads" / name, package, assets=case.get("assets"), tensors=case.get("tensors"))


def write(out, aoti_dir):
    package = (aoti_dir / "smoke_encoder.pt2").read_bytes()
    refs = references()
    for name, ref in refs.items():
        ref.write(out / name, package)
    write_cases(out, refs)
    write_load_cases(out, refs["plain"], package)
