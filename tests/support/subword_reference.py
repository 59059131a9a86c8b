"""Plain-Python reference of the three subword tokenizers (WordPiece, byte-level BPE and
XLM-R unigram), written from their behaviour description independently of the native code,
plus seeded learners that build small test vocabularies from a corpus and a builder of the
double-array character map the unigram tokenizer reads.

Character classes come from Python's ``unicodedata``; tests compare only text whose
characters are classified alike by it and by the native tables.
"""

from __future__ import annotations

import collections
import math
import random
import struct
import unicodedata

import numpy as np

WORD_START = "\u2581"


class InvalidUtf8(ValueError):
    def __init__(self, offset: int):
        super().__init__(f"invalid UTF-8 sequence at byte offset {offset}")
        self.offset = offset


def decode(data: bytes) -> list[tuple[int, int, int]]:
    """(code point, begin, end) records; malformed input raises InvalidUtf8 at the faulty byte."""
    out = []
    p = 0
    while p < len(data):
        lead = data[p]
        if lead < 0x80:
            out.append((lead, p, p + 1))
            p += 1
            continue
        if lead & 0xE0 == 0xC0:
            length, minimum, value = 2, 0x80, lead & 0x1F
        elif lead & 0xF0 == 0xE0:
            length, minimum, value = 3, 0x800, lead & 0x0F
        elif lead & 0xF8 == 0xF0:
            length, minimum, value = 4, 0x10000, lead & 0x07
        else:
            raise InvalidUtf8(p)
        if p + length > len(data):
            raise InvalidUtf8(p)
        for k in range(1, length):
            if data[p + k] & 0xC0 != 0x80:
                raise InvalidUtf8(p + k)
            value = (value << 6) | (data[p + k] & 0x3F)
        if value < minimum or value > 0x10FFFF or 0xD800 <= value <= 0xDFFF:
            raise InvalidUtf8(p)
        out.append((value, p, p + length))
        p += length
    return out


WHITESPACE = [(0x09, 0x0D), (0x1C, 0x20), (0x85, 0x85), (0xA0, 0xA0), (0x1680, 0x1680), (0x2000, 0x200A),
              (0x2028, 0x2029), (0x202F, 0x202F), (0x205F, 0x205F), (0x3000, 0x3000)]


def is_whitespace(c: int) -> bool:
    return any(low <= c <= high for low, high in WHITESPACE)


def category(c: int) -> str:
    return unicodedata.category(chr(c))


def is_bert_punctuation(c: int) -> bool:
    """Category P, or any ASCII character that is not a letter, digit, space or control."""
    if 0x21 <= c <= 0x7E:
        return not chr(c).isalnum()
    return category(c).startswith("P")


def is_cjk(c: int) -> bool:
    return any(low <= c <= high for low, high in [(0x4E00, 0x9FFF), (0x3400, 0x4DBF), (0x20000, 0x2A6DF),
                                                   (0x2A700, 0x2CEAF), (0xF900, 0xFAFF), (0x2F800, 0x2FA1F)])


def encode_words(words, add_special_tokens, cls_id, sep_id, encode_word):
    ids, word_ids = [], []
    if add_special_tokens:
        ids.append(cls_id)
        word_ids.append(-1)
    for index, word in enumerate(words):
        piece = encode_word(word)
        ids += piece
        word_ids += [index] * len(piece)
    if add_special_tokens:
        ids.append(sep_id)
        word_ids.append(-1)
    return {"input_ids": ids, "attention_mask": [1] * len(ids), "word_ids": word_ids}


def as_bytes(word) -> bytes:
    return word if isinstance(word, bytes) else word.encode("utf-8")


# ------------------------------------------------------------------------------- WordPiece


