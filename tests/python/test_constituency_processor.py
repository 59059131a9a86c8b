"""The constituency processor from Python: a seeded bundle parses like the PyTorch reference,
and processing a tagged document sets one tree per sentence."""

import pytest
import torch

import _velmora
import bundle_writer
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
    """The bundle path and the reference's tree of each sentence."""
    # Tiny single-step operators only lose time in the shared intra-op thread pool.
    threads = torch.get_num_threads()
    torch.set_num_threads(1)
    model, assets = constituency_bundle.make_model(seed=11)
    path = constituency_bundle.write(tmp_path_factory.mktemp("constituency") / "bundle", model, assets)
    reference = Parser(model, assets)
    yield path, [reference.parse(words, tags).tree for words, tags in SENTENCES]
    torch.set_num_threads(threads)


def tagged_document():
    sentences = [[{"id": i + 1, "text": word, "xpos": tag, "upos": "X"} for i, (word, tag) in enumerate(zip(*s))]
                 for s in SENTENCES]
    return Document.from_dict(sentences)


def test_processor_parses_like_the_reference(bundle):
    path, expected = bundle
    processor = ConstituencyProcessor(path)
    assert processor.implemented and processor.uses_xpos
    assert processor.bundle_path == path.resolve()
    assert [str(processor.parse(words, tags)) for words, tags in SENTENCES] == expected
    trees = processor.parse_many(sentences=[s[0] for s in SENTENCES], tags=[s[1] for s in SENTENCES])
    assert [str(tree) for tree in trees] == expected


def test_processing_a_document_sets_every_sentence_tree(bundle):
    path, expected = bundle
    processor = ConstituencyProcessor(path)
    doc = tagged_document()
    result = processor(doc)
    assert [str(sentence.constituency) for sentence in result.sentences] == expected
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


def test_pipeline_loads_the_parser_from_a_model_directory(tmp_path):
    model, assets = constituency_bundle.make_model(seed=2)
    bundle_writer.write_model(tmp_path, model.tensors(), assets, processor="constituency")
    # The bundle loads (and its faults surface) before the requirement check.
    with pytest.raises(_velmora.ProcessorRequirementsError,
                       match="^processor 'constituency' is missing requirements: tokenize, pos$"):
        _velmora.Pipeline("en", processors="constituency", model_dir=tmp_path)
    assets["unary_limit"] = -1
    bundle_writer.write_model(tmp_path, model.tensors(), assets, processor="constituency")
    with pytest.raises(ConstituencyModelError, match="^constituency unary limit cannot be negative$"):
        _velmora.Pipeline("en", processors="constituency", model_dir=tmp_path)
