"""Sequences and their iterators behave like read-only Python sequences over views."""

import pytest

from _velmora import ConstituencyTree, Document


def five_sentences():
    return Document.from_dict([[{"id": 1, "text": f"s{i}", "ner": "S-X", "misc": "SpaceAfter=No"}] for i in range(5)])


def texts(sequence):
    return [element.text for element in sequence]


def test_integer_indices_count_from_either_end():
    sentences = five_sentences().sentences
    assert sentences[-1].text == "s4" and sentences[0].text == "s0"
    for index in (5, -6, 2**70, -(2**70)):
        with pytest.raises(IndexError, match="index is outside the sequence"):
            sentences[index]


@pytest.mark.parametrize(
    "key", [slice(1, 4, 2), slice(None, None, -1), slice(10, 20), slice(-2, None), slice(4, 0, -2), slice(-100, 100)]
)
def test_slices_address_the_same_elements_as_a_list(key):
    sentences = five_sentences().sentences
    assert texts(sentences[key]) == texts(list(sentences))[key]


def test_slices_compose():
    sentences = five_sentences().sentences
    assert texts(sentences[::-1][1:3]) == ["s3", "s2"]
    assert texts(reversed(sentences[1:4])) == ["s3", "s2", "s1"]
    assert len(sentences[10:20]) == 0 and texts(reversed(sentences[10:20])) == []
    with pytest.raises(ValueError):
        sentences[::0]
    with pytest.raises(TypeError):
        sentences[1.0]
    with pytest.raises(TypeError):
        sentences["1"]
    with pytest.raises(TypeError):
        sentences["a":]


def test_iterators():
    sentences = five_sentences().sentences
    iterator = iter(sentences)
    assert iter(iterator) is iterator
    assert texts(iterator) == ["s0", "s1", "s2", "s3", "s4"]
    for _ in range(2):
        with pytest.raises(StopIteration) as stop:
            next(iterator)
        assert stop.value.args == ("",)
    assert texts(reversed(sentences)) == texts(sentences)[::-1]


def test_membership_is_identity_of_storage_and_row():
    doc, twin = five_sentences(), five_sentences()
    assert doc.sentences[2] in doc.sentences and doc.sentences[2] not in doc.sentences[3:]
    assert twin.sentences[2] not in doc.sentences
    word = doc.sentences[1].words[0]
    assert word in doc.sentences[1].words and word in doc.iter_words() and word not in doc.sentences[0].words
    assert doc.iter_tokens()[3] in doc.sentences[3].tokens
    assert doc.ents[4] in doc.sentences[4].ents and doc.ents[4] not in doc.sentences[3].ents
    with pytest.raises(TypeError):
        doc.sentences[0].tokens[0] in doc.sentences[0].words
    with pytest.raises(TypeError):
        "s0" in doc.sentences


def test_word_sequences_over_row_lists():
    doc = Document.from_dict([[{"id": 1, "text": "a"}, {"id": (1, 2), "text": "F"}, {"id": (1, 1), "text": "E"},
                               {"id": 2, "text": "b"}]])
    all_words = doc.sentences[0].all_words
    assert texts(all_words) == ["a", "E", "F", "b"]
    assert texts(all_words[::-2]) == ["b", "E"]
    assert texts(reversed(all_words[1:])) == ["b", "F", "E"]
    assert doc.sentences[0].empty_words[0] in all_words and doc.sentences[0].empty_words[0] not in doc.iter_words()
    assert repr(doc.sentences[0].empty_words[:0]) == "<velmora.WordSequence length=0>"


def test_reprs_name_the_class_and_length():
    doc = five_sentences()
    assert repr(doc.sentences) == "<velmora.SentenceSequence length=5>"
    assert repr(doc.iter_tokens()[1:3]) == "<velmora.TokenSequence length=2>"
    assert repr(doc.ents) == "<velmora.SpanSequence length=5>"
    assert repr(ConstituencyTree("a").children) == "<velmora.TreeSequence length=0>"


def test_tree_sequences():
    children = [ConstituencyTree(label) for label in "abc"]
    tree = ConstituencyTree("S", children)
    assert [t.label for t in tree.children[::-1]] == ["c", "b", "a"]
    assert [t.label for t in reversed(tree.children)] == ["c", "b", "a"]
    assert tree.children[1] in tree.children and ConstituencyTree("b") not in tree.children
    with pytest.raises(IndexError, match="tree index is outside the sequence"):
        tree.children[3]
    with pytest.raises(TypeError):
        "a" in tree.children


def test_sequences_keep_the_document_alive():
    words = Document.from_dict([[{"id": 1, "text": "kept"}]]).sentences[0].words
    iterator = iter(words)
    del words
    assert next(iterator).text == "kept"

