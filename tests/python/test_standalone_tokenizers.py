"""The subword tokenizers from Python: encodings and text ids equal to the reference, the
constructors' keyword names and defaults, strict argument conversion, native errors as
WordPieceError or SubwordError, the shared WordPieceEncoding value, and release of the
interpreter lock around encoding and tokenizing only."""

import pytest

import subword_reference as ref
from _velmora import (ByteBPETokenizer, SubwordError, WordPieceEncoding, WordPieceError, WordPieceTokenizer,
                      XLMRobertaTokenizer)
from lock_probe import helper_progress, needs_gil  # noqa: F401  (fixture)
from subword_arguments import configurations, sample_sentences, sample_texts
from subword_test_data import EDGE_WORDS

CLASSES = {"wordpiece": WordPieceTokenizer, "bpe": ByteBPETokenizer, "unigram": XLMRobertaTokenizer}
KINDS = list(CLASSES)


def build(kind, **changes):
    arguments, _ = configurations()[kind]
    return CLASSES[kind](**{**arguments, **changes})


def encoding_dict(encoding):
    return {"input_ids": encoding.input_ids, "attention_mask": encoding.attention_mask,
            "word_ids": encoding.word_ids}


@pytest.mark.parametrize("kind", KINDS)
def test_encodings_equal_the_reference(kind):
    tokenizer, reference = build(kind), configurations()[kind][1]
    cases = [(words, index % 3 != 0) for index, words in enumerate(sample_sentences())]
    cases += [(EDGE_WORDS, True), ([], True), ([], False)] + [([word], False) for word in EDGE_WORDS]
    for words, add_special_tokens in cases:
        encoding = tokenizer.encode(words, add_special_tokens)
        assert isinstance(encoding, WordPieceEncoding)
        assert encoding_dict(encoding) == reference.encode(words, add_special_tokens), words


@pytest.mark.parametrize("kind", ["bpe", "unigram"])
def test_text_ids_equal_the_reference(kind):
    tokenizer, reference = build(kind), configurations()[kind][1]
    for text in sample_texts() + EDGE_WORDS:
        assert tokenizer.tokenize(text) == reference.encode_word(text), text
    assert tokenizer.tokenize(text="") == []


# Only the required arguments, by position: the rest take the defaults of the model family
# (WordPiece lower-cases, strips accents and uses the BERT specials; byte BPE the RoBERTa
# specials without a prefix space; XLM-R its own specials).
REQUIRED = {"wordpiece": ["vocabulary"], "bpe": ["vocabulary", "merges"],
            "unigram": ["vocabulary", "scores", "precompiled_charsmap", "unknown_id"]}


@pytest.mark.parametrize("kind", KINDS)
def test_omitted_arguments_take_the_model_familys_defaults(kind):
    arguments, _ = configurations()[kind]
    required = [arguments[name] for name in REQUIRED[kind]]
    reference = {
        "wordpiece": lambda: ref.WordPiece(*required, True, True, "[UNK]", "[CLS]", "[SEP]", "##", 100),
        "bpe": lambda: ref.ByteBPE(*required, "<unk>", "<s>", "</s>", False),
        "unigram": lambda: configurations()["unigram"][1],
    }[kind]()
    words = ["HELLO", "Café", "naïve", "a" * 100, "a" * 101, "don't", "ｆｕｌｌ"]
    assert encoding_dict(CLASSES[kind](*required).encode(words)) == reference.encode(words, True)
    with pytest.raises(TypeError):
        CLASSES[kind](*required[:-1])


@pytest.mark.parametrize("kind", KINDS)
def test_encode_takes_words_and_add_special_tokens_by_keyword(kind):
    tokenizer = build(kind)
    with_specials = tokenizer.encode(words=("the", "dog"))
    assert with_specials.word_ids[0] == -1 and with_specials.word_ids[-1] == -1
    without = tokenizer.encode(["the", "dog"], add_special_tokens=False)
    assert -1 not in without.word_ids
    assert without.input_ids == with_specials.input_ids[1:-1]
    for bad in [("the dog",), ([1],), (["x"], 1)]:
        with pytest.raises(TypeError):
            tokenizer.encode(*bad)


