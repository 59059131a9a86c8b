"""A real unigram model from the ``sentencepiece`` trainer, for comparing the XLM-R tokenizer
with the library its checkpoints were made with: the trainer embeds the genuine precompiled
character map (rule set nmt_nfkc) in the model, which is read back here without protobuf.
Also the probe words: dev-corpus words plus adversarial variants (stacked marks, full-width
forms, decomposed letters, Hangul, emoji, unassigned and private-use characters)."""

import io
import unicodedata

import ud_corpus

FALLBACK_LINES = ["The quick brown fox jumps over the lazy dog.", "Prices: $5, 10% off; e-mail me@example.com!"]


def corpus_lines() -> list[str]:
    path = ud_corpus.find_dev_corpus()
    if path is None:
        return FALLBACK_LINES * 50
    prefix = "# text = "
    return [line[len(prefix):].rstrip("\n") for line in path.open(encoding="utf-8") if line.startswith(prefix)]


def _varint(data: bytes, at: int) -> tuple[int, int]:
    value, shift = 0, 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, at


def _fields(data: bytes):
    """(field number, value) of a protobuf message; length-delimited values as bytes."""
    at = 0
    while at < len(data):
        key, at = _varint(data, at)
        kind = key & 7
        if kind == 0:
            value, at = _varint(data, at)
        elif kind == 1:
            value, at = data[at:at + 8], at + 8
        elif kind == 5:
            value, at = data[at:at + 4], at + 4
        elif kind == 2:
            size, at = _varint(data, at)
            value, at = data[at:at + size], at + size
        else:
            raise ValueError(f"unsupported protobuf wire type {kind}")
        yield key >> 3, value


def precompiled_charsmap(model: bytes) -> bytes:
    """ModelProto.normalizer_spec (field 3) . precompiled_charsmap (field 2)."""
    spec = next(value for number, value in _fields(model) if number == 3)
    return next(value for number, value in _fields(spec) if number == 2)


def train_unigram(extra_words=(), vocab_size: int = 1500, character_coverage: float = 1.0) -> bytes:
    """A model of the corpus plus `extra_words` (forty to a line), so that their characters are pieces."""
    import sentencepiece as spm

    words = list(extra_words)
    lines = corpus_lines() + [" ".join(words[k:k + 40]) for k in range(0, len(words), 40)]
    model = io.BytesIO()
    spm.SentencePieceTrainer.train(sentence_iterator=iter(lines), model_writer=model, model_type="unigram",
                                   vocab_size=vocab_size, normalization_rule_name="nmt_nfkc",
                                   character_coverage=character_coverage, minloglevel=2, num_threads=1)
    return model.getvalue()


ADVERSARIAL = [
    "a\u0300\u0301", "ａ\u0301", "Ａ\u0301\u0300", "e\u0301\u0301\u0301", "ｆｕｌｌ\u0301", "ﬁ\u0301", "①\u20dd",
    "한국어", "\u1100\u1161\u11a8", "각\u0301", "👍🏽", "👨\u200d👩\u200d👧", "🏳\ufe0f\u200d🌈", "㍻", "ｶﾞ", "ｶ\u3099",
    "\ufffd", "\uffff", "\U0010ffff", "\ue000", "\U000e0001", "x\u00adx", "\u2126", "K\u212a", "ǅ\u0301", "…\u0301",
    "\u0301\u0301", "Å\u030a", "\u0345\u0301", "ｘ\u200d\u0301", "⁹⁹", "½", "ﷺ", "\u0f77", "ऩ\u093c",
]


def probe_words(limit: int = 1500) -> list[str]:
    """Distinct corpus words, each also in a full-width, a decomposed and a stacked-mark form."""
    words = sorted({word for line in corpus_lines() for word in line.split()})[:limit]
    fullwidth = {c: chr(ord(c) + 0xFEE0) for c in map(chr, range(0x21, 0x7F))}
    probes = list(ADVERSARIAL)
    for index, word in enumerate(words):
        probes.append(word)
        probes.append("".join(fullwidth.get(c, c) for c in word))
        probes.append(unicodedata.normalize("NFD", word) + "\u0300\u0301")
        if index % 5 == 0:
            probes.append(word[:1] + "\u0301\u0300" + word[1:])
    return probes
