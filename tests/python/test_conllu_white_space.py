"""Every white-space and line-break character between tokens, from the dictionary form and from
raw text through the tokenizer: the CoNLL-U splits into the same lines for every line reader,
passes the UD validator, and reads back with every character in place."""

import unicodedata

import pytest

import _velmora
import ud_corpus
from _velmora import Document
from tokenizer_bundle import write_tokenizer_bundle

# Every character that Python calls white space, and the line breaks among them, in pairs too.
WHITE_SPACE = [chr(c) for c in range(0x110000) if chr(c).isspace()]
LINE_BREAKS = [c for c in WHITE_SPACE if len(f"a{c}b".splitlines()) == 2]
SEPARATORS = WHITE_SPACE + ["\r\n", "\u2028\u3000", "\t\x0b"]


def words_between(separators):
    """A text of words w0, w1, ... with one separator between each two, and its word offsets."""
    text, offsets = "", []
    for index, separator in enumerate(separators + [""]):
        word = f"w{index}"
        offsets.append((len(text), len(text) + len(word)))
        text += word + separator
    return text, offsets


def annotated_document():
    """Two sentences of words with every separator between them, annotated enough to validate."""
    text, offsets = words_between(SEPARATORS)
    half = len(offsets) // 2
    sentences = [[{"id": k + 1, "text": text[start:end], "start_char": start, "end_char": end, "upos": "X",
                   "head": 0 if k == 0 else 1, "deprel": "root" if k == 0 else "dep"}
                  for k, (start, end) in enumerate(part)] for part in (offsets[:half], offsets[half:])]
    return Document.from_dict(sentences, text)


def spacing(doc):
    return [(t.text, t.spaces_before, t.spaces_after) for s in doc.sentences for t in s.tokens]


def test_the_spacing_characters_are_all_python_white_space():
    assert len(WHITE_SPACE) == 29 and "\u3000" in WHITE_SPACE and "\x1f" in WHITE_SPACE
    assert len(LINE_BREAKS) == 10 and "\u2028" in LINE_BREAKS and "\x85" in LINE_BREAKS


def test_conllu_lines_are_the_same_for_every_line_reader_and_read_back():
    doc = annotated_document()
    conll = doc.to_conll()
    assert conll.split("\n") == conll.splitlines()
    # The "# text" line: a space for each line break, NFC for the rest, the words as they are.
    assert [line for line in conll.split("\n") if line.startswith("# text = ")] == [
        "# text = " + "".join(" " if c in LINE_BREAKS else unicodedata.normalize("NFC", c) if c.isspace() else c
                              for c in sentence.text) for sentence in doc.sentences]
    again = Document.from_dict(ud_corpus.to_dict_form(ud_corpus.parse(conll)))
    assert again.to_conll() == conll
    assert spacing(again) == spacing(doc)
    assert [s.text for s in again.sentences] == [s.text for s in doc.sentences]
    via_dict = Document.from_dict(doc.to_dict(), doc.text)
    assert via_dict.to_dict() == doc.to_dict() and spacing(via_dict) == spacing(doc)


def test_conllu_passes_the_ud_validator(tmp_path):
    udtools = pytest.importorskip("udtools")
    path = tmp_path / "white_space.conllu"
    path.write_text(annotated_document().to_conll() + "\n\n", encoding="utf-8")
    state = udtools.Validator(lang="en", level=2).validate_files([str(path)])
    assert state.passed(), str(state)


def test_tokenized_raw_text_gives_the_same_lines_and_spacing(tmp_path):
    tokenizer = _velmora.TokenizeProcessor(write_tokenizer_bundle(tmp_path / "tokenize", seed=3))
    text, _ = words_between(SEPARATORS)
    doc = tokenizer(Document(text))
    conll = doc.to_conll()
    assert conll.split("\n") == conll.splitlines()
    assert spacing(Document.from_dict(ud_corpus.to_dict_form(ud_corpus.parse(conll)))) == spacing(doc)