@pytest.mark.parametrize("kind, changes", [
    ("wordpiece", {"lowercase": 0}),
    ("wordpiece", {"max_input_characters_per_word": -1}),
    ("wordpiece", {"vocabulary": "abc"}),
    ("bpe", {"merges": [("a",)]}),
    ("bpe", {"merges": [("a", "b", "c")]}),
    ("bpe", {"add_prefix_space": None}),
    ("unigram", {"precompiled_charsmap": [256]}),
    ("unigram", {"precompiled_charsmap": [-1]}),
    ("unigram", {"scores": ["0.5"]}),
    ("unigram", {"unknown_id": 2**63}),
])
def test_arguments_that_do_not_convert_raise_type_error(kind, changes):
    with pytest.raises(TypeError):
        build(kind, **changes)


@pytest.mark.parametrize("kind, changes, error", [
    ("wordpiece", {"unknown_token": "[MISSING]"}, WordPieceError),
    ("wordpiece", {"cls_token": "[MISSING]"}, WordPieceError),
    ("bpe", {"sep_token": "</missing>"}, SubwordError),
    ("unigram", {"unknown_id": 10**6}, SubwordError),
    ("unigram", {"scores": [0.0]}, SubwordError),
])
def test_invalid_configurations_raise_the_tokenizers_error(kind, changes, error):
    with pytest.raises(error) as caught:
        build(kind, **changes)
    assert isinstance(caught.value, RuntimeError)
    assert str(caught.value)


@pytest.mark.parametrize("kind", KINDS)
def test_sizes_flags_and_the_word_cache_filling(kind):
    assert CLASSES[kind].highway_enabled is True
    tokenizer = build(kind)
    assert tokenizer.vocabulary_size == len(configurations()[kind][0]["vocabulary"])
    assert tokenizer.cache_size == 0
    tokenizer.encode(["the", "dog", "the"])
    assert 1 <= tokenizer.cache_size <= 2


def test_encodings_give_new_lists_on_every_access():
    encoding = build("wordpiece").encode(["the", "dog"])
    ids = encoding.input_ids
    ids.append(-5)
    assert encoding.input_ids == ids[:-1]
    assert encoding.attention_mask == [1] * len(encoding.input_ids)
    assert encoding.word_ids is not encoding.word_ids


@needs_gil
@pytest.mark.parametrize("kind", KINDS)
def test_encoding_and_tokenizing_release_the_interpreter_lock_and_nothing_else(kind, helper_progress):
    arguments, _ = configurations()[kind]
    big = {**arguments, "vocabulary": arguments["vocabulary"] + [f"extra{i}" for i in range(200_000)]}
    if kind == "unigram":
        big["scores"] = arguments["scores"] + [-30.0] * 200_000
    assert helper_progress(lambda: CLASSES[kind](**big)) == 0
    tokenizer = build(kind)
    words = [f"{word}{index}" for index in range(4000) for word in ("lorem", "ipsum", "dolor")]
    assert helper_progress(lambda: tokenizer.cache_size) == 0
    assert helper_progress(lambda: tokenizer.encode(words), until_seen=10) > 0
    if kind != "wordpiece":
        assert helper_progress(lambda: tokenizer.tokenize(" ".join(words)), until_seen=10) > 0


def test_a_number_list_that_an_items_conversion_empties_is_read_whole():
    arguments, _ = configurations()["unigram"]

    class EmptiesItsList:
        def __init__(self, holder, value):
            self.holder, self.value = holder, value

        def __float__(self):
            self.holder.clear()
            return self.value

        def __index__(self):
            self.holder.clear()
            return self.value

    expected = XLMRobertaTokenizer(**arguments).tokenize("unbreakable cats")
    for _ in range(20):  # freed memory is soon reused: repeating makes a dangling read show
        scores = list(arguments["scores"])
        scores[0] = EmptiesItsList(scores, scores[0])
        charsmap = list(arguments["precompiled_charsmap"])
        charsmap[0] = EmptiesItsList(charsmap, charsmap[0])
        tokenizer = XLMRobertaTokenizer(**{**arguments, "scores": scores, "precompiled_charsmap": charsmap})
        assert tokenizer.tokenize("unbreakable cats") == expected
