"""A PyTorch reference of the neural tokenizer, for comparison with the native code.

It follows the tokenizer's documented behaviour step by step in plain Python and torch:
character units and paragraphs, the hand-made unit features (regular-expression and lexicon
features), the hierarchical network over windows of at most 1000 units (or batched, padded and
packed), the last-unit rule, the repair of web and e-mail addresses, and the cut of the labels
into sentences and tokens. It shares no code with the native implementation.

``ReferenceTokenizer(bundle_dir)`` loads a bundle written by ``tokenizer_bundle.py``;
``process(text)`` returns the sentences as lists of ``RefToken``; ``process_bulk(texts)`` does
the same with batching across texts; ``paragraph_labels(text)`` gives the final labels and the
per-unit score margins of every paragraph.
"""

from __future__ import annotations

import dataclasses
import json
import pathlib
import re

import torch
import torch.nn.functional as F
from torch.nn.utils.rnn import pack_padded_sequence, pad_packed_sequence

WINDOW = 1000

TRIM = (
    set(range(0x09, 0x0E)) | set(range(0x1C, 0x21)) | {0x85, 0xA0, 0x1680}
    | set(range(0x2000, 0x200B)) | {0x2028, 0x2029, 0x202F, 0x205F, 0x3000}
)
UNIT_SPACE = TRIM | set(range(0x80, 0xA0))

# Decimal digits (General_Category Nd) of Unicode 15.0; Python's own table may be older.
DIGIT_RANGES = [
    (0x30, 0x39), (0x660, 0x669), (0x6F0, 0x6F9), (0x7C0, 0x7C9), (0x966, 0x96F), (0x9E6, 0x9EF),
    (0xA66, 0xA6F), (0xAE6, 0xAEF), (0xB66, 0xB6F), (0xBE6, 0xBEF), (0xC66, 0xC6F), (0xCE6, 0xCEF),
    (0xD66, 0xD6F), (0xDE6, 0xDEF), (0xE50, 0xE59), (0xED0, 0xED9), (0xF20, 0xF29), (0x1040, 0x1049),
    (0x1090, 0x1099), (0x17E0, 0x17E9), (0x1810, 0x1819), (0x1946, 0x194F), (0x19D0, 0x19D9),
    (0x1A80, 0x1A89), (0x1A90, 0x1A99), (0x1B50, 0x1B59), (0x1BB0, 0x1BB9), (0x1C40, 0x1C49),
    (0x1C50, 0x1C59), (0xA620, 0xA629), (0xA8D0, 0xA8D9), (0xA900, 0xA909), (0xA9D0, 0xA9D9),
    (0xA9F0, 0xA9F9), (0xAA50, 0xAA59), (0xABF0, 0xABF9), (0xFF10, 0xFF19), (0x104A0, 0x104A9),
    (0x10D30, 0x10D39), (0x11066, 0x1106F), (0x110F0, 0x110F9), (0x11136, 0x1113F), (0x111D0, 0x111D9),
    (0x112F0, 0x112F9), (0x11450, 0x11459), (0x114D0, 0x114D9), (0x11650, 0x11659), (0x116C0, 0x116C9),
    (0x11730, 0x11739), (0x118E0, 0x118E9), (0x11950, 0x11959), (0x11C50, 0x11C59), (0x11D50, 0x11D59),
    (0x11DA0, 0x11DA9), (0x11F50, 0x11F59), (0x16A60, 0x16A69), (0x16AC0, 0x16AC9), (0x16B50, 0x16B59),
    (0x1D7CE, 0x1D7FF), (0x1E140, 0x1E149), (0x1E2F0, 0x1E2F9), (0x1E4F0, 0x1E4F9), (0x1E950, 0x1E959),
    (0x1FBF0, 0x1FBF9),
]

