"""Writes everything the dependency parser's C++ tests read (see write_cpp_test_data.py):

- ``bundles/<variant>``: a seeded bundle per entry of ``VARIANTS``;
- ``expected/<variant>.json``: the sentences and the PyTorch reference's predictions for them,
  with ``scores/<variant>_<i>_{arcs,relations}.bin`` (the reference's log-probabilities of
  sentence i, raw tensors as ``aoti_packages.write_raw_tensor`` writes them);
- ``loading/<case>``: bundles broken as ``LOADING_CASES`` says, and ``loading/cases.json``
  mapping each case to the exact error message (empty when the bundle must load);
- ``bundles/transformer`` and its expectations (lower-case sentences that the test WordPiece
  vocabulary covers), when the package directory holds the compiled test encoder
  ``smoke_encoder.pt2``.
"""

from __future__ import annotations

import json
import pathlib

import torch

from aoti_packages import write_raw_tensor
import charlm_reference
import depparse_bundle
from depparse_bundle import Settings
import depparse_reference
import ud_corpus

VARIANTS = {
    "plain": Settings(),
    "composite": Settings(composite_xpos=True, linearization=False, distance=False, word_lower=True,
                          lemma_lower=False, num_layers=1, seed=3),
    "charlm": Settings(charlm=True, seed=5, batch_size=12),
    "one_sentence_groups": Settings(batch_size=1, seed=7, xpos_ignore=False, distance=False),
}


def w(text, lemma=None, upos=None, xpos=None):
    return {"text": text, "lemma": lemma, "upos": upos, "xpos": xpos}


SENTENCES = [
    [w("dog", "dog", "NOUN", "NN")],
    [w("The", "the", "DET", "DT"), w("dog", "dog", "NOUN", "NN"), w("saw", "see", "VERB", "VBD"),
     w("a", "a", "DET", "DT"), w("big", "big", "ADJ", "JJ"), w("cat", "cat", "NOUN", "NN"), w("?!", "?", "PUNCT", ".")],
    [w("new york", None, "PROPN", None), w("runs", "run", "VERB", "VBZ"), w("!!", None, None, "."),
     w("\uff1f\uff1f", "?", "PUNCT", "_")],
    [w("Zebra", "Zebra", "X", "ZZ"), w("日本", "日本", "PROPN", "NNP|c|s"), w("é", "é", "NOUN", "N|p"),
     w("a", "a", "DET", "D|c|s|extra"), w("the", "the", "DET", "N||"), w("dog", "Dog", None, "NN")],
    [w("cat", "cat", "NOUN", "NN"), w("dog", "dog", "NOUN", "NN")],
    [],
    [w(word, word, tag, "NN") for word, tag in zip("the dog saw a big cat the dog saw a big cat".split(),
                                                   ["DET", "NOUN", "VERB", "DET", "ADJ", "NOUN"] * 2)],
]


def corpus_sentences(path, limit=12, longest=30):
    sentences, current = [], []
    for line in path.read_text(encoding="utf-8").splitlines():
        if not line.strip():
            if current and len(current) <= longest:
                sentences.append(current)
            current = []
            if len(sentences) >= limit:
                break
            continue
        cols = line.split("\t")
        if len(cols) == 10 and cols[0].isdigit():
            current.append(w(cols[1], cols[2], cols[3], cols[4]))
    return sentences


TRANSFORMER_SENTENCES = [
    [w("dog", "dog", "NOUN", "NN")],
    [w("the", "the", "DET", "DT"), w("cat", "cat", "NOUN", "NN"), w("saw", "see", "VERB", "VBD"),
     w("unbreakable", None, "ADJ", "JJ"), w("dog", "dog", "NOUN", "NN")],
    [w("running", "run", "VERB", "VBZ"), w("cats", "cat", "NOUN", "NN"), w("runs", "run", "VERB", "VBZ")],
]


def write_variant(out, name, settings, sentences, package=None):
    network = depparse_bundle.make_network(settings)
    depparse_bundle.write_depparse_bundle(out / "bundles" / name, network, package=package)
    results = []
    for index, words in enumerate(sentences):
        if not words:
            results.append({"words": words, "predictions": []})
            continue
        arcs, relations, predictions = depparse_reference.reference_parse(network, words)
        write_raw_tensor(out / "scores" / f"{name}_{index}_arcs.bin", arcs.float())
        write_raw_tensor(out / "scores" / f"{name}_{index}_relations.bin", relations.float())
        results.append({"words": words, "predictions": [[head, relation] for head, relation in predictions]})
    (out / "expected" / f"{name}.json").write_text(json.dumps(results, ensure_ascii=False, indent=1), encoding="utf-8")


