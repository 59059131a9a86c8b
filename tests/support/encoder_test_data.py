"""Writes everything the shared-encoder C++ tests read, once per test run.

charlm/
  <bundle>/                 character LM bundles (forward, backward, float16, bfloat16, and a
                            1024-unit backward one, "wide")
  <bundle>.expected/<i>.bin the reference's features of sentence i (float32)
  sentences.json            the sentences, as lists of words
  refused/<case>/           bundles the model must refuse, one broken thing each
transformer/
  bundle/                   a bundle whose artifact model.pt2 is the tiny test encoder and whose
                            assets hold a WordPiece "transformer" block
  cases.json                word cases: words, model_max_length, keep_endpoints, expected file
  id_cases.json             id cases: ids, mask, expected file
  <case>.bin                the reference's vectors

Run by write_cpp_test_data.py for the suite "encoders", after the test packages are compiled.
"""

import json
import random

import torch


def charlm_sentences():
    handmade = [
        ["abc", "déf"],
        ["", "a"],
        ["a", ""],
        ["xyz", "日本", "😀a", "ßé"],
        ["a b", "c"],
        [],
        ["j"],
        ["abcdefghij" * 3],
    ]
    rng = random.Random(7)
    alphabet = "abcdefghijéß日😀?"
    generated = [
        ["".join(rng.choice(alphabet) for _ in range(rng.randint(0, 6))) for _ in range(rng.randint(0, 7))]
        for _ in range(60)
    ]
    # Equal lengths in one batch keep their input order.
    same_length = [["ab", "c"], ["cd", "e"], ["ef", "g"]]
    return handmade + generated + same_length


def write_charlm(out):
    from charlm_reference import (CharLanguageModel, charlm_assets, charlm_tensors, default_units,
                                  reference_encode, write_charlm_bundle)
    from aoti_packages import write_raw_tensor

    sentences = charlm_sentences()
    (out / "sentences.json").write_text(json.dumps(sentences, ensure_ascii=False), encoding="utf-8")
    forward_model = CharLanguageModel(default_units(with_unknown=True), layers=2, seed=1)
    backward_model = CharLanguageModel(default_units(with_unknown=False), layers=2, seed=2)
    bundles = {
        "forward": (forward_model, True, torch.float32),
        "backward": (backward_model, False, torch.float32),
        "forward_float16": (forward_model, True, torch.float16),
        "backward_bfloat16": (backward_model, False, torch.bfloat16),
    }
    # The usual width of a character LM: its steps split between workers by hidden unit.
    wide_model = CharLanguageModel(default_units(with_unknown=True), embedding=100, hidden=1024, layers=1, seed=3)
    with torch.no_grad():  # weights of the usual scale: with larger ones the recurrence is chaotic
        for parameter in wide_model.charlstm.parameters():
            parameter.mul_(2.0 / 1024 ** 0.5)
    bundles["wide"] = (wide_model, False, torch.float32)
    for name, (model, forward, dtype) in bundles.items():
        write_charlm_bundle(out / name, model, forward, dtype=dtype)
        expected = out / f"{name}.expected"
        expected.mkdir()
        for index, words in enumerate(sentences):
            write_raw_tensor(expected / f"{index}.bin", reference_encode(model, forward, words, dtype).float())

    model = forward_model
    assets = charlm_assets(model, True)
    tensors = charlm_tensors(model)

    def with_config(**changes):
        return charlm_assets(model, True, changes)

    def without(*names):
        return {name: value for name, value in tensors.items() if name not in names}

    def replaced(name, value):
        return {**tensors, name: value}

    vocab_without_start = {key: value for key, value in assets["vocab"]["_unit2id"].items() if key != "\n"}
    refused = {
        "recurrent_dropout": {"assets": with_config(char_rec_dropout=0.1)},
        "no_layers": {"assets": with_config(char_num_layers=0), "tensors": {}},
        "no_hidden_units": {"assets": with_config(char_hidden_dim=0), "tensors": {}},
        "no_start_symbol": {"assets": {**assets, "vocab": {"_unit2id": vocab_without_start}}},
        "embedding_rows": {"tensors": replaced("char_emb.weight", tensors["char_emb.weight"][:-1].clone())},
        "embedding_rank": {"tensors": replaced("char_emb.weight", tensors["char_emb.weight"].reshape(-1).clone())},
        "initial_state_shape": {"tensors": replaced("charlstm_h_init", tensors["charlstm_h_init"][:1].clone())},
        "initial_cell_shape": {"tensors": replaced("charlstm_c_init", tensors["charlstm_c_init"][:, :, :-1].clone())},
        "lstm_weight_shape": {"tensors": replaced("charlstm.lstm.weight_hh_l1",
                                                  tensors["charlstm.lstm.weight_hh_l1"][:, :-1].clone())},
        "lstm_bias_shape": {"tensors": replaced("charlstm.lstm.bias_ih_l0", torch.zeros(1))},
        "missing_tensor": {"tensors": without("charlstm.lstm.bias_hh_l1")},
        "unsupported_dtype": {"tensors": replaced("charlstm_c_init", tensors["charlstm_c_init"].to(torch.uint16))},
        "missing_direction": {"assets": {key: value for key, value in assets.items() if key != "is_forward_lm"}},
        "processor_pos": {"processor": "pos"},
        "processor_trailing_blank": {"processor": "forward_charlm "},
        "processor_capitalised": {"processor": "Forward_charlm"},
    }
    for name, case in refused.items():
        write_charlm_bundle(out / "refused" / name, model, True, processor=case.get("processor"),
                            assets=case.get("assets"), tensors=case.get("tensors"))
    # Loads: no recurrent dropout key, and a bundle named forward whose assets say backward.
    loads = {key: value for key, value in assets.items()}
    loads["config"] = {key: value for key, value in assets["config"].items() if key != "char_rec_dropout"}
    write_charlm_bundle(out / "no_dropout_key", model, True, assets=loads)
    write_charlm_bundle(out / "named_forward_reads_backward", model, True, processor="forward_charlm",
                        assets=charlm_assets(model, False))


