"""Pipelines over the example model directory (every processor that needs no compiled
transformer): each stage leaves its annotation on every word or sentence, the default pipeline
parses as its depparse stage alone does, langid answers as the PyTorch reference within the
language subset, morphseg gives every word its morphemes, and a list of texts gives the documents
that the texts give one by one. (Batched kernels may break near-ties of the random weights
differently, so the documents are compared by their words, each stage's agreement between
batched and single runs being checked against its reference in its own tests.)"""

import pytest

import _velmora

import example_models
from langid_bundle import langid_model
from langid_reference import ReferenceIdentifier

TEXTS = ["The dog saw a big cat. It runs!\n\nParis is red.", "Obama visited Zürich in 2009."]
LANGID_TEXTS = ["the cat sat on the mat", "le chat est sur la table", "x", "Zoë’s café 🙂"]


@pytest.fixture(scope="module")
def pipeline(example_model_dir):
    return _velmora.Pipeline("en", processors=",".join(example_models.PROCESSORS), model_dir=example_model_dir)


def words(document):
    return [(sentence.text, [word.text for word in sentence.words]) for sentence in document.sentences]


def trees(document):
    return [[(word.head, word.deprel) for word in sentence.words] for sentence in document.sentences]


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
        for word in sentence.words:
            assert word.lemma is not None and word.upos is not None and word.deprel is not None
            # The test segmenter copies every character of the normalised word.
            assert word.morphemes == [word.text.casefold()], word.text
        assert all(token.ner is not None for token in sentence.tokens)
    assert "\t" in document.to_conll()


def test_a_list_of_texts_gives_the_documents_of_each_text(pipeline):
    one_by_one = [words(pipeline(text)) for text in TEXTS]
    for documents in (pipeline(TEXTS), pipeline.bulk_process(TEXTS)):
        assert [words(document) for document in documents] == one_by_one
        assert all(annotated(document) for document in documents)


def test_the_default_pipeline_parses_every_sentence_as_its_stage_alone(example_model_dir):
    pipeline = _velmora.Pipeline("en", model_dir=example_model_dir)
    document = pipeline(TEXTS[0])
    assert len(document.sentences) >= 2
    for sentence in trees(document):
        heads = [head for head, _ in sentence]
        assert heads.count(0) == 1
        assert all(0 <= head <= len(sentence) and head != position
                   for position, head in enumerate(heads, start=1))
        assert all(relation not in ("<PAD>", "<UNK>", "<EMPTY>", "<ROOT>") for _, relation in sentence)
    stage = next(p for p in pipeline.processors if p.name == "depparse")
    assert trees(stage(document)) == trees(document)
    assert trees(pipeline.bulk_process([TEXTS[0], "A dog."])[0]) == trees(document)


def test_langid_sets_the_reference_language_within_the_subset(example_model_dir):
    reference = ReferenceIdentifier(*langid_model())
    pipeline = _velmora.Pipeline("en", processors="langid", model_dir=example_model_dir)
    documents = pipeline(LANGID_TEXTS)
    for text, document in zip(LANGID_TEXTS, documents):
        tag, margin = reference.identify(text)
        if margin > 1e-3:
            assert document.lang == tag, text
        assert pipeline(text).lang == document.lang
    pipeline = _velmora.Pipeline("en", processors="langid", model_dir=example_model_dir,
                                 langid_lang_subset=("fr", "xx"))
    assert [document.lang for document in pipeline.bulk_process(LANGID_TEXTS)] == ["fr"] * len(LANGID_TEXTS)
    stage = _velmora.LangIDProcessor(example_model_dir / "1.14.0" / "en" / "langid_default", lang_subset=["de", "it"])
    assert stage.lang_subset == ["de", "it"]
    assert stage.identify_many(LANGID_TEXTS) == [reference.identify(text, ["de", "it"])[0] for text in LANGID_TEXTS]
    with pytest.raises(_velmora.LangIDModelError, match="^LangID language subset contains no known language$"):
        _velmora.Pipeline("en", processors="langid", model_dir=example_model_dir, langid_lang_subset=["xx"])("abc")
    with pytest.raises(_velmora.LangIDModelError, match="^language identification requires non-empty text$"):
        stage.identify("")


def test_morphseg_after_tokenize_segments_every_word(example_model_dir):
    pipeline = _velmora.Pipeline("en", processors="tokenize,morphseg", model_dir=example_model_dir)
    for document in [pipeline("The Cats sat. Über alles!"), *pipeline(["Zoë’s café", "Straße"])]:
        assert document.lang == "en"
        all_words = [word for sentence in document.sentences for word in sentence.words]
        assert all_words and all(word.morphemes == [word.text.casefold()] for word in all_words)
