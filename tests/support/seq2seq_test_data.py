"""Writes everything the seq2seq, MWT and lemma C++ tests read, once per test run:

- ``bundles/<name>``: seq2seq, MWT and lemma test bundles (seeded weights);
- ``expected/<name>.json``: the PyTorch reference's results for each of them, over edge-case
  words and, when ``shared/data/en_ewt-ud-dev.conllu`` is found above this directory, words of
  the English dev corpus (``corpus.txt`` names it, or says "none");

Run by write_cpp_test_data.py for the suite "seq2seq".
"""

import copy
import json
import string

import torch

import ud_corpus

EDGE_WORDS = ["", "a", "zz", "Jazz", "quiz", "The", "running", "ÉTÉ", "naïve", "x-ray", "don't", "%", "Qq", "abc",
              "Kazakhstan", "mississippi"]
MWT_DICT = {"del": "de el", "don't": "do n't", "a": "x y", "x": ""}
POS_DICT = {"NOUN": {"dogs": "dog", "mice": "mouse", "Empty": "", "void": "", "Nulled": None},
            "_": {"was": "be"}, "*": {"is": "be", "are": "be"}, "VERB": {"ran": "run"}}


def corpus_words(path, limit=300):
    """(form, upos) of the corpus words in order, each distinct pair once."""
    seen, words = set(), []
    for line in path.read_text(encoding="utf-8").splitlines():
        cols = line.split("\t")
        if len(cols) != 10 or not cols[0].isdigit():
            continue
        pair = (cols[1], cols[3])
        if pair not in seen:
            seen.add(pair)
            words.append(pair)
        if len(words) >= limit:
            break
    return words


def units():
    import seq2seq_bundle
    chars = string.ascii_letters + string.digits + ".,'-!?:;\"()/&$@#é"
    return seq2seq_bundle.char_vocab([chars])


# name: (bundle processor, seq2seq options, suppress_unk)
SEQ2SEQ_VARIANTS = {
    "plain": ("lemma", {}, False),
    "copy_pos_edit": ("lemma", {"copy": True, "pos": True, "edit": True, "layers": 2}, False),
    "copy_beam": ("mwt", {"copy": True, "edit": True, "beam_size": 3, "hidden": 12, "flat_vocab": True}, True),
    "copy_float64": ("lemma", {"copy": True, "dtype": torch.float64, "max_dec_len": 5}, False),
}


def write_seq2seq_variants(out, words, tags):
    import seq2seq_bundle
    import seq2seq_reference as ref

    chars = units()
    for name, (processor, options, suppress) in SEQ2SEQ_VARIANTS.items():
        options = dict(options)
        dtype = options.pop("dtype", torch.float32)
        extra = {}
        if processor == "mwt":
            extra = seq2seq_bundle.mwt_assets(MWT_DICT, chars, ensemble_dict=True)
            extra = {"expansion_dict": extra["expansion_dict"]}
            mwt_config = {"dict_only": False, "ensemble_dict": True, "force_exact_pieces": None}
        directory = seq2seq_bundle.write_seq2seq_bundle(
            out / "bundles" / name, chars, processor=processor, dtype=dtype, extra_assets=extra,
            extra_config=mwt_config if processor == "mwt" else None,
            **{k: v for k, v in options.items()})
        assets = json.loads((directory / "assets.json").read_text(encoding="utf-8"))
        shape = {k: options[k] for k in ("hidden", "layers", "pos", "copy", "edit") if k in options}
        net = seq2seq_bundle.seq2seq_network(chars, dtype=dtype, **shape)
        model = ref.Model(net, assets)
        single = [ref.predict(model, w, t, None, suppress) for w, t in zip(words, tags)]
        few = words[:60]
        beam3 = [ref.predict(model, w, t, 3, suppress)[:2] for w, t in zip(few, tags)]
        flipped = [ref.predict(model, w, t, None, not suppress)[:2] for w, t in zip(few, tags)]
        if model.beam_size == 1:
            batched = ref.predict_batched(model, words, tags, suppress)
        else:
            batched = single
        expected = {
            "suppress_unk": suppress, "words": words, "tags": tags,
            "single": [[t, e] for t, e, _ in single],
            "beam3": [list(r) for r in beam3],
            "flipped_suppress": [list(r) for r in flipped],
            "batched": [[t, e] for t, e, _ in batched],
            "near_tie": [min(a[2], b[2]) < 1e-4 for a, b in zip(single, batched)],
        }
        if processor == "mwt":
            expected["expansions"] = [mwt_expand_reference(model, assets["expansion_dict"], w, suppress)
                                      for w in words]
        (out / "expected" / f"{name}.json").write_text(json.dumps(expected, ensure_ascii=False), encoding="utf-8")


def dictionary_answer(expansions, token):
    if token in expansions:
        return expansions[token]
    if token.isupper() and token.lower() in expansions:
        return expansions[token.lower()].upper()
    if len(token) > 1 and token[0].isupper() and token[1:].islower() and token.lower() in expansions:
        value = expansions[token.lower()]
        return value[:1].upper() + value[1:]
    return None