class WordPiece:
    def __init__(self, vocabulary, lowercase=True, strip_accents=True, unknown_token="[UNK]", cls_token="[CLS]",
                 sep_token="[SEP]", prefix="##", max_chars=100):
        self.ids = {}
        for index, token in enumerate(vocabulary):
            self.ids.setdefault(token, index)
        self.lowercase, self.strip_accents, self.prefix, self.max_chars = lowercase, strip_accents, prefix, max_chars
        self.unknown_id, self.cls_id, self.sep_id = self.ids[unknown_token], self.ids[cls_token], self.ids[sep_token]

    def pieces(self, word) -> list[str]:
        data = as_bytes(word)
        points = [c for c, _, _ in decode(data)]
        if self.lowercase:
            points = [ord(x) for x in "".join(chr(c).lower() if c != 0x130 else "i\u0307" for c in points)]
        if self.strip_accents:
            stripped = []
            for c in points:
                stripped += [ord(x) for x in unicodedata.normalize("NFD", chr(c)) if unicodedata.category(x) != "Mn"]
            points = stripped
        pieces, current = [], []
        for c in points:
            if c in (0, 0xFFFD) or (category(c).startswith("C") and c not in (9, 10, 13)):
                continue
            if is_whitespace(c):
                if current:
                    pieces.append("".join(current))
                current = []
            elif is_bert_punctuation(c) or is_cjk(c):
                if current:
                    pieces.append("".join(current))
                current = []
                pieces.append(chr(c))
            else:
                current.append(chr(c))
        if current:
            pieces.append("".join(current))
        return pieces

    def segment(self, piece: str) -> list[int]:
        if len(piece) > self.max_chars:
            return [self.unknown_id]
        out, start = [], 0
        while start < len(piece):
            for end in range(len(piece), start, -1):
                candidate = (self.prefix if start else "") + piece[start:end]
                if candidate in self.ids:
                    out.append(self.ids[candidate])
                    start = end
                    break
            else:
                return [self.unknown_id]
        return out

    def encode_word(self, word) -> list[int]:
        ids = [i for piece in self.pieces(word) for i in self.segment(piece)]
        if not ids:
            ids = [i for piece in self.pieces("-") for i in self.segment(piece)] or [self.unknown_id]
        return ids

    def encode(self, words, add_special_tokens=True):
        return encode_words(words, add_special_tokens, self.cls_id, self.sep_id, self.encode_word)


# ------------------------------------------------------------------------------- byte-level BPE


def byte_to_unicode() -> list[str]:
    table, shifted = [], 0x100
    for byte in range(256):
        if 0x21 <= byte <= 0x7E or 0xA1 <= byte <= 0xAC or byte >= 0xAE:
            table.append(chr(byte))
        else:
            table.append(chr(shifted))
            shifted += 1
    return table


def bpe_class(c: int) -> str:
    cat = category(c)
    if cat[0] in "LM":
        return "letter"
    if cat[0] == "N":
        return "number"
    if is_whitespace(c):
        return "whitespace"
    return "other"


def bpe_pretokenize(data: bytes) -> list[bytes]:
    points = decode(data)
    n, i, spans = len(points), 0, []
    while i < n:
        if points[i][0] == 0x27 and i + 1 < n:
            rest = data[points[i][2]:]
            suffix = next((s for s in (b"s", b"t", b"re", b"ve", b"m", b"ll", b"d") if rest.startswith(s)), None)
            if suffix is not None:
                spans.append(data[points[i][1]:points[i][2] + len(suffix)])
                i += 1 + len(suffix)
                continue
        run = i + 1 if points[i][0] == 0x20 and i + 1 < n and not is_whitespace(points[i + 1][0]) else i
        kind = bpe_class(points[run][0])
        end = run + 1
        while end < n and bpe_class(points[end][0]) == kind:
            end += 1
        spans.append(data[points[i][1]:points[end - 1][2]])
        i = end
    return spans


class ByteBPE:
    def __init__(self, vocabulary, merges, unknown_token="<unk>", cls_token="<s>", sep_token="</s>",
                 add_prefix_space=False):
        self.ids = {}
        for index, token in enumerate(vocabulary):
            self.ids.setdefault(token, index)
        self.ranks = {}
        for rank, (left, right) in enumerate(merges):
            self.ranks.setdefault((self.ids[left], self.ids[right]), (rank, self.ids[left + right]))
        self.base = [self.ids[t] for t in byte_to_unicode()]
        self.add_prefix_space = add_prefix_space
        self.unknown_id, self.cls_id, self.sep_id = self.ids[unknown_token], self.ids[cls_token], self.ids[sep_token]

    def merge(self, piece: bytes) -> list[int]:
        symbols = [self.base[b] for b in piece]
        while len(symbols) >= 2:
            best = None
            for k in range(len(symbols) - 1):
                rule = self.ranks.get((symbols[k], symbols[k + 1]))
                if rule is not None and (best is None or rule[0] < best[0]):
                    best, pair = rule, (symbols[k], symbols[k + 1])
            if best is None:
                break
            merged, k = [], 0
            while k < len(symbols):
                if k + 1 < len(symbols) and (symbols[k], symbols[k + 1]) == pair:
                    merged.append(best[1])
                    k += 2
                else:
                    merged.append(symbols[k])
                    k += 1
            symbols = merged
        return symbols

    def encode_word(self, word) -> list[int]:
        data = as_bytes(word)
        if not data:
            return []
        if self.add_prefix_space and not is_whitespace(decode(data)[0][0]):
            data = b" " + data
        return [i for piece in bpe_pretokenize(data) for i in self.merge(piece)] or [self.unknown_id]

    def encode(self, words, add_special_tokens=True):
        return encode_words(words, add_special_tokens, self.cls_id, self.sep_id, self.encode_word)


