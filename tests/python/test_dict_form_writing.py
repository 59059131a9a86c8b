"""Writing documents as the dictionary form and as JSON text."""

import json

import pytest

from _velmora import ConstituencyTree, CorefChain, CorefMention, Document


def single_token(**token_fields):
    doc = Document.from_dict([[{"id": 1, "text": "Hello", **token_fields}]])
    return doc, doc.sentences[0].tokens[0]


HEAD = [("id", 1), ("text", "Hello")]


@pytest.mark.parametrize("fields, before, after, written", [
    ({}, "", " ", HEAD),  # default spacing writes no MISC
    ({"lemma": "hello"}, "", "", HEAD + [("lemma", "hello"), ("misc", "SpaceAfter=No")]),
    # A stored MISC keeps its place and sorts with the added pieces.
    ({"misc": "Gloss=x", "start_char": 0, "end_char": 5}, "", "\n",
     HEAD + [("misc", "Gloss=x|SpacesAfter=\\n"), ("start_char", 0), ("end_char", 5)]),
    ({}, "  ", "", HEAD + [("misc", "SpaceAfter=No|SpacesBefore=\\s\\s")]),  # added pieces alone keep their order
    ({"misc": "zeta=1|alpha=2"}, "", " ", HEAD + [("misc", "zeta=1|alpha=2")]),  # stored pieces alone are not sorted
    # Stored pieces in byte order: the added piece sorts in among them (bytes, so é after a).
    ({"misc": "a=1|\u00e9=1"}, "", "", HEAD + [("misc", "SpaceAfter=No|a=1|\u00e9=1")]),
    # Out of order: sorting would reorder them for good, so the added piece goes last.
    ({"misc": "\u00e9=1|a=1"}, "", "", HEAD + [("misc", "\u00e9=1|a=1|SpaceAfter=No")]),
])
def test_spacing_is_folded_into_misc_and_reads_back(fields, before, after, written):
    doc, token = single_token(**fields)
    token.spaces_before, token.spaces_after = before, after
    assert list(doc.to_dict()[0][0].items()) == written
    again = Document.from_dict(doc.to_dict()).sentences[0].tokens[0]
    assert (again.misc, again.spaces_before, again.spaces_after) == (fields.get("misc"), before, after)


@pytest.mark.parametrize(
    "spaces,escaped",
    [(" \t", "\\s\\t"), ("\r\n", "\\r\\n"), ("|\\", "\\p\\\\"), ("\u00a0", "\\u00A0"), ("ab", "ab"),
     ("\x0b\x0c\x1c\x1f\x85", "\\u000B\\u000C\\u001C\\u001F\\u0085"), ("\u2009\u2028\u3000", "\\u2009\\u2028\\u3000")],
)
def test_spacing_escapes_round_trip(spaces, escaped):
    doc, token = single_token()
    token.spaces_after = spaces
    entries = doc.to_dict()
    assert entries[0][0]["misc"] == "SpacesAfter=" + escaped
    assert Document.from_dict(entries).sentences[0].tokens[0].spaces_after == spaces


def test_multi_word_token_writes_its_entry_then_its_words_without_tags():
    doc = Document.from_dict([[
        {"id": (1, 2), "text": "ab", "ner": "S-ORG", "multi_ner": ["S-ORG", "O"], "misc": "SpaceAfter=No"},
        {"id": 1, "text": "a", "ner": "ignored"}, {"id": 2, "text": "b"}, {"id": 3, "text": "c"},
    ]])
    entries = doc.to_dict()[0]
    assert entries[0] == {"id": (1, 2), "text": "ab", "misc": "SpaceAfter=No", "ner": "S-ORG",
                          "multi_ner": ["S-ORG", "O"]}
    assert entries[1:3] == [{"id": 1, "text": "a"}, {"id": 2, "text": "b"}]
    assert doc.sentences[0].tokens[0].to_dict() == entries[:3]


def test_a_single_word_token_writes_its_tags_on_its_word_entry():
    doc = Document.from_dict([[{"id": 1, "text": "Bob", "ner": "S-PER", "multi_ner": ["S-PER", "B-X"]}]])
    entry = doc.to_dict()[0][0]
    assert list(entry.items())[-2:] == [("ner", "S-PER"), ("multi_ner", ["S-PER", "B-X"])]
    assert "ner" not in doc.sentences[0].words[0].to_dict()


def test_empty_words_sit_between_the_tokens_around_their_id():
    doc = Document.from_dict([[
        {"id": (0, 1), "text": "E0"}, {"id": 1, "text": "a"}, {"id": (1, 1), "text": "E1"}, {"id": 2, "text": "b"},
    ]])
    assert [e["id"] for e in doc.to_dict()[0]] == [(0, 1), 1, (1, 1), 2]


