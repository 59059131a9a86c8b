"""TransformerEncoder from Python: the three constructor signatures tried in order, word and
id vectors equal to the PyTorch reference of the tiny test encoder, the encoder's own
tokenizer, load failures as TransformerError, and release of the interpreter lock around
encode, tokenize and encode_ids only."""

import pathlib

import pytest
import torch

import transformer_reference as reference
from _velmora import (ByteBPETokenizer, SubwordError, TransformerEncoder, TransformerError, WordPieceEncoding,
                      WordPieceError, XLMRobertaTokenizer)
from aoti_packages import TinyEncoder
from lock_probe import helper_progress, needs_gil  # noqa: F401  (fixture)
from subword_arguments import configurations

MAX_LENGTH = 64
SPLIT = ["the", "cats", "running", "unbreakable", "dog", "xyz"]


@pytest.fixture(scope="session")
def model():
    return TinyEncoder(max_length=MAX_LENGTH)


@pytest.fixture(scope="session")
def encoder(package):
    return TransformerEncoder(package, reference.wordpiece_vocabulary(), model_max_length=MAX_LENGTH)


def assert_rows(rows, expected):
    assert isinstance(rows, list) and all(isinstance(row, list) for row in rows)
    torch.testing.assert_close(torch.tensor(rows).reshape(expected.shape), expected.float(), rtol=1e-4, atol=1e-4)


# The windows over long inputs are checked case by case in the C++ suite; these go through the
# binding's conversions.
@pytest.mark.parametrize("words, max_length, keep_endpoints", [
    (SPLIT, MAX_LENGTH, True),
    ([], MAX_LENGTH, False),
    (SPLIT * 6, 16, False),
])
def test_word_vectors_equal_the_reference(model, package, words, max_length, keep_endpoints):
    encoder = TransformerEncoder(package, reference.wordpiece_vocabulary(), model_max_length=max_length)
    expected = reference.encode(model, words, max_length, keep_endpoints)
    assert_rows(encoder.encode(words, keep_endpoints), expected)


def test_keep_endpoints_defaults_to_false_and_arguments_take_their_names(model, encoder):
    assert encoder.encode(words=("the", "dog")) == encoder.encode(["the", "dog"], keep_endpoints=False)
    assert len(encoder.encode(["the", "dog"], True)) == 4
    for bad in [("the dog",), ([3],), (["the"], 1)]:
        with pytest.raises(TypeError):
            encoder.encode(*bad)


def test_id_vectors_equal_the_reference_and_an_absent_mask_means_all_ones(model, encoder):
    ids, mask = [2, 8, 9, 40, 3, 0, 0], [1, 1, 1, 1, 1, 0, 0]
    assert_rows(encoder.encode_ids(ids, mask), reference.run(model, ids, mask))
    assert_rows(encoder.encode_ids(input_ids=ids), reference.run(model, ids))
    assert encoder.encode_ids(ids) == encoder.encode_ids(ids, [1] * len(ids))
    assert encoder.encode_ids([]) == []
    with pytest.raises(TypeError):
        encoder.encode_ids([2, "x"])


def test_tokenize_uses_the_encoders_own_tokenizer(encoder):
    encoding = encoder.tokenize(SPLIT)
    assert isinstance(encoding, WordPieceEncoding)
    input_ids, word_ids = reference.encode_words(SPLIT)
    assert (encoding.input_ids, encoding.word_ids) == (input_ids, word_ids)
    assert encoding.attention_mask == [1] * len(input_ids)
    bare = encoder.tokenize(words=SPLIT, add_special_tokens=False)
    assert bare.input_ids == input_ids[1:-1] and -1 not in bare.word_ids


def test_model_path_and_runtime_version(package, encoder):
    assert isinstance(encoder.model_path, pathlib.Path)
    assert encoder.model_path == package
    assert TransformerEncoder.runtime_version() == "2.13.0"


def test_wordpiece_signature_applies_its_defaults(package):
    # Lower-casing and the BERT specials by default; 512 as the maximum length.
    defaults = TransformerEncoder(str(package), reference.wordpiece_vocabulary())
    assert defaults.tokenize(["The", "DOG"]).input_ids == reference.encode_words(["the", "dog"])[0]
    cased = TransformerEncoder(package, reference.wordpiece_vocabulary(), False, False)
    assert cased.tokenize(["DOG"]).input_ids == [2, 1, 3]


