"""Every processor that needs no compiled transformer, in one pipeline from one model directory:
each stage leaves its annotation on every word or sentence, and a list of texts gives the
documents that the texts give one by one. (Batched kernels may break near-ties of the random
weights differently, so the documents are compared by their words, each stage's agreement
between batched and single runs being checked against its reference in its own tests.)"""

import pytest

import _velmora

import example_models

TEXTS = ["The dog saw a big cat. It runs!\n\nParis is red.", "Obama visited Zürich in 2009."]


@pytest.fixture(scope="module")
def pipeline(example_model_dir):
    return _velmora.Pipeline("en", processors=",".join(example_models.PROCESSORS), model_dir=example_model_dir)


def words(document):
    return [(sentence.text, [word.text for word in sentence.words]) for sentence in document.sentences]


def annotated(document):
    return all(sentence.sentiment is not None and sentence.constituency is not None
               and all(word.upos is not None and word.deprel is not None for word in sentence.words)
               for sentence in document.sentences)


def test_every_stage_annotates_every_word_and_sentence(pipeline):
    assert [processor.name for processor in pipeline.processors] == list(example_models.PROCESSORS)
    document = pipeline(TEXTS[0])
    assert len(document.sentences) >= 2
    for sentence in document.sentences:
        assert sentence.sentiment is not None
        assert str(sentence.constituency).startswith("(ROOT")
        assert [word.head for word in sentence.words].count(0) == 1
        for word in sentence.words:
            assert word.lemma is not None and word.upos is not None and word.deprel is not None
        assert all(token.ner is not None for token in sentence.tokens)
    assert "\t" in document.to_conll()


def test_a_list_of_texts_gives_the_documents_of_each_text(pipeline):
    one_by_one = [words(pipeline(text)) for text in TEXTS]
    for documents in (pipeline(TEXTS), pipeline.bulk_process(TEXTS)):
        assert [words(document) for document in documents] == one_by_one
        assert all(annotated(document) for document in documents)