def test_empty_words_inside_a_multi_word_token_follow_their_word():
    entries = [{"id": (1, 2), "text": "del"}, {"id": 1, "text": "de"}, {"id": (1, 1), "text": "E"},
               {"id": 2, "text": "el"}, {"id": 3, "text": "z"}]
    doc = Document.from_dict([entries])
    assert [e["id"] for e in doc.to_dict()[0]] == [(1, 2), 1, (1, 1), 2, 3]
    assert Document.from_dict(doc.to_dict()).to_dict() == doc.to_dict()
    assert [w.id for w in doc.sentences[0].all_words] == [1, (1, 1), 2, 3]


def test_empty_words_whose_index_exceeds_their_word_survive_the_round_trip():
    # (0, 1) and (1, 2) look like ranges, but a range comes before its first word.
    entries = [{"id": (0, 1), "text": "E"}, {"id": 1, "text": "a"}, {"id": (1, 1), "text": "F"},
               {"id": (1, 2), "text": "G"}, {"id": (2, 3), "text": "bc"}, {"id": 2, "text": "b"},
               {"id": 3, "text": "c"}]
    doc = Document.from_dict([entries])
    sentence = doc.sentences[0]
    assert [t.id for t in sentence.tokens] == [(1,), (2, 3)]
    assert [w.id for w in sentence.empty_words] == [(0, 1), (1, 1), (1, 2)]
    assert doc.to_dict() == [entries]


def test_every_word_key_in_order():
    entry = {
        "id": 1, "text": "dogs", "lemma": "dog", "upos": "NOUN", "xpos": "NNS", "feats": "Number=Plur", "head": 0,
        "deprel": "root", "deps": "0:root", "misc": "Gloss=dogs", "start_char": 0, "end_char": 4,
        "manual_expansion": False, "ner": "S-ANIMAL", "multi_ner": ["S-ANIMAL"], "morphemes": ["dog", "s"],
    }
    doc = Document.from_dict([[entry]], "dogs ")
    assert list(doc.to_dict()[0][0].items()) == list(entry.items())


def test_coreference_attachments_are_written_last_but_for_misc():
    doc = Document.from_dict([[{"id": 1, "text": "She"}, {"id": 2, "text": "left"}]])
    doc.sentences[0].tokens[0].spaces_after = ""
    doc.coref = [CorefChain(0, [CorefMention(0, 0, 1)], "She", 0)]
    entry = doc.to_dict()[0][0]
    assert list(entry) == ["id", "text", "coref_chains", "misc"]
    assert entry["coref_chains"] == [{"index": 0, "representative_text": "She", "is_start": True,
                                      "is_end": True, "is_representative": True}]


def test_json_text_is_the_dumps_of_the_dictionary_form():
    doc = Document.from_dict([[{"id": (1, 2), "text": "Zürich's"}, {"id": 1, "text": "Zürich"},
                               {"id": 2, "text": "'s", "manual_expansion": True}]])
    assert format(doc, "") == json.dumps(doc.to_dict(), ensure_ascii=False)
    assert format(doc, "json") == format(doc, "x") == format(doc, "")
    assert repr(doc) == json.dumps(doc.to_dict(), ensure_ascii=False, indent=2) == str(doc)
    assert "Zürich" in repr(doc) and "null" not in repr(doc)
    assert json.loads(repr(doc))[0][0]["id"] == [1, 2]


@pytest.mark.parametrize("spec", ["conll", "c", "CoNLL-U", "cx", "C"])
def test_format_specs_starting_with_c_give_conllu(spec):
    doc = Document.from_dict([[{"id": 1, "text": "a"}]])
    assert format(doc, spec) == doc.to_conll()
    assert format(doc.sentences[0], spec) == doc.sentences[0].to_conll()


def test_sentence_formats_as_a_python_literal():
    doc = Document.from_dict([[{"id": 1, "text": "a", "manual_expansion": True}]])
    sentence = doc.sentences[0]
    assert format(sentence, "") == repr(sentence) == repr(sentence.to_dict())
    assert "True" in repr(sentence)


def test_span_entries_always_hold_offsets():
    doc = Document.from_dict([[{"id": 1, "text": "Bob", "ner": "S-PER"}]])
    assert doc.ents[0].to_dict() == {"text": "Bob", "type": "PER", "start_char": None, "end_char": None}
    doc = Document.from_dict([[{"id": 1, "text": "Bob", "ner": "S-PER", "start_char": 0, "end_char": 3}]], "Bob")
    assert doc.ents[0].to_dict() == {"text": "Bob", "type": "PER", "start_char": 0, "end_char": 3}


def test_writing_leaves_the_document_unchanged():
    doc = Document.from_dict([[{"id": 1, "text": "a", "misc": "SpaceAfter=No"}]])
    doc.sentences[0].constituency = ConstituencyTree("ROOT")
    first = doc.to_dict()
    assert doc.to_dict() == first and doc.sentences[0].tokens[0].spaces_after == ""