def mwt_expand_reference(model, expansions, token, suppress):
    import seq2seq_reference as ref
    hit = dictionary_answer(expansions, token)
    if hit is not None:
        return hit
    return ref.clean_expansion(token, ref.predict(model, token, None, None, suppress)[0])


def write_classifier(out, words):
    import seq2seq_bundle
    import seq2seq_reference as ref

    chars = units()
    for name, layers in (("classifier", 1), ("classifier_two_layers", 2)):
        seq2seq_bundle.write_classifier_bundle(out / "bundles" / name, chars, MWT_DICT, layers=layers)
        net = seq2seq_bundle.classifier_network(chars, layers=layers)
        unit2id = {u: k for k, u in enumerate(chars)}
        expected = {"words": words, "expansions": [ref.classify_pieces(net, unit2id, w) for w in words]}
        (out / "expected" / f"{name}.json").write_text(json.dumps(expected, ensure_ascii=False), encoding="utf-8")


def write_lemmatizer(out, words, tags):
    import seq2seq_bundle
    import seq2seq_reference as ref

    chars = units()
    options = {"copy": True, "pos": True, "edit": True, "layers": 2}
    extra = {"pos_dict": POS_DICT}
    config = {"ensemble_dict": True, "dict_only": False}
    directory = seq2seq_bundle.write_seq2seq_bundle(out / "bundles" / "lemma_ensemble", chars, processor="lemma",
                                                    extra_assets=extra, extra_config=config, **options)
    assets = json.loads((directory / "assets.json").read_text(encoding="utf-8"))
    net = seq2seq_bundle.seq2seq_network(chars, hidden=10, layers=2, pos=True, copy=True, edit=True)
    model = ref.Model(net, assets)
    pairs = list(zip(words, tags)) + [("dogs", "NOUN"), ("Empty", "NOUN"), ("Nulled", "NOUN"), ("was", None),
                                      ("is", "VERB"), ("ran", "VERB"), ("ran", "NOUN"), ("ZZZ", None)]
    lemmas = [ref.lemma_of(assets, model, w, t) for w, t in pairs]
    batched = ref.predict_batched(model, [w for w, _ in pairs], [t or "_" for _, t in pairs])
    singles = [ref.predict(model, w, t or "_") for w, t in pairs]
    expected = {"words": [w for w, _ in pairs], "tags": [t for _, t in pairs], "lemmas": lemmas,
                "near_tie": [min(a[2], b[2]) < 1e-4 for a, b in zip(singles, batched)]}
    (out / "expected" / "lemma_ensemble.json").write_text(json.dumps(expected, ensure_ascii=False), encoding="utf-8")


def write_load_variants(out):
    """Bundles that differ from a small valid one in one respect each (see LOAD_VARIANTS)."""
    import bundle_writer
    import seq2seq_bundle

    chars = units()
    for name, variant in LOAD_VARIANTS.items():
        options = variant.get("options", {})
        shape = {k: options[k] for k in ("hidden", "layers", "pos", "copy", "edit") if k in options}
        if variant.get("classifier"):
            net = seq2seq_bundle.classifier_network(chars, layers=options.get("layers", 1))
            assets = seq2seq_bundle.mwt_assets(MWT_DICT, chars, force_exact_pieces=True,
                                               num_layers=options.get("layers", 1))
        else:
            net = seq2seq_bundle.seq2seq_network(chars, **shape)
            assets = seq2seq_bundle.seq2seq_assets(chars, flat_vocab=True, **options)
            mwt = seq2seq_bundle.mwt_assets(MWT_DICT, chars)
            assets["config"].update({"dict_only": False, "ensemble_dict": False})
            assets["expansion_dict"] = mwt["expansion_dict"]
            assets["pos_dict"] = POS_DICT
            if options.get("pos"):
                assets["vocab"]["pos"] = seq2seq_bundle.vocab_object(seq2seq_bundle.SPECIALS + seq2seq_bundle.UPOS)
        tensors = seq2seq_bundle.tensors_of(net)
        assets = copy.deepcopy(assets)  # the edits must not reach the shared lists
        variant.get("edit", lambda a: None)(assets)
        for drop in variant.get("drop", []):
            tensors.pop(drop)
        tensors.update(variant.get("extra", {}))
        for shrunk in variant.get("shrink", []):
            tensors[shrunk] = tensors[shrunk][:-1].clone()
        bundle_writer.write_bundle(out / "bundles" / "load" / name, tensors, assets,
                                   processor=variant.get("processor", "lemma"))


def _set(path, value):
    def edit(assets):
        target = assets
        for key in path[:-1]:
            target = target[key]
        if value == "<delete>":
            target.pop(path[-1])
        else:
            target[path[-1]] = value
    return edit


