"""The named-entity tagger from Python: a tokenize,ner pipeline built from a model directory and
the NERProcessor on its own, checked against the PyTorch reference tagger on the same bundle."""

import pytest

import _velmora
import ner_reference
from bundle_writer import write_index
from ner_bundle import NERSettings, NERTestModel, write_ner_bundle
from tokenizer_bundle import write_tokenizer_bundle

TEXTS = [
    "Obama visited Paris in 2009. The ACME office in Berlin said nothing!",
    "Zürich école ist schön. x",
]


@pytest.fixture(scope="module")
def model(tmp_path_factory):
    model_dir = tmp_path_factory.mktemp("models")
    base = model_dir / "1.14.0" / "en"
    write_tokenizer_bundle(base / "tokenize_default", seed=3)
    ner = NERTestModel(NERSettings(tag_sets=3, predict_tagset=2), seed=4).eval()
    write_ner_bundle(base / "ner_default", ner)
    write_index(model_dir, [{"processor": name, "package": "default", "path": name + "_default"}
                            for name in ("tokenize", "ner")])
    return model_dir, ner


def test_pipeline_tags_tokens_and_builds_spans_like_the_reference(model):
    model_dir, ner = model
    pipeline = _velmora.Pipeline("en", processors="tokenize,ner", model_dir=model_dir)
    for doc in [pipeline(text) for text in TEXTS] + pipeline(TEXTS):
        expected_tags = [ner_reference.tag(ner, [token.text for token in sentence.tokens])
                         for sentence in doc.sentences]
        assert [[token.ner for token in sentence.tokens] for sentence in doc.sentences] == expected_tags
        assert all(token.multi_ner == [token.ner] for sentence in doc.sentences for token in sentence.tokens)
        sentences = list(doc.sentences)
        spans = [(sentences.index(span.sent), span.tokens[0].text, span.tokens[-1].text, span.type)
                 for span in doc.ents]
        expected_spans = [(sentence, sentences[sentence].tokens[first].text, sentences[sentence].tokens[end - 1].text,
                           kind) for sentence, first, end, kind in ner_reference.entity_spans(expected_tags)]
        assert spans == expected_spans


def test_processor_tags_token_lists(model):
    model_dir, ner = model
    processor = _velmora.NERProcessor(model_dir / "1.14.0" / "en" / "ner_default")
    assert processor.implemented
    tokens = ["Obama", "visited", "New York", "日本"]
    assert processor.tag(tokens) == ner_reference.tag(ner, tokens)
    assert processor.tag([]) == []
    with pytest.raises(_velmora.NERModelError, match="NER cannot encode an empty token"):
        processor.tag(["Paris", ""])
