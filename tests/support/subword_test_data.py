"""Writes the subword tokenizers' test data, once per test run: for each tokenizer
configuration a JSON file with the tokenizer's arguments (vocabulary, merges or scores and
character map, learned by seeded learners from the English dev corpus when
``shared/data/en_ewt-ud-dev.conllu`` is found above this directory, else from a built-in text)
and the reference's encodings of corpus sentences and edge-case words; ``corpus.txt`` names the
corpus or says "none". Run by write_cpp_test_data.py for the suite "subword".
"""

import json
import pathlib
import random

import ud_corpus

FALLBACK_TEXT = (
    "The quick brown fox jumps over the lazy dog. She didn't know what they'd do, but we'll see. "
    "Numbers like 42 and 3.14 appear; e-mail addresses too: someone@example.com! Prices: $5, 10%."
)

# Words that stress the pre-splitting, normalisation and segmentation rules.
EDGE_WORDS = [
    "", "Hello", "HELLO", "Café", "naïve", "don't", "e-mail", "$5", "日本語", "a\u0000b", "x\ufffdy",
    "tab\there", " ", "\t\n", "\u200b", "Ωμέγα", "ΣΟΦΙΑ", "ﬁne", "Ａ\u0301", "ｆｕｌｌ", "emoji👍🏽",
    "👨\u200d👩\u200d👧", "e\u0301", "x" * 150, "a" * 100, "a" * 101, "a" * 75 + "-" + "a" * 74, "a\r\nb",
    "a b", "a  b", "a\nb", "'s", "'S", "x2y", "can't've", "Ǆemal", "İstanbul", "\u3000x", "１２３", "…",
    "e\u0301\u0300", "a\u0300\u0301", "Ａ\u0301\u0301", "ｆｕ\u0301", "x\u00a0y", "zzz", "Zebra", "quiz", "\u0301",
    "한국어", "\x7f\x01", "   lead", "trail  ",
]

# Characters the unigram map rewrites: NFKC-like folds, a deletion, a composed form and a key
# ("ｆｕ") that extends a shorter one, so the longest key must win.
CHARSMAP = {
    "Ａ": "A", "ｆ": "f", "ｕ": "u", "ｌ": "l", "１": "1", "２": "2", "３": "3", "ﬁ": "fi", "…": "...",
    "\u00a0": " ", "\u200b": "", "e\u0301": "é", "\u3000": " ", "\r\n": "\n", "Ǆ": "DŽ", "ｆｕ": "FU",
}


def read_corpus(path):
    """(sentence word lists, sentence texts)."""
    sentences, texts, words = [], [], []
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.startswith("# text = "):
            texts.append(line[len("# text = "):])
        elif not line.strip():
            if words:
                sentences.append(words)
            words = []
        elif not line.startswith("#"):
            fields = line.split("\t")
            if fields[0].isdigit():
                words.append(fields[1])
    if words:
        sentences.append(words)
    return sentences, texts


def cases(tokenizer, sentences, rng):
    out = []
    for words in sentences:
        add = rng.random() < 0.8
        out.append({"words": words, "add_special_tokens": add, **tokenizer.encode(words, add)})
    out.append({"words": EDGE_WORDS, "add_special_tokens": True, **tokenizer.encode(EDGE_WORDS, True)})
    for word in EDGE_WORDS:
        out.append({"words": [word], "add_special_tokens": False, **tokenizer.encode([word], False)})
    out.append({"words": [], "add_special_tokens": True, **tokenizer.encode([], True)})
    out.append({"words": [], "add_special_tokens": False, **tokenizer.encode([], False)})
    return out


def texts_of(tokenizer, texts):
    return [{"text": text, "ids": tokenizer.encode_word(text)} for text in texts + EDGE_WORDS]


def write(out: pathlib.Path) -> None:
    import subword_reference as ref

    corpus = ud_corpus.find_dev_corpus()
    if corpus:
        sentences, texts = read_corpus(corpus)
    else:
        sentences, texts = [FALLBACK_TEXT.split()], [FALLBACK_TEXT]
    rng = random.Random(20261206)
    sample = sentences[:: max(1, len(sentences) // 300)]
    sample_texts = texts[:: max(1, len(texts) // 150)]
    all_words = [w for s in sentences for w in s]

    def write(name, arguments, tokenizer, with_texts):
        data = {"arguments": arguments, "cases": cases(tokenizer, sample, rng)}
        if with_texts:
            data["texts"] = texts_of(tokenizer, sample_texts)
        (out / f"{name}.json").write_text(json.dumps(data, ensure_ascii=False), encoding="utf-8")

    for name, lowercase, strip, limit, count, dropped in [
        ("wordpiece_small", True, True, 100, 150, "z"),
        ("wordpiece_medium", True, False, 12, 1500, ""),
        ("wordpiece_cased", False, True, 100, 600, "Q"),
    ]:
        vocabulary = ref.learn_wordpiece(all_words if lowercase else [w for w in all_words], count, len(name), dropped)
        if not lowercase:
            # a cased vocabulary: learn from the words as written
            splitter = ref.WordPiece(["[UNK]", "[CLS]", "[SEP]"], lowercase=False, strip_accents=strip)
            chars = sorted({c for w in all_words for p in splitter.pieces(w) for c in p} - set(dropped))
            vocabulary += [t for c in chars for t in (c, "##" + c) if t not in set(vocabulary)]
        arguments = {"vocabulary": vocabulary, "lowercase": lowercase, "strip_accents": strip,
                     "unknown_token": "[UNK]", "cls_token": "[CLS]", "sep_token": "[SEP]",
                     "continuing_subword_prefix": "##", "max_input_characters_per_word": limit}
        tokenizer = ref.WordPiece(vocabulary, lowercase, strip, "[UNK]", "[CLS]", "[SEP]", "##", limit)
        write(name, arguments, tokenizer, False)

    for name, merge_count, prefix in [("bpe_small", 60, False), ("bpe_medium", 300, True)]:
        vocabulary, merges = ref.learn_bpe_merges(texts[:400], merge_count, merge_count)
        merges.append(merges[0])  # a repeated rule keeps its first rank
        arguments = {"vocabulary": vocabulary, "merges": merges, "unknown_token": "<unk>", "cls_token": "<s>",
                     "sep_token": "</s>", "add_prefix_space": prefix}
        write(name, arguments, ref.ByteBPE(vocabulary, merges, "<unk>", "<s>", "</s>", prefix), True)

    charsmap = ref.CharsMap(CHARSMAP)
    for name, count, dropped in [("unigram_small", 300, "zq"), ("unigram_medium", 2000, "")]:
        vocabulary, scores, unknown_id = ref.learn_unigram(all_words, count, count, dropped)
        arguments = {"vocabulary": vocabulary, "scores": scores, "precompiled_charsmap": list(charsmap.serialize()),
                     "unknown_id": unknown_id, "cls_token": "<s>", "sep_token": "</s>"}
        write(name, arguments, ref.Unigram(vocabulary, scores, charsmap, unknown_id), True)

    (out / "corpus.txt").write_text(str(corpus) if corpus else "none")