PATTERNS = {
    "labeled_field": rb"\b[A-Z][a-zA-Z]*(?:\s[A-Z][a-zA-Z]*){0,2}\s*:",
    "phone_id": rb"(?:\([0-9]{3}\)\s?[0-9]{3}-[0-9]{4})|(?:\b[0-9]{3}-[0-9]{3}-[0-9]{4}\b)|(?:\bx[0-9]{3,5}\b)",
    "date_pattern": rb"(?:\b[0-9]{1,2}/[0-9]{1,2}/[0-9]{2,4}\b)|(?:\b(?:January|February|March|April|May|June|July|August|September|October|November|December)\s+[0-9]{1,2},?\s+[0-9]{4}\b)",
    "currency": rb"\$\s?[0-9][0-9,]*(?:\.[0-9]+)?",
}
PATTERN_ORDER = ["labeled_field", "phone_id", "date_pattern", "currency"]
ADDRESS = (
    rb"""(?:(?:[a-z0-9!#$%&'*+/=?^_`{|}~-]+(?:\.[a-z0-9!#$%&'*+/=?^_`{|}~-]+)*|"(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21\x23-\x5b\x5d-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])*")@(?:(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+[a-z0-9](?:[a-z0-9-]*[a-z0-9])?|\[(?:(?:(?:2(?:5[0-5]|[0-4][0-9])|1[0-9][0-9]|[1-9]?[0-9]))\.){3}(?:(?:2(?:5[0-5]|[0-4][0-9])|1[0-9][0-9]|[1-9]?[0-9])|[a-z0-9-]*[a-z0-9]:(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21-\x5a\x53-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])+)\]))|(?:(?:https?:\/\/(?:www\.|(?!www))[a-zA-Z0-9][a-zA-Z0-9-]+[a-zA-Z0-9]\.[^\s"]{2,}|www\.[a-zA-Z0-9][a-zA-Z0-9-]+[a-zA-Z0-9]\.[^\s"]{2,}|https?:\/\/(?:www\.|(?!www))[a-zA-Z0-9]+\.[^\s"]{2,}|www\.[a-zA-Z0-9]+\.[^\s"]{2,})|[a-zA-Z0-9]+\.(?:gov|org|edu|net|com|co)(?:\.[^\s"]{2,}))"""
)
COMPILED = {name: re.compile(pattern) for name, pattern in PATTERNS.items()}
ADDRESS_RE = re.compile(ADDRESS)


@dataclasses.dataclass
class Unit:
    text: str
    offset: int

    @property
    def code_point(self) -> int:
        return ord(self.text)


@dataclasses.dataclass
class RefToken:
    id: int
    text: str
    start: int
    end: int
    misc: str | None
    spaces_before: str = ""
    spaces_after: str = " "


# ---------------------------------------------------------------- units and paragraphs


def split_paragraphs(text: str, skip_newline: bool) -> list[list[Unit]]:
    units = [Unit(ch, k) for k, ch in enumerate(text)]
    n = len(units)
    ranges, start, i = [], 0, 0
    while True:
        while i < n and text[i] != "\n":
            i += 1
        if i >= n:
            break
        j, last = i, None
        k = j + 1
        while k < n and ord(text[k]) in UNIT_SPACE:
            if text[k] == "\n":
                last = k
            k += 1
        if last is None:
            i = j + 1
            continue
        ranges.append((start, j))
        start = i = last + 1
    ranges.append((start, n))
    paragraphs = []
    for begin, end in ranges:
        while end > begin and ord(text[end - 1]) in TRIM:
            end -= 1
        paragraph: list[Unit] = []
        for k in range(begin, end):
            ch = text[k]
            if skip_newline and ch == "\n":
                continue
            if ord(ch) in UNIT_SPACE:
                if not paragraph or paragraph[-1].text != " ":
                    paragraph.append(Unit(" ", k))
            else:
                paragraph.append(Unit(ch, k))
        if paragraph:
            paragraphs.append(paragraph)
    return paragraphs


# ---------------------------------------------------------------- features


DIGITS = frozenset(cp for first, last in DIGIT_RANGES for cp in range(first, last + 1))


def is_digit(cp: int) -> bool:
    return cp in DIGITS


