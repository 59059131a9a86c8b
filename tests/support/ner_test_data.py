"""Writes everything the named-entity tagger's C++ tests read, once per test run:

- ``variants/<name>``: NER bundles of several configurations (seeded weights);
- ``expected/<name>.json``: the sentences and the PyTorch reference's tags for each variant, and
  ``expected/<name>/<i>.bin`` the reference's tagger BiLSTM rows of sentence i;
- ``refused/<case>``: bundles the loader must refuse, and ``refused.json``: case -> message;
- ``loads/<case>``: unusual bundles the loader must accept.

Run by write_cpp_test_data.py for the suite "ner", after the test packages are compiled.
"""

import copy
import json
import random

import torch

SENTENCES = [
    ["Obama", "visited", "New York", "in", "2009", "."],
    ["Paris"],
    ["the", "ACME", "école", "Zürich", "日本", "said", "BERLIN"],
    ["new york", "NEW YORK", "of", "a", "Of"],
    ["x"],
]
ASCII_SENTENCES = [
    ["Obama", "visited", "Paris"],
    ["the"],
    ["running", "dog", "unbreakable", "cat", "xyz", "the"],
]


def random_sentences(seed, count, alphabet):
    from ner_bundle import WORDS
    rng = random.Random(seed)
    pool = WORDS + ["Obama", "Paris", "Zürich", "THE"]
    sentences = []
    for _ in range(count):
        length = rng.randint(1, 20)
        sentences.append([rng.choice(pool) if rng.random() < 0.5 else
                          "".join(rng.choice(alphabet) for _ in range(rng.randint(1, 8))) for _ in range(length)])
    return sentences


def variants():
    from ner_bundle import NERSettings
    return {
        # name: (settings, uses the transformer)
        "char_lstm": (NERSettings(tag_sets=2, predict_tagset=1), False),
        "chained_transform": (NERSettings(tag_sets=3, predict_tagset=2, connect_output_layers=True,
                                          input_transform=True, num_layers=2, char_num_layers=2, lowercase=False,
                                          word_vocab_lower=True, char_lowercase=True), False),
        "unchained_third_set": (NERSettings(tag_sets=3, predict_tagset=2, lowercase=True, delta_vocab_lower=True),
                                False),
        "charlm": (NERSettings(charlm=True, char_lowercase=True, tag_sets=2, predict_tagset=0,
                               connect_output_layers=True), False),
        "float64": (NERSettings(dtype=torch.float64, num_layers=2), False),
        "transformer": (NERSettings(transformer_hidden=16, tag_sets=2, predict_tagset=1), True),
    }


def write_variants(out, aoti_dir):
    from aoti_packages import TinyEncoder, write_raw_tensor
    from ner_bundle import NERTestModel, ner_assets, write_ner_bundle
    import ner_reference
    import transformer_reference

    encoder = TinyEncoder().eval()
    for index, (name, (settings, uses_transformer)) in enumerate(variants().items()):
        model = NERTestModel(settings, seed=10 + index).eval()
        if uses_transformer:
            package = (aoti_dir / "smoke_encoder.pt2").read_bytes()
            write_ner_bundle(out / "variants" / name, model, artifacts={"model.pt2": package},
                             assets=ner_assets(model, transformer_block=transformer_reference.wordpiece_block()))
            sentences = ASCII_SENTENCES + random_sentences(5, 6, "abcdefghijklmnopqrstuvwxyz")
            sentences = [[word for word in sentence if word.isascii() and word.isalpha()] or ["a"]
                         for sentence in sentences]
        else:
            write_ner_bundle(out / "variants" / name, model)
            sentences = SENTENCES + random_sentences(index, 12, "abcdeéüXYZ .-日")
        rows = out / "expected" / name
        rows.mkdir(parents=True)
        tags = []
        for position, sentence in enumerate(sentences):
            reference_encoder = encoder if uses_transformer else None
            tags.append(ner_reference.tag(model, sentence, reference_encoder))
            write_raw_tensor(rows / f"{position}.bin",
                             ner_reference.tagger_rows(model, sentence, reference_encoder).float())
        (out / "expected" / f"{name}.json").write_text(
            json.dumps({"sentences": sentences, "tags": tags}, ensure_ascii=False), encoding="utf-8")