def learn_bpe_merges(texts, merge_count: int, seed: int):
    """Most frequent adjacent pair first (ties broken by a seeded shuffle), over pre-tokenized
    pieces of the texts; returns (vocabulary, merges)."""
    rng = random.Random(seed)
    table = byte_to_unicode()
    counts = collections.Counter()
    for text in texts:
        for piece in bpe_pretokenize((" " + text).encode("utf-8")):
            counts[tuple(table[b] for b in piece)] += 1
    words = list(counts.items())
    merges, vocabulary = [], ["<s>", "<pad>", "</s>", "<unk>"] + table
    known = set(vocabulary)
    for _ in range(merge_count):
        pairs = collections.Counter()
        for symbols, count in words:
            for k in range(len(symbols) - 1):
                pairs[symbols[k], symbols[k + 1]] += count
        if not pairs:
            break
        top = max(pairs.values())
        candidates = sorted(p for p, c in pairs.items() if c == top)
        left, right = rng.choice(candidates)
        merges.append((left, right))
        if left + right not in known:
            known.add(left + right)
            vocabulary.append(left + right)
        new_words = []
        for symbols, count in words:
            out, k = [], 0
            while k < len(symbols):
                if k + 1 < len(symbols) and symbols[k] == left and symbols[k + 1] == right:
                    out.append(left + right)
                    k += 2
                else:
                    out.append(symbols[k])
                    k += 1
            new_words.append((tuple(out), count))
        words = new_words
    return vocabulary, merges


# ------------------------------------------------------------------------------- XLM-R unigram


class CharsMap:
    """The precompiled character map: a double-array trie over the keys' bytes (a key ends where
    a unit has its has-leaf bit; the leaf unit, label 0, holds the replacement's blob offset)."""

    def __init__(self, mapping: dict[str, str]):
        self.mapping = {k.encode("utf-8"): v.encode("utf-8") for k, v in mapping.items()}

    def lookup(self, data: bytes):
        return self.mapping.get(data)

    def longest_prefix(self, data: bytes):
        """(length, replacement) of the longest key that starts `data`, or None."""
        keys = [key for key in self.mapping if data.startswith(key)]
        if not keys:
            return None
        key = max(keys, key=len)
        return len(key), self.mapping[key]

    def serialize(self) -> bytes:
        blob, values = b"", {}
        for key in sorted(self.mapping):
            values[key] = len(blob)
            blob += self.mapping[key] + b"\0"
        if not self.mapping:
            return struct.pack("<I", 0)
        # trie nodes: prefix -> children labels
        children = collections.defaultdict(set)
        for key in self.mapping:
            for k in range(len(key)):
                children[key[:k]].add(key[k])
        units = {}
        used, bases = {0}, set()

        def place(prefix: bytes, index: int, label: int):
            labels = sorted(children.get(prefix, ()))
            terminal = prefix in self.mapping
            slots = ([0] if terminal else []) + labels
            base = 1
            # every node has a base of its own, so a label check cannot pass in a foreign node
            while base in bases or any((base ^ c) in used for c in slots) or (base ^ index) >= (1 << 21):
                base += 1
            bases.add(base)
            for c in slots:
                used.add(base ^ c)
            offset = base ^ index
            units[index] = (offset << 10) | (0x100 if terminal else 0) | label
            if terminal:
                units[base] = 0x80000000 | values[prefix]
            for c in labels:
                place(prefix + bytes([c]), base ^ c, c)

        place(b"", 0, 0)
        size = max(units) + 1
        trie = b"".join(struct.pack("<I", units.get(i, 0)) for i in range(size))
        return struct.pack("<I", len(trie)) + trie + blob


