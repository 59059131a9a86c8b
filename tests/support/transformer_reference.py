"""Transformer encoder references: a WordPiece vocabulary for the tiny test encoder of
aoti_packages.py, the subword ids of plain lower-case words, and the word vectors the encoder
gives them.

A sequence longer than the model's maximum length L runs as windows of L ids that start every
`step` = max(L - 20, L // 2) ids; the first window keeps all its rows, every later one drops the
L - step rows it shares with the previous window. Each word takes the row of its last subword;
with endpoints, the first and the last subword rows (the special tokens) surround the words.
"""

import torch

SPECIALS = ["[PAD]", "[UNK]", "[CLS]", "[SEP]"]
WORDS = ["the", "cat", "dog", "run", "##ning", "un", "##break", "##able"]
LETTERS = [chr(c) for c in range(ord("a"), ord("z") + 1)]


def wordpiece_vocabulary():
    """64 tokens: the tiny encoder's whole embedding table."""
    return SPECIALS + WORDS + LETTERS + ["##" + letter for letter in LETTERS]


def wordpiece_block(artifact="model.pt2", hidden_size=16, model_max_length=64):
    """The assets' transformer block of a WordPiece encoder."""
    return {
        "backend": "aotinductor",
        "artifact": artifact,
        "hidden_size": hidden_size,
        "model_max_length": model_max_length,
        "tokenizer": {
            "type": "WordPiece",
            "vocabulary": wordpiece_vocabulary(),
            "lowercase": True,
            "strip_accents": True,
            "unknown_token": "[UNK]",
            "cls_token": "[CLS]",
            "sep_token": "[SEP]",
            "continuing_subword_prefix": "##",
            "max_input_characters_per_word": 100,
        },
    }


def word_pieces(word, ids):
    """Greedy longest-match pieces of a lower-case ASCII word."""
    pieces, start = [], 0
    while start < len(word):
        for end in range(len(word), start, -1):
            piece = word[start:end] if start == 0 else "##" + word[start:end]
            if piece in ids:
                pieces.append(ids[piece])
                start = end
                break
        else:
            return [ids["[UNK]"]]
    return pieces


def encode_words(words):
    """(input ids with [CLS] and [SEP], word index of every id, -1 for the special tokens)."""
    ids = {token: index for index, token in enumerate(wordpiece_vocabulary())}
    input_ids, word_ids = [ids["[CLS]"]], [-1]
    for index, word in enumerate(words):
        pieces = word_pieces(word, ids)
        input_ids += pieces
        word_ids += [index] * len(pieces)
    return input_ids + [ids["[SEP]"]], word_ids + [-1]


def run(model, ids, mask=None):
    input_ids = torch.tensor([ids], dtype=torch.int64)
    attention_mask = torch.ones_like(input_ids) if mask is None else torch.tensor([mask], dtype=torch.int64)
    with torch.no_grad():
        return model(input_ids, attention_mask)[0]


def subword_states(model, ids, max_length):
    """[len(ids), hidden]: one run, or windows when the ids exceed the maximum length."""
    if len(ids) <= max_length:
        return run(model, ids)
    step = max(max_length - 20, max_length // 2)
    kept = []
    for start in range(0, len(ids), step):
        states = run(model, ids[start:start + max_length])
        kept.append(states if start == 0 else states[max_length - step:])
        if start + max_length >= len(ids):
            break
    return torch.cat(kept)


def encode(model, words, max_length, keep_endpoints):
    input_ids, word_ids = encode_words(words)
    states = subword_states(model, input_ids, max_length)
    last = {word: position for position, word in enumerate(word_ids) if word >= 0}
    rows = [last[index] for index in range(len(words))]
    if keep_endpoints:
        rows = [0] + rows + [len(input_ids) - 1]
    return states[rows]
