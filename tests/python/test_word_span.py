"""The Word and Span classes."""

import pytest

from _velmora import Document


def doc_with_mwt():
    return Document.from_dict([[
        {"id": (1, 2), "text": "New York's", "ner": "S-LOC"},
        {"id": 1, "text": "New York", "lemma": "New York", "upos": "PROPN"},
        {"id": 2, "text": "'s", "head": 1},
        {"id": (2, 1), "text": "E"},
        {"id": 3, "text": "mayor", "ner": "S-PER", "morphemes": ["mayor"]},
    ]])


def test_optional_fields_can_be_set_and_cleared():
    word = doc_with_mwt().sentences[0].words[0]
    word.lemma = None
    assert word.lemma is None
    word.pos = "NOUN"
    assert word.upos == "NOUN"
    word.upos = None
    assert word.pos is None
    for name in ("xpos", "feats", "deprel", "deps", "misc"):
        setattr(word, name, "v")
        assert getattr(word, name) == "v"
        setattr(word, name, None)
        assert getattr(word, name) is None
    word.head = 3
    assert word.head == 3
    word.head = None
    assert word.head is None


def test_morphemes_replace_the_whole_list():
    word = doc_with_mwt().sentences[0].words[2]
    word.morphemes = ("may", "or")
    assert word.morphemes == ["may", "or"]
    for bad in ("mayor", None, ["a", 1]):
        with pytest.raises(TypeError):
            word.morphemes = bad
    assert word.morphemes == ["may", "or"]


@pytest.mark.parametrize("name,value", [("text", None), ("text", 3), ("head", 1.5), ("head", 2**31), ("lemma", 3)])
def test_values_of_the_wrong_type_are_refused(name, value):
    word = doc_with_mwt().sentences[0].words[0]
    with pytest.raises(TypeError):
        setattr(word, name, value)


def test_the_root_word_is_immutable():
    doc = Document.from_dict([[{"id": 1, "text": "a", "head": 0, "deprel": "root"}]])
    root = doc.sentences[0].dependencies[0][0]
    assert root.id == 0 and root.text == "ROOT" and root.to_dict() == {"id": 0, "text": "ROOT"}
    for name, value in [("text", "x"), ("lemma", "x"), ("pos", None), ("head", 1), ("morphemes", [])]:
        with pytest.raises(RuntimeError, match="the synthetic ROOT word is immutable"):
            setattr(root, name, value)
    with pytest.raises(ValueError, match="a word must have non-empty text"):
        doc.sentences[0].words[0].text = ""


def test_parent_of_words():
    sentence = doc_with_mwt().sentences[0]
    first, second, empty = sentence.all_words[1], sentence.words[1], sentence.empty_words[0]
    assert first.parent == sentence.tokens[0] and second.parent.id == (1, 2)
    assert empty.parent is None
    assert first.sent == sentence


def test_word_dict_has_no_token_tags_and_repr_is_its_repr():
    word = doc_with_mwt().sentences[0].words[2]
    assert word.to_dict() == {"id": 3, "text": "mayor", "morphemes": ["mayor"]}
    assert repr(word) == repr(word.to_dict())
    assert word.start_char is None and word.end_char is None and word.manual_expansion is None


def test_spans():
    doc = doc_with_mwt()
    place, person = doc.ents
    assert (place.text, place.type, person.type) == ("New York's", "LOC", "PER")
    assert place.pretty_print() == "<Span text=New York's;type=LOC>"
    assert [t.text for t in place.tokens] == ["New York's"]
    assert [w.text for w in place.words] == ["New York", "'s"]
    assert place.sent == doc.sentences[0] and place.doc == doc
    assert (place.start_char, place.end_char) == (None, None)
    assert repr(place) == repr(place.to_dict())
    assert place == doc.sentences[0].ents[0] and place != person