class Unigram:
    def __init__(self, vocabulary, scores, charsmap: CharsMap, unknown_id, cls_token="<s>", sep_token="</s>"):
        self.pieces = list(vocabulary)
        self.scores = [np.float32(s) for s in scores]
        self.ids = {}
        for index, piece in enumerate(self.pieces):
            self.ids.setdefault(piece.encode("utf-8"), index)
        self.max_bytes = max(len(p.encode("utf-8")) for p in self.pieces)
        self.charsmap, self.unknown_id = charsmap, unknown_id
        self.cls_id, self.sep_id = self.ids[cls_token.encode()], self.ids[sep_token.encode()]

    def normalize(self, data: bytes) -> bytes:
        """At each character the longest key starting there is replaced; other characters are copied."""
        out, at = b"", 0
        for _, begin, end in decode(data):
            if begin < at:
                continue
            match = self.charsmap.longest_prefix(data[begin:])
            if match is None:
                out, at = out + data[begin:end], end
            else:
                out, at = out + match[1], begin + match[0]
        return out

    def viterbi(self, data: bytes) -> list[int]:
        """sentencepiece's search: a code point that starts no one-code-point piece is covered by
        the unknown piece at ten below the lowest score; a run of unknown pieces is one id."""
        points = decode(data)
        n = len(points)
        bounds = [0] + [end for _, _, end in points]
        best, reached = [np.float32(0)] * (n + 1), [True] + [False] * n
        back, piece = [0] * (n + 1), [self.unknown_id] * (n + 1)
        unknown_score = np.float32(min(self.scores) - np.float32(10))

        def offer(s, e, p, score):
            candidate = np.float32(best[s] + score)
            if not reached[e] or candidate > best[e]:
                best[e], reached[e], back[e], piece[e] = candidate, True, s, p

        for s in range(n):
            single = False
            for e in range(s + 1, n + 1):
                if bounds[e] - bounds[s] > self.max_bytes:
                    break
                p = self.ids.get(data[bounds[s]:bounds[e]])
                if p is None:
                    continue
                single = single or e == s + 1
                offer(s, e, p, self.scores[p])
            if not single:
                offer(s, s + 1, self.unknown_id, unknown_score)
        ids, k = [], n
        while k > 0:
            if piece[k] != self.unknown_id or not ids or ids[-1] != self.unknown_id:
                ids.append(piece[k])
            k = back[k]
        return ids[::-1]

    def encode_word(self, word) -> list[int]:
        text = self.normalize(as_bytes(word))
        points = decode(text)
        # One search over all runs, each behind its mark, as sentencepiece searches its whole
        # normalised text (the float totals carry from run to run).
        marked, i = b"", 0
        while i < len(points):
            if is_whitespace(points[i][0]):
                i += 1
                continue
            j = i
            while j < len(points) and not is_whitespace(points[j][0]):
                j += 1
            marked += WORD_START.encode() + text[points[i][1]:points[j - 1][2]]
            i = j
        return self.viterbi(marked)

    def encode(self, words, add_special_tokens=True):
        return encode_words(words, add_special_tokens, self.cls_id, self.sep_id, self.encode_word)


def learn_unigram(words, piece_count: int, seed: int, dropped_characters: str = ""):
    """Specials, the word-start mark, every character seen (except those dropped, which then
    become unknown) and the most frequent substrings of marked words, scored by log frequency
    with a little seeded noise; returns (vocabulary, scores, unknown_id)."""
    rng = random.Random(seed)
    chars, substrings = collections.Counter(), collections.Counter()
    for word in words:
        marked = WORD_START + word
        chars.update(marked)
        for a in range(len(marked)):
            for b in range(a + 2, min(len(marked), a + 8) + 1):
                substrings[marked[a:b]] += 1
    vocabulary = ["<s>", "<pad>", "</s>", "<unk>"]
    scores = [0.0, 0.0, 0.0, -20.0]
    total = sum(chars.values()) + sum(substrings.values())
    for char, count in sorted(chars.items()):
        if char in dropped_characters or char in vocabulary:
            continue
        vocabulary.append(char)
        scores.append(math.log(count / total) - 2.0)
    for piece, count in substrings.most_common(piece_count):
        vocabulary.append(piece)
        scores.append(math.log(count / total) + rng.uniform(-0.5, 0.5))
    return vocabulary, [float(np.float32(s)) for s in scores], 3


# ------------------------------------------------------------------------------- WordPiece learner


def learn_wordpiece(words, piece_count: int, seed: int, dropped_characters: str = ""):
    """Specials, every character of the basic-split pieces (also as a continuation), and the
    most frequent word-initial and continuation substrings; returns the vocabulary."""
    rng = random.Random(seed)
    splitter = WordPiece(["[UNK]", "[CLS]", "[SEP]"])
    starts, inner, chars = collections.Counter(), collections.Counter(), set()
    for word in words:
        for piece in splitter.pieces(word):
            chars.update(piece)
            for b in range(2, min(len(piece), 10) + 1):
                starts[piece[:b]] += 1
            for a in range(1, len(piece)):
                for b in range(a + 1, min(len(piece), a + 8) + 1):
                    inner[piece[a:b]] += 1
    vocabulary = ["[PAD]", "[UNK]", "[CLS]", "[SEP]", "[MASK]"]
    for char in sorted(chars):
        if char not in dropped_characters:
            vocabulary += [char, "##" + char]
    vocabulary += [s for s, _ in starts.most_common(piece_count)]
    vocabulary += ["##" + s for s, _ in inner.most_common(piece_count // 2)]
    seen, unique = set(), []
    for token in vocabulary:
        if token not in seen:
            seen.add(token)
            unique.append(token)
    head, tail = unique[:5], unique[5:]
    rng.shuffle(tail)
    return head + tail
