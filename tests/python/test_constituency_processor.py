"""The constituency processor from Python: a seeded bundle parses like the PyTorch reference,
and processing a tagged document sets one tree per sentence."""

import pytest

import _velmora
import constituency_bundle
from constituency_reference import Parser
from _velmora import ConstituencyModelError, ConstituencyProcessor, Document

SENTENCES = [
    (["The", "cat", "sat", "on", "the", "mat"], ["DT", "NN", "VBD", "IN", "DT", "NN"]),
    (["New York"], ["NNP"]),
    (["a", "big", "zebra", "ran"], ["DT", "JJ", "XX", "VBD"]),
]


@pytest.fixture(scope="module")
def bundle(tmp_path_factory):
    model, assets = constituency_bundle.make_model(seed=11)
    path = constituency_bundle.write(tmp_path_factory.mktemp("constituency") / "bundle", model, assets)
    return path, Parser(model, assets)


def tagged_document():
    sentences = [[{"id": i + 1, "text": word, "xpos": tag, "upos": "X"} for i, (word, tag) in enumerate(zip(*s))]
                 for s in SENTENCES]
    return Document.from_dict(sentences)


def test_processor_parses_like_the_reference(bundle):
    path, reference = bundle
    processor = ConstituencyProcessor(path)
    assert processor.implemented and processor.uses_xpos
    assert processor.bundle_path == path.resolve()
    for words, tags in SENTENCES:
        assert str(processor.parse(words, tags)) == reference.parse(words, tags).tree
    trees = processor.parse_many(sentences=[s[0] for s in SENTENCES], tags=[s[1] for s in SENTENCES])
    assert [str(tree) for tree in trees] == [reference.parse(*s).tree for s in SENTENCES]


def test_processing_a_document_sets_every_sentence_tree(bundle):
    path, reference = bundle
    processor = ConstituencyProcessor(path)
    doc = tagged_document()
    result = processor(doc)
    assert [str(sentence.constituency) for sentence in result.sentences] == [
        reference.parse(*s).tree for s in SENTENCES]
    # The given document is annotated in place.
    assert [str(s.constituency) for s in doc.sentences] == [str(s.constituency) for s in result.sentences]
    [again] = processor.bulk_process([tagged_document()])
    assert [str(s.constituency) for s in again.sentences] == [str(s.constituency) for s in result.sentences]


def test_parse_errors_reach_python_as_model_errors(bundle):
    path, _ = bundle
    processor = ConstituencyProcessor(path)
    with pytest.raises(ConstituencyModelError, match="^constituency parser cannot parse an empty sentence$"):
        processor.parse([], [])
    doc = Document.from_dict([[{"id": 1, "text": "cat", "upos": "NOUN"}]])
    with pytest.raises(ConstituencyModelError, match="^constituency requires XPOS on every word$"):
        processor(doc)
    assert doc.sentences[0].constituency is None
    with pytest.raises(_velmora.ModelBundleError):
        ConstituencyProcessor(path.parent / "missing")
