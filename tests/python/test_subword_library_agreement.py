"""The subword tokenizers against the libraries their checkpoints were made with, when those are
installed: the XLM-R unigram tokenizer against sentencepiece on a model its trainer builds from the
dev corpus (the genuine nmt_nfkc character map), and WordPiece against HF tokenizers on a
vocabulary learned from the same text."""

import functools
import random
import unicodedata

import pytest

import subword_sentencepiece as sps
from _velmora import WordPieceTokenizer, XLMRobertaTokenizer

WORD_START = "\u2581"


@functools.cache
def sentencepiece_model():
    spm = pytest.importorskip("sentencepiece")
    if sps.ud_corpus.find_dev_corpus() is None:
        pytest.skip("the trainer needs the English dev treebank, which is not beside the source tree")
    model = sps.train_unigram(sps.probe_words())
    return spm.SentencePieceProcessor(model_proto=model), sps.precompiled_charsmap(model)


def ours(processor, charsmap, pieces=None, scores=None):
    if pieces is None:
        pieces = [processor.id_to_piece(i) for i in range(processor.get_piece_size())]
        scores = [processor.get_score(i) for i in range(processor.get_piece_size())]
    return XLMRobertaTokenizer(pieces, scores, list(charsmap), processor.unk_id(), "<s>", "</s>")


def test_unigram_normalises_as_sentencepiece():
    processor, charsmap = sentencepiece_model()
    probes = sps.probe_words()
    expected = {word: processor.normalize(word) for word in probes}
    # One piece per character of every normalised probe: the ids spell the normalised text.
    characters = sorted({c for text in expected.values() for c in text} - {WORD_START})
    pieces = ["<unk>", "<s>", "</s>", WORD_START] + characters
    tokenizer = ours(processor, charsmap, pieces, [-1.0] * len(pieces))
    wrong = [(word, text) for word, text in expected.items()
             if "".join(pieces[i] for i in tokenizer.tokenize(word)) != text]
    assert len(probes) > 4000
    assert wrong == []


def test_unigram_ids_equal_sentencepiece():
    spm = pytest.importorskip("sentencepiece")
    processor, charsmap = sentencepiece_model()
    tokenizer = ours(processor, charsmap)
    probes = sps.probe_words() + ["한국어", "x한y", "\U0002a6d0\U0002a6d1"]
    assert [word for word in probes if tokenizer.tokenize(word) != processor.encode(word)] == []
    # A model that lacks most characters: runs of unknown characters become one unknown id.
    small = sps.train_unigram(vocab_size=300, character_coverage=0.98)
    small_processor = spm.SentencePieceProcessor(model_proto=small)
    small_tokenizer = ours(small_processor, sps.precompiled_charsmap(small))
    unknown = [word for word in probes if small_processor.unk_id() in small_processor.encode(word)]
    assert len(unknown) > 100
    assert [word for word in probes if small_tokenizer.tokenize(word) != small_processor.encode(word)] == []


# Characters a hostile input mixes: letters, digits, punctuation, dots and ellipses (whose pieces
# sum alike in several orders), white space and line breaks, invisible format characters,
# combining marks, Hangul jamo, full-width forms, emoji, private-use and unassigned points.
HOSTILE = list("abcKXz019-,'\"") + [".", "…"] * 4 + ["\n", "\t", " ", "\u3000", "\u2028", "\ufeff", "\u200b",
    "\u200d", "\u00ad", "\u0301", "\u20dd", "\u1100", "\u1161", "\u11a8", "ｱ", "Ａ", "①", "ﬁ", "👍",
    "\U0001f3fd", "\ue000", "\U000e0001", "\uffff", "한", "字"]


def hostile_strings(count, seed=7):
    rng = random.Random(seed)
    return ["".join(rng.choice(HOSTILE) for _ in range(rng.randint(1, 14))) for _ in range(count)]


def test_unigram_takes_sentencepiece_choice_between_equal_scores_on_hostile_strings():
    processor, charsmap = sentencepiece_model()
    tokenizer = ours(processor, charsmap)
    # Two orders of the same pieces have the same exact sum; which float sum is larger depends
    # on everything summed before, the earlier words included.
    probes = ["ac-\n\ufeff⃝\u200bᆨK.…b"] + hostile_strings(4000)
    assert [word for word in probes if tokenizer.tokenize(word) != processor.encode(word)] == []


def test_wordpiece_equals_hf_tokenizers():
    tokenizers = pytest.importorskip("tokenizers")
    from tokenizers import models, normalizers, pre_tokenizers, trainers

    lines = sps.corpus_lines()
    hf = tokenizers.Tokenizer(models.WordPiece(unk_token="[UNK]", max_input_chars_per_word=100))
    hf.normalizer = normalizers.BertNormalizer(clean_text=True, handle_chinese_chars=True, strip_accents=True,
                                               lowercase=True)
    hf.pre_tokenizer = pre_tokenizers.BertPreTokenizer()
    hf.train_from_iterator(lines, trainers.WordPieceTrainer(vocab_size=2000, special_tokens=[
        "[PAD]", "[UNK]", "[CLS]", "[SEP]"], show_progress=False))
    vocabulary = sorted(hf.get_vocab().items(), key=lambda item: item[1])
    assert [i for _, i in vocabulary] == list(range(len(vocabulary)))
    ours_ = WordPieceTokenizer([token for token, _ in vocabulary], True, True, "[UNK]", "[CLS]", "[SEP]", "##", 100)
    words = [word for line in lines for word in line.split()] + sps.ADVERSARIAL + [chr(c) for c in range(0x21, 0x7F)]
    wrong = []
    for word in words:
        expected = hf.encode(word, add_special_tokens=False).ids
        # A word left empty stands as a hyphen here (every word needs a subword); HF keeps
        # unassigned noncharacters such as U+FFFF, which BERT drops with the other controls.
        if not expected or any(unicodedata.category(c) == "Cn" for c in word):
            continue
        if ours_.encode([word], False).input_ids != expected:
            wrong.append(word)
    assert wrong == []
