"""Every sentence of a real treebank goes through the dictionary form and back.

The English EWT development treebank is read with the ``conllu`` package, turned into the
dictionary form (no character offsets), built with ``Document.from_dict`` and written back
with ``to_conll()``, ``to_dict()`` and as JSON text.

The CoNLL-U comes back line for line: every data line exactly as in the file (the spacing
that the reader took out of MISC is folded back in as "SpaceAfter=No"), and a "# text = "
line equal to the file's, rebuilt from the tokens and their spacing. The dictionary form has
no sentence-level keys, so the file's other comments are gone and every block starts with
the generated "# sent_id = <index>" line.

``to_dict()`` folds the spacing back into MISC the same way, so it returns the entries as
given, except that a MISC holding both spacing and other pieces comes back sorted byte-wise.
"""

import json

import pytest

import ud_corpus
from _velmora import Document

CORPUS = ud_corpus.find_shared_data(__file__, "en_ewt-ud-dev.conllu")
pytestmark = pytest.mark.skipif(CORPUS is None, reason="the shared EWT treebank is not next to this repository")

SPACING_PREFIXES = ("SpaceAfter=", "SpacesAfter=", "SpacesBefore=")


def is_spacing(piece):
    return piece.startswith(SPACING_PREFIXES)


@pytest.fixture(scope="module")
def treebank():
    text = CORPUS.read_text(encoding="utf-8")
    entries = ud_corpus.to_dict_form(ud_corpus.parse(text))
    return text, entries, Document.from_dict(entries)


def file_blocks(text):
    return [block.split("\n") for block in text.strip("\n").split("\n\n")]


def test_every_sentence_comes_back_as_conllu_line_for_line(treebank):
    text, entries, doc = treebank
    expected_blocks = file_blocks(text)
    written_blocks = [block.split("\n") for block in doc.to_conll().split("\n\n")]
    assert len(written_blocks) == len(expected_blocks) == len(entries) == 2001
    for index, (written, expected) in enumerate(zip(written_blocks, expected_blocks)):
        text_lines = [line for line in expected if line.startswith("# text = ")]
        assert written[:2] == [f"# sent_id = {index}", *text_lines], f"sentence {index}"
        assert written[2:] == [line for line in expected if not line.startswith("#")], f"sentence {index}"


def test_the_written_treebank_passes_the_ud_validator(treebank, tmp_path):
    """The official validator's format levels, when it is installed (package udtools)."""
    udtools = pytest.importorskip("udtools")
    _, _, doc = treebank
    path = tmp_path / "written.conllu"
    path.write_text(doc.to_conll() + "\n\n", encoding="utf-8")
    state = udtools.Validator(lang="en", level=2).validate_files([str(path)])
    assert state.passed(), str(state)


def test_the_file_uses_only_the_spacing_piece_this_test_expects(treebank):
    _, entries, _ = treebank
    pieces = {piece for sentence in entries for entry in sentence for piece in entry.get("misc", "").split("|")}
    assert {piece for piece in pieces if is_spacing(piece)} == {"SpaceAfter=No"}


def expected_entries(sentence):
    """The entries as to_dict() writes them back: spacing folded into MISC, sorted when mixed."""
    result, range_end = [], 0
    for entry in sentence:
        entry = dict(entry)
        entry_id = entry["id"]
        token_level = isinstance(entry_id, int) and entry_id > range_end or (
            isinstance(entry_id, tuple) and entry_id[1] > entry_id[0])
        if isinstance(entry_id, tuple) and entry_id[1] > entry_id[0]:
            range_end = entry_id[1]
        pieces = entry.get("misc", "").split("|")
        if token_level and "SpaceAfter=No" in pieces and len(pieces) > 1:
            entry["misc"] = "|".join(sorted(pieces))
        result.append(entry)
    return result


def test_every_sentence_comes_back_as_the_dictionary_form(treebank):
    _, entries, doc = treebank
    written = doc.to_dict()
    assert len(written) == len(entries)
    for index, (got, given) in enumerate(zip(written, entries)):
        assert got == expected_entries(given), f"sentence {index}"
        assert [list(entry) for entry in got] == [list(entry) for entry in expected_entries(given)]


def test_the_dictionary_form_is_a_fixed_point(treebank):
    _, _, doc = treebank
    again = Document.from_dict(doc.to_dict())
    assert again.to_dict() == doc.to_dict()
    assert again.to_conll() == doc.to_conll()


def test_json_text_reads_back_into_the_same_document(treebank):
    _, _, doc = treebank
    compact, indented = format(doc, ""), repr(doc)
    assert json.loads(compact) == json.loads(indented)
    from_json = Document.from_dict(json.loads(indented))
    assert from_json.to_conll() == doc.to_conll()
    assert from_json.to_dict() == doc.to_dict()
    assert format(from_json, "") == compact