# ---------------------------------------------------------------------------------------------
# Loading cases: (settings, edit of the assets, edit of the tensors, bundle options, message).

ARCH = ("unsupported depparse architecture; the native profile requires word/lemma/POS/pretrain embeddings, one "
        "unidirectional character LSTM, a non-reversed GraphParser HighwayLSTM without recurrent dropout, and "
        "standard deep biaffine heads")


def config_edit(**changes):
    def edit(assets):
        for key, value in changes.items():
            if value is KeyError:
                assets["config"].pop(key, None)
            else:
                assets["config"][key] = value
    return edit


def drop_tensor(name):
    return lambda tensors: tensors.pop(name)


def set_path(path, value):
    def edit(assets):
        target = assets
        for key in path[:-1]:
            target = target[key]
        if value is KeyError:
            target.pop(path[-1])
        else:
            target[path[-1]] = value
    return edit


def composite_keys(keys):
    def edit(assets):
        components = list(assets["vocab"]["xpos"]["_unit2id"].values())
        assets["vocab"]["xpos"]["_unit2id"] = {key: components[i % len(components)] for i, key in enumerate(keys)}
    return edit


def word_id_past_table(assets):
    units = assets["vocab"]["word"]["_unit2id"]
    units[max(units, key=units.get)] = 99


def composite_id_past_table(assets):
    units = assets["vocab"]["xpos"]["_unit2id"]["0"]
    units[max(units, key=units.get)] = 99


def swap_charlm_slots(assets):
    charlm = assets["charlm"]
    charlm["forward"], charlm["backward"] = charlm["backward"], charlm["forward"]


def swap_charlm_tensors(tensors):
    for name in [n for n in tensors if n.startswith("charmodel_forward.") or n.startswith("charmodel_backward.")]:
        tensors.setdefault("swap:" + name, tensors.pop(name))
    for name in [n for n in tensors if n.startswith("swap:")]:
        original = name[len("swap:"):]
        other = (original.replace("charmodel_forward.", "charmodel_backward.") if "forward" in original
                 else original.replace("charmodel_backward.", "charmodel_forward."))
        tensors[other] = tensors.pop(name)


def shrink_rows(name):
    return lambda tensors: tensors.__setitem__(name, tensors[name][:-1].clone())


def complex_tensor(tensors):
    tensors["extra.complex"] = torch.zeros(2, dtype=torch.complex64)