def regex_marks(units: list[Unit], pattern: re.Pattern) -> list[float]:
    data = "".join(u.text for u in units).encode("utf-8")
    unit_of = []
    for index, unit in enumerate(units):
        unit_of.extend([index] * len(unit.text.encode("utf-8")))
    unit_of.append(len(units))
    marks = [0.0] * len(units)
    for match in pattern.finditer(data):
        for u in range(unit_of[match.start()], unit_of[match.end()]):
            marks[u] = 1.0
    return marks


class Lexicon:
    def __init__(self, entries: list[str]):
        self.words, self.prefixes, self.suffixes = set(), set(), set()
        for word in entries:
            if len(word) < 2:
                continue
            self.words.add(word)
            for k in range(1, len(word)):
                self.prefixes.add(word[:k])
                self.suffixes.add(word[k:])


def unit_features(config: dict, lexicon: Lexicon | None, units: list[Unit]) -> torch.Tensor:
    funcs = config["feat_funcs"]
    simple = [f for f in funcs if f in ("space_before", "capitalized", "numeric")]
    patterns = [regex_marks(units, COMPILED[name]) for name in PATTERN_ORDER if name in funcs]
    k_window = config["num_dict_feat"] if config.get("use_dictionary") else 0
    width = len(simple) + ("end_of_para" in funcs) + ("start_of_para" in funcs) + len(patterns) + 2 * k_window
    if width != config["feat_dim"]:
        raise ValueError("tokenizer feature dimension does not match feat_funcs")
    n = len(units)
    lowered = [u.text.lower() for u in units]
    rows = []
    for u, unit in enumerate(units):
        row = []
        for name in simple:
            if name == "space_before":
                row.append(1.0 if unit.text == " " else 0.0)
            elif name == "capitalized":
                row.append(1.0 if unit.text.isupper() else 0.0)
            else:
                row.append(1.0 if is_digit(unit.code_point) else 0.0)
        if "end_of_para" in funcs:
            row.append(1.0 if u == n - 1 else 0.0)
        if "start_of_para" in funcs:
            row.append(1.0 if u == 0 else 0.0)
        row.extend(marks[u] for marks in patterns)
        if k_window:
            fwd, bwd = [0.0] * k_window, [0.0] * k_window
            f = b = unit.text
            f_open = b_open = True
            for w in range(1, k_window + 1):
                if f_open and u + w <= n - 1:
                    f += lowered[u + w]
                    fwd[w - 1] = 1.0 if f in lexicon.words else 0.0
                    f_open = f in lexicon.prefixes
                if b_open and u - w >= 0:
                    b = lowered[u - w] + b
                    bwd[w - 1] = 1.0 if b in lexicon.words else 0.0
                    b_open = b in lexicon.suffixes
                if not f_open and not b_open:
                    break
            row.extend(fwd + bwd)
        rows.append(row)
    return torch.tensor(rows, dtype=torch.float32).reshape(n, width)


# ---------------------------------------------------------------- network


def network_scores(net, config: dict, ids: torch.Tensor, feats: torch.Tensor, lengths=None) -> torch.Tensor:
    """Scores [B, n, labels] of the hierarchical network over ids [B, n] and features [B, n, F]."""
    use_mwt = config["use_mwt"]
    emb = F.embedding(ids, net.embeddings.weight, padding_idx=net.pad_id)
    x = torch.cat([emb, feats], dim=-1)
    batch = ids.shape[0]
    hidden = config["hidden_dim"]
    h0 = torch.zeros(2, batch, hidden)
    state = (h0, h0.clone())

    def run(rnn, inp):
        if lengths is None:
            return rnn(inp, state)[0]
        packed = pack_padded_sequence(inp, lengths, batch_first=True)
        return pad_packed_sequence(rnn(packed, state)[0], batch_first=True, total_length=inp.shape[1])[0]

    out = run(net.rnn, x)
    tok = net.tok_clf(out)
    sent = net.sent_clf(out)
    mwt = net.mwt_clf(out) if use_mwt else None
    inp2 = out
    if config["hier_invtemp"] > 0:
        inp2 = out * (1 - torch.sigmoid(-tok * config["hier_invtemp"]))
    out2 = run(net.rnn2, inp2)
    tok = tok + net.tok_clf2(out2)
    sent = sent + net.sent_clf2(out2)
    ls = F.logsigmoid
    a, b, c, d = ls(-tok), ls(tok), ls(-sent), ls(sent)
    if use_mwt:
        mwt = mwt + net.mwt_clf2(out2)
        e, f = ls(-mwt), ls(mwt)
        return torch.cat([a, b + c + e, b + d + e, b + c + f, b + d + f], dim=-1)
    return torch.cat([a, b + c, b + d], dim=-1)


