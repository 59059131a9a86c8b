"""The Sentence and Token classes."""

import pytest

from _velmora import ConstituencyTree, Document


def parsed():
    return Document.from_dict([[
        {"id": 1, "text": "Dogs", "head": 2, "deprel": "nsubj"},
        {"id": 2, "text": "bark", "head": 0, "deprel": "root"},
        {"id": (2, 1), "text": "E", "head": 0, "deprel": "root"},
        {"id": 3, "text": "!", "head": 2},
    ]])


def test_identity_and_texts():
    sentence = parsed().sentences[0]
    assert sentence.index == sentence.id == 0
    assert sentence.sent_id == "0" and sentence.speaker is None and sentence.doc_id is None
    assert sentence.comments == []
    assert sentence.to_conll() == sentence.doc.to_conll()
    assert [w.text for w in sentence.words] == ["Dogs", "bark", "!"]
    assert [w.id for w in sentence.all_words] == [1, 2, (2, 1), 3]
    assert [w.id for w in sentence.empty_words] == [(2, 1)]


def test_dependencies_skip_words_without_relation_and_empty_words():
    sentence = parsed().sentences[0]
    triples = sentence.dependencies
    assert [(h.text, rel, w.text) for h, rel, w in triples] == [("bark", "nsubj", "Dogs"), ("ROOT", "root", "bark")]
    root = triples[1][0]
    assert root.id == 0 and root.text == "ROOT" and root.parent is None
    assert [w.text for w in sentence.get_roots()] == ["bark"]


def test_a_root_without_relation_still_counts_as_root():
    doc = Document.from_dict([[{"id": 1, "text": "a", "head": 0}]])
    assert doc.sentences[0].dependencies == []
    assert [w.text for w in doc.sentences[0].get_roots()] == ["a"]


@pytest.mark.parametrize("head", [3, -1, -2])
def test_heads_outside_the_sentence_fail_the_whole_list(head):
    # A negative head names no word: it must not count from the end of the sentence.
    doc = Document.from_dict([[{"id": 1, "text": "a", "head": 0, "deprel": "root"},
                               {"id": 2, "text": "b", "head": head, "deprel": "dep"}]])
    with pytest.raises(IndexError, match="index is outside the sequence"):
        doc.sentences[0].dependencies


def test_sentiment_and_constituency_are_editable():
    sentence = parsed().sentences[0]
    assert sentence.sentiment is None and sentence.constituency is None
    sentence.sentiment = 2
    assert sentence.sentiment == 2
    sentence.sentiment = None
    assert sentence.sentiment is None
    tree = ConstituencyTree("ROOT", [ConstituencyTree("NN", [ConstituencyTree("Dogs")])])
    sentence.constituency = tree
    assert sentence.constituency == tree and sentence.constituency is not tree
    sentence.constituency = None
    assert sentence.constituency is None
    for bad in (1.5, 2**31):
        with pytest.raises(TypeError):
            sentence.sentiment = bad
    with pytest.raises(TypeError):
        sentence.constituency = "(ROOT x)"


def test_token_ids_and_fields():
    doc = Document.from_dict([[{"id": (1, 2), "text": "ab"}, {"id": 1, "text": "a"}, {"id": 2, "text": "b"},
                               {"id": 3, "text": "c", "start_char": 2, "end_char": 3}]], "ab c")
    mwt, single = doc.sentences[0].tokens
    assert mwt.id == (1, 2) and single.id == (3,)
    assert mwt.is_mwt() and not single.is_mwt()
    assert (single.start_char, single.end_char, mwt.start_char) == (2, 3, None)
    assert mwt.sent == doc.sentences[0]
    assert len(mwt.to_dict()) == 3 and repr(mwt) == repr(mwt.to_dict())


def test_token_setters_and_their_checks():
    token = parsed().sentences[0].tokens[0]
    token.text = "Cats"
    assert token.text == "Cats" and token.words[0].text == "Dogs"
    token.misc, token.ner, token.multi_ner = "A=1", "S-X", ("S-X", "O")
    assert (token.misc, token.ner, token.multi_ner) == ("A=1", "S-X", ["S-X", "O"])
    token.misc = token.ner = None
    assert token.misc is None and token.ner is None
    token.manual_expansion = True
    assert token.manual_expansion is True
    token.manual_expansion = None
    assert token.manual_expansion is None
    token.spaces_before, token.spaces_after = "\t", ""
    assert (token.spaces_before, token.spaces_after) == ("\t", "")
    with pytest.raises(ValueError, match="a token must have non-empty text"):
        token.text = ""
    for name, bad in [("text", None), ("spaces_after", None), ("multi_ner", None), ("multi_ner", "S-X"),
                      ("multi_ner", ["a", 1]), ("manual_expansion", 1), ("manual_expansion", 0)]:
        with pytest.raises(TypeError):
            setattr(token, name, bad)