def transformer_cases():
    """(name, words, model_max_length, keep_endpoints): the windowing boundaries of the encoder."""
    rng = random.Random(11)
    single = ["the", "cat", "dog", "run", "un"] + [chr(c) for c in range(ord("a"), ord("z") + 1)]

    def words(count):
        return [rng.choice(single) for _ in range(count)]

    split = ["the", "cats", "running", "unbreakable", "dog", "xyz"]
    return [
        ("split_words", split, 64, False),
        ("split_words_with_endpoints", split, 64, True),
        ("no_words", [], 64, False),
        ("no_words_with_endpoints", [], 64, True),
        ("exactly_max_length", words(10), 12, False),
        ("one_past_max_length", words(11), 12, True),
        ("ten_long_windows", words(23), 10, False),
        ("thirty_long_windows", words(40) + split, 30, True),
        ("nine_long_single_run", words(7), 9, False),
        ("split_words_over_windows", split * 6, 16, False),
        ("forty_long_windows", words(150), 40, False),
    ]


ID_CASES = [
    ("ids_all_ones", [2, 8, 9, 40, 3], None),
    ("ids_masked_tail", [2, 8, 9, 40, 3, 0, 0], [1, 1, 1, 1, 1, 0, 0]),
]


def write_transformer(out, aoti_dir):
    from aoti_packages import TinyEncoder, write_raw_tensor
    import transformer_reference
    from bundle_writer import write_bundle

    package = (aoti_dir / "smoke_encoder.pt2").read_bytes()
    write_bundle(out / "bundle", {}, {"transformer": transformer_reference.wordpiece_block()}, processor="pos",
                 artifacts={"model.pt2": package})
    model = TinyEncoder().eval()
    cases = []
    for name, words, max_length, keep_endpoints in transformer_cases():
        write_raw_tensor(out / f"{name}.bin", transformer_reference.encode(model, words, max_length, keep_endpoints))
        cases.append({"name": name, "words": words, "model_max_length": max_length, "keep_endpoints": keep_endpoints})
    (out / "cases.json").write_text(json.dumps(cases), encoding="utf-8")
    id_cases = []
    for name, ids, mask in ID_CASES:
        write_raw_tensor(out / f"{name}.bin", transformer_reference.run(model, ids, mask))
        id_cases.append({"name": name, "ids": ids, "mask": mask or []})
    (out / "id_cases.json").write_text(json.dumps(id_cases), encoding="utf-8")


def write(out, aoti_dir):
    (out / "charlm").mkdir()
    write_charlm(out / "charlm")
    (out / "transformer").mkdir()
    write_transformer(out / "transformer", aoti_dir)