def margins_of(scores: torch.Tensor) -> list[float]:
    top = scores.topk(2, dim=-1).values
    return (top[..., 0] - top[..., 1]).tolist()


def repair_addresses(units: list[Unit], labels: list[int]) -> None:
    text = "".join(u.text for u in units)
    if "@" not in text and "." not in text:
        return
    marks = regex_marks(units, ADDRESS_RE)
    i, n = 0, len(units)
    while i < n:
        if not marks[i]:
            i += 1
            continue
        j = i
        while j < n and marks[j]:
            j += 1
        for k in range(i, j - 1):
            labels[k] = 0
        if labels[j - 1] == 0:
            labels[j - 1] = 1
        i = j


def finish(units: list[Unit], labels: list[int]) -> list[int]:
    labels[-1] = {0: 2, 1: 2, 3: 4}.get(labels[-1], labels[-1])
    repair_addresses(units, labels)
    return labels


# ---------------------------------------------------------------- the tokenizer


class ReferenceTokenizer:
    def __init__(self, bundle_dir: str | pathlib.Path):
        from tokenizer_bundle import TokenizerNetwork, load_network

        bundle_dir = pathlib.Path(bundle_dir)
        manifest = json.loads((bundle_dir / "manifest.json").read_text())
        assets = json.loads((bundle_dir / manifest["assets"]["path"]).read_text(encoding="utf-8"))
        self.language = manifest["language"]
        self.config = assets["config"]
        self.vocab = assets["vocab"]["_unit2id"]
        self.lexicon = Lexicon(assets.get("lexicon", [])) if self.config.get("use_dictionary") else None
        self.net: TokenizerNetwork = load_network(bundle_dir)
        self.net.pad_id = self.vocab["<PAD>"]
        self.unk = self.vocab["<UNK>"]

    def _ids(self, units: list[Unit]) -> torch.Tensor:
        return torch.tensor([self.vocab.get(u.text, self.unk) for u in units], dtype=torch.int64)

    def predict(self, units: list[Unit]) -> tuple[list[int], list[float]]:
        """Final labels of one paragraph over windows, and the score margin of every kept unit."""
        feats = unit_features(self.config, self.lexicon, units)
        ids = self._ids(units)
        labels: list[int] = []
        margins: list[float] = []
        start, n = 0, len(units)
        while start < n:
            length = min(n - start, WINDOW)
            with torch.inference_mode():
                scores = network_scores(self.net, self.config, ids[start:start + length].unsqueeze(0),
                                        feats[start:start + length].unsqueeze(0))[0]
                window = scores.argmax(-1).tolist()
                window_margins = margins_of(scores)
            keep = length
            if start + length < n:
                ends = [k for k, label in enumerate(window) if label in (2, 4)]
                if ends:
                    keep = ends[-1] + 1
            labels += window[:keep]
            margins += window_margins[:keep]
            start += keep
        return finish(units, labels), margins

    def predict_batched(self, paragraphs: list[list[Unit]]) -> list[list[int]]:
        order = sorted(range(len(paragraphs)), key=lambda k: -len(paragraphs[k]))
        longest = len(paragraphs[order[0]])
        width = self.config["feat_dim"]
        ids = torch.full((len(order), longest), self.net.pad_id, dtype=torch.int64)
        feats = torch.zeros(len(order), longest, width)
        lengths = []
        for row, k in enumerate(order):
            units = paragraphs[k]
            ids[row, :len(units)] = self._ids(units)
            feats[row, :len(units)] = unit_features(self.config, self.lexicon, units)
            lengths.append(len(units))
        with torch.inference_mode():
            labels = network_scores(self.net, self.config, ids, feats, torch.tensor(lengths)).argmax(-1).tolist()
        results: list[list[int]] = [[] for _ in paragraphs]
        for row, k in enumerate(order):
            results[k] = finish(paragraphs[k], labels[row][:lengths[row]])
        return results

    def paragraphs(self, text: str) -> list[list[Unit]]:
        return split_paragraphs(text, self.config["skip_newline"])

    def paragraph_labels(self, text: str) -> list[tuple[list[int], list[float]]]:
        return [self.predict(p) for p in self.paragraphs(text)]

    def build(self, text: str, paragraphs: list[list[Unit]], labels: list[list[int]]) -> list[list[RefToken]]:
        lang = self.config["lang"]
        sentences: list[list[RefToken]] = []
        for units, plabels in zip(paragraphs, labels):
            sentence: list[RefToken] = []
            pending: list[int] = []
            for u, unit in enumerate(units):
                pending.append(u)
                label = plabels[u]
                if self.config["shorthand"] == "la_ittb" and unit.text in ":;":
                    label = 2
                if label <= 0:
                    continue
                solid = [k for k in pending if units[k].text != " "]
                if not solid:
                    pending = []
                    continue
                token_text = "".join(units[k].text for k in pending).lstrip(" ")
                if len(lang) >= 2 and lang[:2] in ("zh", "ja", "ko"):
                    token_text = token_text.replace(" ", "")
                if u - solid[0] >= 1000:
                    token_text = "<UNK>"
                misc = "MWT=Yes" if label in (3, 4) else None
                sentence.append(RefToken(len(sentence) + 1, token_text, units[solid[0]].offset,
                                         units[solid[-1]].offset + 1, misc))
                pending = []
                if label in (2, 4) and sentence:
                    sentences.append(sentence)
                    sentence = []
            if pending:
                raise ValueError("tokenizer prediction left an unfinished token")
            if sentence:
                sentences.append(sentence)
        tokens = [t for s in sentences for t in s]
        for k, token in enumerate(tokens):
            if k == 0:
                token.spaces_before = text[:token.start]
            else:
                tokens[k - 1].spaces_after = text[tokens[k - 1].end:token.start]
        if tokens:
            tokens[-1].spaces_after = text[tokens[-1].end:]
        return sentences

    def process(self, text: str) -> list[list[RefToken]]:
        paragraphs = self.paragraphs(text)
        return self.build(text, paragraphs, [self.predict(p)[0] for p in paragraphs])

    def process_bulk(self, texts: list[str]) -> list[list[list[RefToken]]]:
        per_text = [self.paragraphs(t) for t in texts]
        flat = [p for ps in per_text for p in ps]
        labels: list[list[int] | None] = [None] * len(flat)
        batch_size = self.config.get("batch_size", 32)
        pending: list[int] = []

        def flush():
            if pending:
                for k, result in zip(pending, self.predict_batched([flat[k] for k in pending])):
                    labels[k] = result
                pending.clear()

        for k, paragraph in enumerate(flat):
            if len(paragraph) <= WINDOW:
                pending.append(k)
                if len(pending) == batch_size:
                    flush()
            else:
                flush()
                labels[k] = self.predict(paragraph)[0]
        flush()
        results, next_index = [], 0
        for text, paragraphs in zip(texts, per_text):
            results.append(self.build(text, paragraphs, labels[next_index:next_index + len(paragraphs)]))
            next_index += len(paragraphs)
        return results