def _both(*edits):
    def edit(assets):
        for e in edits:
            e(assets)
    return edit


LOAD_VARIANTS = {
    "valid": {},
    "pos_processor": {"processor": "pos"},
    "no_vocab_size": {"edit": _set(["config", "vocab_size"], "<delete>")},
    "odd_hidden": {"edit": _set(["config", "hidden_dim"], 7)},
    "zero_beam": {"edit": _set(["config", "beam_size"], 0)},
    "null_beam": {"edit": _set(["config", "beam_size"], None)},
    "capital_soft": {"edit": _set(["config", "attn_type"], "Soft")},
    "no_attn_type": {"edit": _set(["config", "attn_type"], "<delete>")},
    "charlm_true": {"edit": _set(["config", "charlm"], True)},
    "charlm_string": {"edit": _set(["config", "charlm"], "no")},
    "pos_without_dim": {"options": {"pos": True}, "edit": _set(["config", "pos_dim"], "<delete>")},
    "swapped_specials": {"edit": _both(_set(["vocab", "_id2unit", 0], "<UNK>"), _set(["vocab", "_id2unit", 1], "<PAD>"))},
    "null_char_vocab": {"edit": _set(["vocab", "char"], None)},
    "vocab_before_config": {"edit": _both(_set(["vocab", "_id2unit"], ["<PAD>", "<UNK>", "<SOS>"]),
                                          _set(["config", "hidden_dim"], 7))},
    "type_before_attention": {"edit": _both(_set(["config", "vocab_size"], "x"), _set(["config", "attn_type"], "hard"))},
    "copy_without_gate": {"edit": _set(["config", "copy"], True)},
    "two_layers_missing": {"options": {"layers": 2}, "drop": ["encoder.bias_hh_l1_reverse"]},
    "one_layer_extra": {"options": {"layers": 2}, "edit": _set(["config", "num_layers"], 1)},
    "odd_dtype": {"extra": {"unused": torch.zeros(3, dtype=torch.uint16)}},
    "half_extra": {"extra": {"unused": torch.zeros(3, dtype=torch.float16)}},
    "bad_pos_vocab_unused": {"edit": _set(["vocab", "pos"], {"_id2unit": ["<PAD>"], "_unit2id": {}})},
    "unit_id_out_of_range": {"edit": _set(["vocab", "_unit2id", "a"], 1 << 62)},
    "embedding_rows": {"shrink": ["embedding.weight"]},
    "generator_bias": {"shrink": ["dec2vocab.bias"]},
    "pos_embedding_rows": {"options": {"pos": True}, "shrink": ["pos_embedding.weight"]},
    "pos_id_past_table": {"options": {"pos": True}, "edit": _set(["vocab", "pos", "_unit2id", "NOUN"], 99)},
    "mwt_lemma_processor": {"processor": "lemma"},
    "mwt_valid": {"processor": "mwt"},
    "mwt_no_vocab_size": {"processor": "mwt", "edit": _set(["config", "vocab_size"], "<delete>")},
    "mwt_string_dict_only": {"processor": "mwt", "edit": _set(["config", "dict_only"], "yes")},
    "mwt_classifier_half": {"processor": "mwt", "classifier": True,
                            "extra": {"unused": torch.zeros(3, dtype=torch.float16)}},
    "mwt_dict_only_half": {"processor": "mwt", "classifier": True,
                           "edit": _set(["config", "dict_only"], True),
                           "extra": {"unused": torch.zeros(3, dtype=torch.float16)}},
    "mwt_classifier_missing": {"processor": "mwt", "classifier": True, "options": {"layers": 2},
                               "drop": ["encoder.bias_hh_l1_reverse"]},
    "mwt_classifier_unit_id": {"processor": "mwt", "classifier": True, "edit": _set(["vocab", "_unit2id", "a"], 1 << 62)},
    "mwt_classifier_no_layers": {"processor": "mwt", "classifier": True, "edit": _set(["config", "num_layers"], 0)},
    "lemma_string_caseless": {"edit": _set(["caseless"], "yes")},
    "lemma_null_caseless": {"edit": _both(_set(["caseless"], None), _set(["config", "caseless"], True))},
    "lemma_no_pos_dict": {"edit": _set(["pos_dict"], "<delete>")},
    "lemma_dict_only": {"edit": _both(_set(["config", "dict_only"], True), _set(["config", "caseless"], True))},
}


def write(out):
    (out / "bundles").mkdir()
    (out / "expected").mkdir()
    corpus = ud_corpus.find_dev_corpus()
    pairs = [(w, "NOUN") for w in EDGE_WORDS]
    if corpus:
        pairs += corpus_words(corpus)
    words = [w for w, _ in pairs]
    tags = [t for _, t in pairs]
    write_seq2seq_variants(out, words, tags)
    write_classifier(out, words)
    write_lemmatizer(out, words, tags)
    write_load_variants(out)
    (out / "corpus.txt").write_text(str(corpus) if corpus else "none")