ARCHITECTURE = ("unsupported NER architecture; the native profile requires static and delta word embeddings, a "
                "bidirectional character LSTM without recurrent dropout, and a standard bidirectional tagger LSTM")


def write_refused_and_loads(out):
    from ner_bundle import NERSettings, NERTestModel, ner_assets, write_ner_bundle

    two_sets = NERTestModel(NERSettings(tag_sets=2))
    assets = ner_assets(two_sets)
    tensors = two_sets.bundle_tensors()

    def edited(change):
        edited_assets = copy.deepcopy(assets)
        change(edited_assets)
        return edited_assets

    def config(**changes):
        return edited(lambda a: a["config"].update(changes))

    def without_config(key):
        return edited(lambda a: a["config"].pop(key))

    def tag_columns(columns):
        return edited(lambda a: a["vocab"]["tag"].update(_id2unit=columns))

    def replaced(name, value):
        return {**tensors, name: value}

    tags0, tags1 = two_sets.tag_vocab
    charlm_model = NERTestModel(NERSettings(charlm=True))
    swapped = ner_assets(charlm_model)
    swapped["charlm"]["forward"]["is_forward_lm"] = False
    layout = edited(lambda a: a["vocab"]["_key2class"].update(word="WordVocab"))
    missing_bias = "charmodel.charlstm.lstm.bias_hh_l0_reverse"
    refused = {
        "processor_pos": ({"processor": "pos"}, "expected an NER bundle, got 'pos'"),
        "char_false": ({"assets": config(char=False)}, ARCHITECTURE),
        "char_missing": ({"assets": without_config("char")}, ARCHITECTURE),
        "hidden_dim_missing": ({"assets": without_config("hidden_dim")}, ARCHITECTURE),
        "recurrent_dropout": ({"assets": config(char_rec_dropout=0.1)}, ARCHITECTURE),
        "scheme_upper_case": ({"assets": config(scheme="BIOES")}, "the native NER profile requires BIOES tags"),
        "scheme_bio": ({"assets": config(scheme="bio")}, "the native NER profile requires BIOES tags"),
        "word_vocabulary_class": ({"assets": layout}, "unsupported NER vocabulary layout"),
        "column_not_numeric": ({"assets": tag_columns({"a": tags0})},
                               "NER tag vocabulary column is not numeric: 'a'"),
        "column_gap": ({"assets": tag_columns({"0": tags0, "2": tags1})},
                       "NER tag vocabulary columns are not contiguous"),
        "column_hex": ({"assets": tag_columns({"0": tags0, "0x1": tags1})},
                       "NER tag vocabulary columns are not contiguous"),
        "column_repeated": ({"assets": tag_columns({"01": tags0, "1": tags1})},
                            "NER tag vocabulary columns are not contiguous"),
        "no_columns": ({"assets": tag_columns({})}, "NER predict_tagset is out of range"),
        "predict_tagset_too_high": ({"assets": config(predict_tagset=2)}, "NER predict_tagset is out of range"),
        "charlm_slots_swapped": ({"assets": swapped, "tensors": charlm_model.bundle_tensors()},
                                 "NER charLM directions disagree with their asset slots"),
        "unused_uint16_tensor": ({"tensors": {**tensors, "unused": torch.zeros(3, dtype=torch.uint16)}},
                                 "ATen view does not support bundle dtype: uint16"),
        "missing_char_bias": ({"tensors": {k: v for k, v in tensors.items() if k != missing_bias}},
                              f"missing NER tensor: '{missing_bias}'"),
        "missing_transitions": ({"tensors": {k: v for k, v in tensors.items() if k != "crits.1._transitions"}},
                                "missing NER tensor: 'crits.1._transitions'"),
        "word_embedding_extra_row": ({"tensors": replaced("word_emb.weight", torch.zeros(17, 6))},
                                     "NER embedding dimensions disagree with bundled vocabularies"),
        "word_embedding_rank_one": ({"tensors": replaced("word_emb.weight", torch.zeros(16))},
                                    "NER embedding dimensions disagree with bundled vocabularies"),
        "word_id_past_table": ({"assets": edited(lambda a: a["vocab"]["word"]["_unit2id"].update(
                                    {max(a["vocab"]["word"]["_unit2id"], key=a["vocab"]["word"]["_unit2id"].get): 99}))},
                               "NER embedding dimensions disagree with bundled vocabularies"),
        "char_embedding_width": ({"tensors": replaced("charmodel.char_emb.weight", torch.zeros(64, 4))},
                                 "NER character embedding dimensions disagree with its vocabulary"),
        "tagger_input_width": ({"tensors": replaced("taggerlstm.lstm.weight_ih_l0", torch.zeros(28, 13))},
                               "NER tagger input size disagrees with its embedding profile"),
        "transitions_not_square": ({"tensors": replaced("crits.1._transitions", torch.zeros(9, 13))},
                                   "NER classifier dimensions disagree with tag vocabulary"),
        "tagger_bias_one_element": ({"tensors": replaced("taggerlstm.lstm.bias_ih_l0", torch.zeros(1))},
                                    "NER LSTM tensors disagree with their configured sizes"),
        "char_initial_state_shape": ({"tensors": replaced("charmodel.charlstm_h_init", torch.zeros(1, 1, 4))},
                                     "NER LSTM tensors disagree with their configured sizes"),
        "classifier_input_width": ({"tensors": replaced("tag_clfs.0.weight", torch.zeros(13, 15))},
                                   "NER classifier input width disagrees with the tagger output"),
        "integer_as_string": ({"assets": config(word_emb_dim="6")},
                              "expected JSON integer at assets.config.word_emb_dim"),
        "vocab_missing": ({"assets": edited(lambda a: a.pop("vocab"))}, "missing JSON key 'vocab' at assets"),
    }
    messages = {}
    for name, (case, message) in refused.items():
        write_ner_bundle(out / "refused" / name, two_sets, assets=case.get("assets", assets),
                         tensors=case.get("tensors", tensors), processor=case.get("processor", "ner"))
        messages[name] = message
    (out / "refused.json").write_text(json.dumps(messages), encoding="utf-8")

    one_set = NERTestModel(NERSettings())
    one_assets = ner_assets(one_set)
    four_tags = NERTestModel(NERSettings())
    four_tags.tag_vocab = [four_tags.tag_vocab[0][:4]]
    four_tensors = four_tags.bundle_tensors()
    four_tensors["tag_clfs.0.weight"] = four_tensors["tag_clfs.0.weight"][:4].clone()
    four_tensors["tag_clfs.0.bias"] = four_tensors["tag_clfs.0.bias"][:4].clone()
    four_tensors["crits.0._transitions"] = four_tensors["crits.0._transitions"][:4, :4].clone()

    def one_config(**changes):
        changed = copy.deepcopy(one_assets)
        changed["config"].update(changes)
        return changed

    zero_padded = copy.deepcopy(one_assets)
    zero_padded["vocab"]["tag"]["_id2unit"] = {"00": one_set.tag_vocab[0]}
    no_scheme = copy.deepcopy(one_assets)
    del no_scheme["config"]["scheme"]
    loads = {
        "column_key_zero_padded": (one_set, zero_padded, None),
        "recurrent_dropout_float_zero": (one_set, one_config(char_rec_dropout=0.0), None),
        "recurrent_dropout_null": (one_set, one_config(char_rec_dropout=None), None),
        "no_scheme": (one_set, no_scheme, None),
        "four_tags": (four_tags, ner_assets(four_tags), four_tensors),
    }
    for name, (model, case_assets, case_tensors) in loads.items():
        write_ner_bundle(out / "loads" / name, model, assets=case_assets, tensors=case_tensors)


def write(out, aoti_dir):
    write_variants(out, aoti_dir)
    write_refused_and_loads(out)
