"""Raw text through a tokenize pipeline built from a model directory, checked against the
PyTorch reference tokenizer on the same seeded bundle."""

import pytest

import _velmora
from bundle_writer import write_index
from tokenizer_bundle import write_tokenizer_bundle
from tokenizer_reference import ReferenceTokenizer

TEXTS = [
    "The quick brown fox jumps over the lazy dog. It costs $1,200.50 today!",
    "Call (555) 123-4567 now.\n\nWrite to jo@example.com or see https://example.org/a?b=c.",
    "Zoë’s café serves crème brûlée — naïvely priced at €5.",
    "短い文です。もう一つ。",
]


@pytest.fixture(scope="module")
def model(tmp_path_factory):
    model_dir = tmp_path_factory.mktemp("models")
    bundle = write_tokenizer_bundle(model_dir / "1.14.0" / "en" / "tokenize_default", seed=3)
    write_index(model_dir, [{"processor": "tokenize", "package": "default", "path": "tokenize_default"}])
    return model_dir, ReferenceTokenizer(bundle)


def tokens_of(doc):
    return [[(token.text, token.start_char, token.end_char) for token in sentence.tokens]
            for sentence in doc.sentences]


def reference_tokens(reference, text):
    return [[(token.text, token.start, token.end) for token in sentence]
            for sentence in reference.process(text)]


def test_pipeline_tokenizes_like_the_reference(model):
    model_dir, reference = model
    pipeline = _velmora.Pipeline("en", processors="tokenize", model_dir=model_dir)
    for text in TEXTS:
        doc = pipeline(text)
        assert doc.text == text
        assert doc.lang == "en"
        assert tokens_of(doc) == reference_tokens(reference, text)


def test_a_list_gives_the_same_documents_as_one_text_at_a_time(model):
    model_dir, _ = model
    pipeline = _velmora.Pipeline("en", processors="tokenize", model_dir=model_dir)
    docs = pipeline(TEXTS)
    assert [tokens_of(doc) for doc in docs] == [tokens_of(pipeline(text)) for text in TEXTS]
    assert [doc.to_conll() for doc in pipeline.bulk_process(TEXTS)] == [doc.to_conll() for doc in docs]


def test_processor_predicts_one_label_per_unit(model):
    model_dir, _ = model
    processor = _velmora.TokenizeProcessor(model_dir / "1.14.0" / "en" / "tokenize_default")
    assert processor.implemented
    labels = processor.predict_labels("Hello there. Bye!")
    assert len(labels) == len("Hello there. Bye!")
    assert set(labels) <= {0, 1, 2, 3, 4}
    with pytest.raises(_velmora.TokenizerModelError, match="one tokenizer paragraph"):
        processor.predict_labels("One.\n\nTwo.")
