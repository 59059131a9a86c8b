"""Sentence sentiment from Python: a tokenize,sentiment pipeline built from a model directory gives
every sentence the PyTorch reference's class of its token texts, and the SentimentProcessor's own
classify and classify_many agree with the reference."""

import pytest

import _velmora
import sentiment_reference as reference
from bundle_writer import write_index
from sentiment_bundle import SentimentModel, SentimentSettings, write_sentiment_bundle
from tokenizer_bundle import write_tokenizer_bundle

TEXTS = [
    "The movie was good. It was not boring!",
    "Paris dogs' film was bad.\n\nNew York was fun.",
    "",
]
SENTENCES = [["the", "movie", "was", "good"], ["PARIS", "dogs'"], [], ["fun"] * 9, ["not", "boring", "film"]]


@pytest.fixture(scope="module")
def model(tmp_path_factory):
    model_dir = tmp_path_factory.mktemp("models")
    base = model_dir / "1.14.0" / "en"
    write_tokenizer_bundle(base / "tokenize_default", seed=3)
    sentiment = SentimentModel(SentimentSettings(method="CONCAT", extra_dim=3, lower=True, bilstm_hidden=3,
                                             filters=(2, (3, 3)), channels=4, fc_shapes=(5,)), seed=21).eval()
    reference.centre_classes(sentiment, SENTENCES + [text.split() for text in TEXTS])
    write_sentiment_bundle(base / "sentiment_default", sentiment)
    write_index(model_dir, [{"processor": p, "package": "default", "path": f"{p}_default"}
                            for p in ("tokenize", "sentiment")])
    return model_dir, sentiment


def token_texts(doc):
    return [[token.text for token in sentence.tokens] for sentence in doc.sentences]


def test_pipeline_gives_every_sentence_the_reference_class(model):
    model_dir, sentiment = model
    pipeline = _velmora.Pipeline("en", processors="tokenize,sentiment", model_dir=model_dir)
    docs = pipeline(TEXTS)
    sentences = [words for doc in docs for words in token_texts(doc)]
    assert len(sentences) >= 4
    expected = reference.classify(sentiment, sentences)
    assert [sentence.sentiment for doc in docs for sentence in doc.sentences] == expected
    # One text at a time batches only its own sentences.
    for text in TEXTS:
        doc = pipeline(text)
        assert [s.sentiment for s in doc.sentences] == reference.classify(sentiment, token_texts(doc))


def test_processor_classifies_like_the_reference(model):
    model_dir, sentiment = model
    processor = _velmora.SentimentProcessor(model_dir / "1.14.0" / "en" / "sentiment_default")
    assert processor.implemented
    assert processor.classify(tokens=SENTENCES[0]) == reference.classify(sentiment, SENTENCES[:1])[0]
    assert len(set(processor.classify_many(SENTENCES))) > 1
    assert processor.classify_many(SENTENCES) == reference.classify(sentiment, SENTENCES)
    assert processor.classify_many(SENTENCES, batch_size=4) == reference.classify(sentiment, SENTENCES, 4)
    with pytest.raises(ValueError, match="^sentiment batch_size must be positive$"):
        processor.classify_many([], batch_size=0)