# ---------------------------------------------------------------- a plain-text form of documents


def escape(text: str) -> str:
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t").replace("\r", "\\r")


def format_document(sentences: list[list[RefToken]]) -> str:
    """One line per token, a line "S" before each sentence; the C++ tests print the same form."""
    lines = []
    for sentence in sentences:
        lines.append("S")
        for t in sentence:
            lines.append("\t".join([str(t.id), escape(t.text), str(t.start), str(t.end), escape(t.misc or "_"),
                                    escape(t.spaces_before), escape(t.spaces_after)]))
    return "".join(line + "\n" for line in lines)


# ---------------------------------------------------------------- comparison inputs for the C++ tests

NEAR_TIE = 1e-3


def corpus_texts(conllu: pathlib.Path) -> list[str]:
    """The raw sentences of a CoNLL-U file joined into documents: the sentences of a paragraph
    by spaces, the paragraphs of a document by blank lines."""
    documents: list[list[list[str]]] = []
    for line in conllu.read_text(encoding="utf-8").splitlines():
        if line.startswith("# newdoc") or not documents:
            documents.append([])
        if line.startswith("# newpar") or (line.startswith("# text = ") and not documents[-1]):
            documents[-1].append([])
        if line.startswith("# text = "):
            documents[-1][-1].append(line[len("# text = "):])
    return ["\n\n".join(" ".join(p) for p in doc if p) for doc in documents if doc]