LOADING_CASES = {
    "loads": (Settings(), None, None, {}, ""),
    "wrong_processor": (Settings(), None, None, {"processor": "pos"}, "expected a depparse bundle, got 'pos'"),
    "batch_size_null": (Settings(), config_edit(batch_size=None), None, {}, ""),
    "batch_size_zero": (Settings(), config_edit(batch_size=0), None, {}, ARCH),
    "char_layers_two": (Settings(), config_edit(char_num_layers=2), None, {}, ARCH),
    "char_layers_two_with_charlm": (Settings(charlm=True), config_edit(char_num_layers=2), None, {}, ""),
    "use_upos_missing": (Settings(), config_edit(use_upos=KeyError), None, {}, ""),
    "char_missing": (Settings(), config_edit(char=KeyError), None, {}, ARCH),
    "rec_dropout": (Settings(), config_edit(rec_dropout=0.1), None, {}, ARCH),
    "reversed": (Settings(), config_edit(reversed=True), None, {}, ARCH),
    "fractional_word_dim": (Settings(), config_edit(word_emb_dim=300.5), None, {},
                            "expected JSON integer at assets.config.word_emb_dim"),
    "ufeats_contract": (Settings(), set_path(["runtime_contract", "depparse_ufeats_input"], "separate_emb"), None, {},
                        "unsupported depparse UFeats input contract; released Dorvek 1.14 checkpoints require "
                        "duplicated_pos_emb"),
    "runtime_contract_missing": (Settings(), set_path(["runtime_contract"], KeyError), None, {},
                                 "missing JSON key 'runtime_contract' at assets"),
    "xpos_class": (Settings(), set_path(["vocab", "_key2class", "xpos"], "CompositeVocab"), None, {},
                   "unsupported XPOS vocabulary class: CompositeVocab"),
    "composite_keys_gap": (Settings(composite_xpos=True), composite_keys(["0", "2"]), None, {},
                           "composite XPOS component keys must be contiguous"),
    "composite_keys_ten": (Settings(composite_xpos=True), composite_keys(["0", "1", "10"]), None, {},
                           "composite XPOS component keys must be contiguous"),
    "composite_key_letters": (Settings(composite_xpos=True), composite_keys(["0", "1a"]), None, {},
                              "composite XPOS component keys must be integers"),
    # A key past 64 bits is still a number (as the tagger reads it), just never a position.
    "composite_key_huge": (Settings(composite_xpos=True), composite_keys(["0", "18446744073709551616"]), None, {},
                           "composite XPOS component keys must be contiguous"),
    "composite_keyed": (Settings(composite_xpos=True), set_path(["vocab", "xpos", "keyed"], True), None, {},
                        "keyed composite XPOS vocabularies are unsupported"),
    "feats_comma": (Settings(), set_path(["vocab", "feats", "sep"], ","), None, {},
                    "the native depparse profile requires keyed, pipe-separated morphological features"),
    "feats_unkeyed": (Settings(), set_path(["vocab", "feats", "keyed"], False), None, {},
                      "the native depparse profile requires keyed, pipe-separated morphological features"),
    "charlm_slots_swapped": (Settings(charlm=True), swap_charlm_slots, swap_charlm_tensors, {},
                             "depparse charLM directions disagree with their asset slots"),
    "trans_char_missing": (Settings(), None, drop_tensor("trans_char.weight"), {},
                           "missing depparse tensor: 'trans_char.weight'"),
    "trans_char_missing_with_charlm": (Settings(charlm=True), None, None, {}, ""),
    "distance_tensor_missing": (Settings(), None, drop_tensor("distance.scorer.W_bilin.bias"), {},
                                "missing depparse tensor: 'distance.scorer.W_bilin.bias'"),
    "distance_off_without_tensors": (Settings(distance=False, linearization=False), None, None, {}, ""),
    "ufeats_missing": (Settings(), None, drop_tensor("ufeats_emb.2.weight"), {},
                       "missing depparse tensor: 'ufeats_emb.2.weight'"),
    "third_layer_missing": (Settings(), config_edit(num_layers=3), None, {},
                            "missing depparse tensor: 'parserlstm.lstm.2.lstm.weight_ih_l0'"),
    "word_rows": (Settings(), None, shrink_rows("word_emb.weight"), {},
                  "depparse tensor dimensions disagree with bundled configuration or vocabularies"),
    "deprel_bias": (Settings(), None, shrink_rows("deprel.scorer.W_bilin.bias"), {},
                    "depparse tensor dimensions disagree with bundled configuration or vocabularies"),
    "input_width": (Settings(), config_edit(transformed_dim=6), None, {},
                    "depparse tensor dimensions disagree with bundled configuration or vocabularies"),
    "xpos_rows": (Settings(), None, shrink_rows("xpos_emb.weight"), {},
                  "XPOS embedding dimensions disagree with its vocabulary"),
    "composite_xpos_rows": (Settings(composite_xpos=True), None, shrink_rows("xpos_emb.1.weight"), {},
                            "composite XPOS embedding dimensions disagree with its vocabulary"),
    "char_rows": (Settings(), None, shrink_rows("charmodel.char_emb.weight"), {},
                  "depparse character tensor dimensions disagree with its vocabulary"),
    # Ids index their tables as the vocabularies give them.
    "word_id_past_table": (Settings(), word_id_past_table, None, {},
                           "depparse tensor dimensions disagree with bundled configuration or vocabularies"),
    "composite_id_past_table": (Settings(composite_xpos=True), composite_id_past_table, None, {},
                                "composite XPOS embedding dimensions disagree with its vocabulary"),
    "complex_dtype": (Settings(), None, complex_tensor, {}, "ATen view does not support bundle dtype: complex64"),
}


def write_loading_cases(out):
    messages = {}
    networks = {}
    for name, (settings, edit_assets, edit_tensors, options, message) in LOADING_CASES.items():
        key = repr(settings)
        if key not in networks:
            networks[key] = depparse_bundle.make_network(settings)
        depparse_bundle.write_depparse_bundle(out / "loading" / name, networks[key], edit_assets=edit_assets,
                                              edit_tensors=edit_tensors, **options)
        messages[name] = message
    (out / "loading" / "cases.json").write_text(json.dumps(messages, indent=1), encoding="utf-8")


def write(out: pathlib.Path, packages: pathlib.Path | None) -> None:
    (out / "expected").mkdir(parents=True)
    (out / "scores").mkdir(parents=True)
    sentences = list(SENTENCES)
    corpus = ud_corpus.find_dev_corpus()
    if corpus is not None:
        sentences += corpus_sentences(corpus)
    for name, settings in VARIANTS.items():
        write_variant(out, name, settings, sentences)
    package = packages / "smoke_encoder.pt2" if packages is not None else None
    if package is not None and package.exists():
        write_variant(out, "transformer", Settings(transformer=True, seed=13), TRANSFORMER_SENTENCES,
                      package=package.read_bytes())
    write_loading_cases(out)
