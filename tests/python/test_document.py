"""The Document class: construction, properties, coreference, equality."""

import gc

import pytest

from _velmora import ConstituencyTree, CorefChain, CorefMention, Document


def two_sentences():
    return Document.from_dict([
        [{"id": 1, "text": "Zoë", "ner": "S-PER"}, {"id": 2, "text": "sings", "misc": "SpaceAfter=No"}],
        [{"id": 1, "text": "Bob"}, {"id": 2, "text": "hums"}],
    ])


def test_an_empty_document():
    doc = Document()
    assert (doc.text, doc.codepoint_count, len(doc.sentences), doc.num_tokens, doc.num_words) == ("", 0, 0, 0, 0)
    assert doc.to_dict() == [] and doc.to_conll() == "" and repr(doc) == "[]"
    assert doc.byte_offset(0) == 0
    with pytest.raises(IndexError, match="code point index is outside the document"):
        doc.byte_offset(1)


def test_text_is_addressed_by_code_point():
    doc = Document(text="aé€")
    assert doc.codepoint_count == 3
    assert [doc.byte_offset(i) for i in range(4)] == [0, 1, 3, 6]
    with pytest.raises(TypeError):
        doc.byte_offset(-1)


def test_text_must_be_a_valid_string():
    with pytest.raises(TypeError):
        Document("\ud800")
    with pytest.raises(TypeError):
        Document(b"bytes")


def test_counts_and_sequences():
    doc = two_sentences()
    assert doc.num_tokens == 4 and doc.num_words == 4
    assert [w.text for w in doc.iter_words()] == ["Zoë", "sings", "Bob", "hums"]
    assert [t.text for t in doc.iter_tokens()] == ["Zoë", "sings", "Bob", "hums"]
    assert [s.text for s in doc.ents] == ["Zoë"] and len(doc.entities) == 1


def test_language_can_be_set_cleared_and_empty():
    doc = Document("x")
    assert doc.lang is None
    doc.lang = "en"
    assert doc.lang == "en"
    doc.lang = ""
    assert doc.lang == ""
    doc.lang = None
    assert doc.lang is None
    with pytest.raises(TypeError):
        doc.lang = 3


def test_rebuild_entities_follows_edited_tags():
    doc = two_sentences()
    doc.sentences[1].tokens[0].ner = "B-PER"
    doc.sentences[1].tokens[1].ner = "E-PER"
    assert len(doc.ents) == 1
    doc.rebuild_entities()
    assert [e.text for e in doc.ents] == ["Zoë", "Bob hums"]


def test_coref_reads_shared_chains_and_writes_copies():
    doc = two_sentences()
    chain = CorefChain(0, [CorefMention(0, 0, 1), CorefMention(1, 0, 1)], "Zoë", 0)
    doc.coref = [chain]
    first, second = doc.coref, doc.coref
    assert first is not second
    assert [(c.index, c.representative_text, c.representative_index) for c in first] == [(0, "Zoë", 0)]
    assert doc.sentences[1].words[0].coref_chains[0].chain.representative_text == "Zoë"
    doc.coref = ()
    assert doc.coref == [] and doc.sentences[1].words[0].coref_chains == []


def test_coref_chains_outlive_their_replacement():
    doc = two_sentences()
    doc.coref = [CorefChain(3, [CorefMention(0, 0, 2)], "Zoë sings")]
    kept = doc.coref[0]
    mention = kept.mentions[0]
    attachment = doc.sentences[0].words[0].coref_chains[0]
    doc.coref = [CorefChain(4, [], "other")]
    del doc
    gc.collect()
    assert (kept.index, kept.representative_text, mention.end_word) == (3, "Zoë sings", 2)
    assert attachment.chain.index == 3


def test_coref_setter_refuses_other_objects_and_checks_mentions():
    doc = two_sentences()
    with pytest.raises(TypeError):
        doc.coref = [None]
    with pytest.raises(TypeError):
        doc.coref = CorefChain(0, [], "x")
    with pytest.raises(IndexError, match="a coreference mention has an invalid sentence index"):
        doc.coref = [CorefChain(0, [CorefMention(2, 0, 1)], "x")]


@pytest.mark.parametrize("pick", [
    lambda d: (d, "text"), lambda d: (d.sentences[0], d), lambda d: (d.iter_tokens()[0], d.iter_words()[0]),
    lambda d: (d.iter_words()[0], d.iter_tokens()[0]), lambda d: (d.ents[0], d.ents[0].tokens[0]),
])
def test_comparing_with_another_class_is_refused(pick):
    first, second = pick(two_sentences())
    with pytest.raises(TypeError):
        first == second


def test_equality_is_identity_of_the_storage_and_hashes_agree():
    doc = two_sentences()
    again = doc.sentences[0].doc
    pairs = [
        (doc, again),
        (doc.sentences[1], again.sentences[-1]),
        (doc.iter_tokens()[2], again.sentences[1].tokens[0]),
        (doc.iter_words()[0], again.sentences[0].all_words[0]),
        (doc.ents[0], again.sentences[0].ents[0]),
    ]
    for first, second in pairs:
        assert first == second and hash(first) == hash(second)
        assert second in {first}
        assert first is not second
    assert doc != two_sentences() and doc.sentences[0] != doc.sentences[1]
    assert doc.iter_tokens()[0] != doc.iter_tokens()[1] and doc.iter_words()[0] != doc.iter_words()[1]
    tree = ConstituencyTree("S")
    doc.sentences[0].constituency = tree
    assert hash(doc.sentences[0].constituency) == hash(tree)