def edge_texts(corpus: list[str]) -> list[str]:
    sentences = [s for text in corpus[:40] for s in text.split("\n\n")]
    long_paragraph = " ".join(sentences)[:2600]
    return [
        "", "   \n\t ", "\u0081", "\n\n  Leading blank lines and spaces.", "a\nb", "a\r\n\r\nb  ",
        "Mail jo@example.com or Jo.Smith@example.org, see www.example.com/path?q=1 and http://t.co/xyz.",
        "Costs $1,200.50 and $ 3; call (555) 123-4567 or 555-123-4567 x1234 on March 3, 2020 or 12/31/99.",
        "Name: Jo\nDate Of Birth: 3/4/2020\n\nTo : them",
        "$" + "7" * 1500,
        "word " + "a" * 1200 + " end.",
        long_paragraph,
        "\n\n".join([long_paragraph[:1000], long_paragraph[:1001], long_paragraph[:999]]),
        "Grüße aus Köln! Ça va? Ελληνικά κείμενα. Текст на русском. 東京は晴れ。 ١٢٣ and ５ and ²Ⅰ.",
        "Emoji 😀 test\u00a0with\u3000odd\u2028spaces and İstanbul ǅ ﬁ ß.",
        "don't can't e-mail U.S. Mr. Dr. etc. café naïve the and of",
        "x" * 3 + "\u0085" + "y",
    ]


def write_comparison(out: pathlib.Path, conllu: pathlib.Path | None) -> None:
    from tokenizer_bundle import write_tokenizer_bundle

    torch.set_num_threads(1)
    corpus = corpus_texts(conllu) if conllu is not None else []
    texts = corpus + edge_texts(corpus or ["An example. Another one.\n\nA second paragraph here."] * 40)
    write_texts(out / "texts.txt", texts)
    # The full corpus runs through the tiny bundle; a second bundle with the other options
    # (no multi-word tokens, no lexicon, no gate, newlines skipped, la_ittb and zh rules, small
    # batches) sees the edge cases and a share of the corpus.
    bundles = {
        "tiny": ({}, range(len(texts))),
        "plain": ({"use_mwt": False, "use_dictionary": False,
                   "config_overrides": {"hier_invtemp": 0.0, "skip_newline": True, "shorthand": "la_ittb",
                                        "lang": "zh", "batch_size": 5}},
                  list(range(0, len(corpus), 10)) + list(range(len(corpus), len(texts)))),
    }
    for name, (options, chosen) in bundles.items():
        bundle = write_tokenizer_bundle(out / name, size="tiny", calibration_texts=texts[:80], **options)
        tokenizer = ReferenceTokenizer(bundle)
        with open(out / f"expected_{name}.txt", "w", encoding="utf-8") as stream:
            for k in chosen:
                text = texts[k]
                stream.write(f"TEXT {k}\n")
                paragraphs = tokenizer.paragraphs(text)
                all_labels = []
                for units in paragraphs:
                    labels, margins = tokenizer.predict(units)
                    all_labels.append(labels)
                    stream.write(f"R {units[0].offset} {units[-1].offset + 1}\n")
                    stream.write("P " + "".join(map(str, labels)) + "\n")
                    stream.write("N " + " ".join(f"{u}:{m:.3g}" for u, m in enumerate(margins) if m < NEAR_TIE) + "\n")
                stream.write("DOC\n" + format_document(tokenizer.build(text, paragraphs, all_labels)) + "END\n")