def test_byte_bpe_signature_needs_add_prefix_space(package):
    arguments, _ = configurations()["bpe"]
    vocabulary, merges = arguments["vocabulary"], arguments["merges"]
    encoder = TransformerEncoder(package, vocabulary, merges, False)
    words = ["Hello", "world"]
    assert encoder.tokenize(words).input_ids == ByteBPETokenizer(vocabulary, merges).encode(words).input_ids
    with pytest.raises(TypeError):
        TransformerEncoder(package, vocabulary, merges)
    keyword = TransformerEncoder(model_path=package, vocabulary=vocabulary, merges=merges, add_prefix_space=True,
                                 unknown_token="<unk>", cls_token="<s>", sep_token="</s>")
    assert keyword.tokenize(words).input_ids == ByteBPETokenizer(vocabulary, merges, add_prefix_space=True).encode(
        words).input_ids


def test_unigram_signature_needs_unknown_id_and_byte_charsmap(package):
    arguments, _ = configurations()["unigram"]
    vocabulary, scores = arguments["vocabulary"], arguments["scores"]
    charsmap, unknown_id = arguments["precompiled_charsmap"], arguments["unknown_id"]
    encoder = TransformerEncoder(package, vocabulary, scores, charsmap, unknown_id)
    words = ["Hello", "ｆｕｌｌ"]
    expected = XLMRobertaTokenizer(vocabulary, scores, charsmap, unknown_id).encode(words)
    assert encoder.tokenize(words).input_ids == expected.input_ids
    for bad_charsmap in ([256], [-1]):
        with pytest.raises(TypeError):
            TransformerEncoder(package, vocabulary, scores, bad_charsmap, unknown_id)
    with pytest.raises(TypeError):
        TransformerEncoder(package, vocabulary, scores, charsmap)


@pytest.mark.parametrize("changes", [{"intra_op_threads": -1}, {"model_max_length": -1}, {"lowercase": 1},
                                     {"model_path": 3}])
def test_arguments_that_match_no_signature_raise_type_error(package, changes):
    arguments = {"model_path": package, "vocabulary": reference.wordpiece_vocabulary(), **changes}
    with pytest.raises(TypeError):
        TransformerEncoder(**arguments)


def test_load_failures_raise_transformer_error(package, tmp_path):
    vocabulary = reference.wordpiece_vocabulary()
    failures = [
        ({"model_path": tmp_path / "absent.pt2"}, "AOTInductor transformer model does not exist: "),
        ({"model_max_length": 4}, "transformer model_max_length must be at least 5"),
        ({"intra_op_threads": torch.get_num_threads() + 1}, "intra_op_threads cannot change"),
    ]
    not_a_package = tmp_path / "garbage.pt2"
    not_a_package.write_bytes(b"not a package")
    failures.append(({"model_path": not_a_package}, "could not load AOTInductor transformer"))
    for changes, message in failures:
        with pytest.raises(TransformerError) as caught:
            TransformerEncoder(**{"model_path": package, "vocabulary": vocabulary, **changes})
        assert str(caught.value).startswith(message)
    TransformerEncoder(package, vocabulary, intra_op_threads=torch.get_num_threads())


def test_tokenizer_failures_raise_the_tokenizers_error(package):
    with pytest.raises(WordPieceError):
        TransformerEncoder(package, ["[CLS]", "[SEP]", "a"])
    arguments, _ = configurations()["bpe"]
    with pytest.raises(SubwordError):
        TransformerEncoder(package, arguments["vocabulary"], arguments["merges"], False, sep_token="</missing>")


@needs_gil
def test_inference_releases_the_interpreter_lock_and_loading_does_not(package, helper_progress):
    vocabulary = reference.wordpiece_vocabulary()
    assert helper_progress(lambda: TransformerEncoder(package, vocabulary, model_max_length=MAX_LENGTH)) == 0
    encoder = TransformerEncoder(package, vocabulary, model_max_length=MAX_LENGTH)
    assert helper_progress(lambda: encoder.model_path) == 0
    assert helper_progress(lambda: encoder.encode(["the", "running", "dog", "unbreakable"] * 100), until_seen=10) > 0
    # Distinct words, so that the tokenizer's word cache cannot make the call instant.
    letters = reference.LETTERS
    words = [letters[i % 26] + letters[i // 26 % 26] + letters[i // 676 % 26] + "ing" for i in range(17_576)]
    assert helper_progress(lambda: encoder.tokenize(words), until_seen=10) > 0
    ids = [2] + [8, 9, 40, 12] * 15 + [3]
    assert helper_progress(lambda: [encoder.encode_ids(ids) for _ in range(5)], until_seen=10) > 0