def write_texts(path: pathlib.Path, texts: list[str]) -> None:
    with open(path, "wb") as stream:
        for text in texts:
            data = text.encode("utf-8")
            stream.write(f"{len(data)}\n".encode() + data + b"\n")


def read_texts(path: pathlib.Path) -> list[str]:
    data, texts, p = path.read_bytes(), [], 0
    while p < len(data):
        newline = data.index(b"\n", p)
        length = int(data[p:newline])
        texts.append(data[newline + 1:newline + 1 + length].decode("utf-8"))
        p = newline + 1 + length + 1
    return texts


def bench_setup(out: pathlib.Path, conllu: pathlib.Path) -> None:
    """The realistic bundle and the corpus texts of the benchmark."""
    from tokenizer_bundle import write_tokenizer_bundle

    torch.set_num_threads(1)
    texts = corpus_texts(conllu)
    write_texts(out / "texts.txt", texts)
    write_tokenizer_bundle(out / "realistic", size="realistic", calibration_texts=texts[:80])


def bench(out: pathlib.Path, threads: int, repeats: int = 1) -> None:
    """Times the reference on the benchmark texts: text by text, then in bulk; the best of
    `repeats` rounds of each, which filters out interference on a busy machine."""
    import time

    torch.set_num_threads(threads)
    texts = read_texts(out / "texts.txt")
    tokenizer = ReferenceTokenizer(out / "realistic")
    tokenizer.process(texts[0])  # warm-up
    process_seconds = bulk_seconds = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        for text in texts:
            tokenizer.process(text)
        middle = time.perf_counter()
        tokenizer.process_bulk(texts)
        end = time.perf_counter()
        process_seconds = min(process_seconds, middle - start)
        bulk_seconds = min(bulk_seconds, end - middle)
    print(f"process_seconds {process_seconds}")
    print(f"bulk_seconds {bulk_seconds}")
    write_labels(out, tokenizer, texts)


def labels_untimed(out: pathlib.Path) -> None:
    """The reference's labels alone, untimed, at one thread: the check of a benchmark that does
    not time the reference."""
    torch.set_num_threads(1)
    write_labels(out, ReferenceTokenizer(out / "realistic"), read_texts(out / "texts.txt"))


def write_labels(out: pathlib.Path, tokenizer: ReferenceTokenizer, texts: list[str]) -> None:
    """Every paragraph's labels and the units where the top two scores nearly tie, so that the
    benchmark can check the native labels on this bundle too."""
    with open(out / "reference_labels.txt", "w", encoding="utf-8") as stream:
        for text in texts:
            for labels, margins in tokenizer.paragraph_labels(text):
                ties = ",".join(str(u) for u, m in enumerate(margins) if m < NEAR_TIE)
                stream.write("".join(map(str, labels)) + "\t" + ties + "\n")


if __name__ == "__main__":
    import sys

    # Usage: tokenizer_reference.py compare OUT_DIR [CONLLU] | bench-setup OUT_DIR CONLLU |
    #        bench OUT_DIR THREADS [REPEATS] | labels OUT_DIR
    command, out = sys.argv[1], pathlib.Path(sys.argv[2])
    if command == "compare":
        write_comparison(out, pathlib.Path(sys.argv[3]) if len(sys.argv) > 3 else None)
    elif command == "bench-setup":
        bench_setup(out, pathlib.Path(sys.argv[3]))
    elif command == "bench":
        bench(out, int(sys.argv[3]), int(sys.argv[4]) if len(sys.argv) > 4 else 1)
    elif command == "labels":
        labels_untimed(out)
    else:
        raise SystemExit(f"unknown command: {command}")
