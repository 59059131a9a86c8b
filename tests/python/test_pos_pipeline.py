"""Part-of-speech tags from a "tokenize,pos" pipeline built from a model directory, checked
against the PyTorch reference tagger on the same seeded bundle."""

import pytest

import _velmora
from bundle_writer import write_index
from pos_bundle import PosSetup, build_tagger, tagger_tensors
from pos_reference import reference_tags
from tokenizer_bundle import write_tokenizer_bundle
from bundle_writer import write_bundle

TEXTS = [
    "The cat sat on the mat. A big dog runs!",
    "New York and Paris?! The red cat.",
]


@pytest.fixture(scope="module")
def model(tmp_path_factory):
    model_dir = tmp_path_factory.mktemp("models")
    base = model_dir / "1.14.0" / "en"
    write_tokenizer_bundle(base / "tokenize_default")
    tagger, forward, backward, assets = build_tagger(PosSetup(composite=True, seed=13))
    write_bundle(base / "pos_default", tagger_tensors(tagger, forward, backward), assets, processor="pos")
    write_index(model_dir, [{"processor": name, "package": "default", "path": f"{name}_default"}
                            for name in ("tokenize", "pos")])
    return model_dir, (tagger, forward, backward, assets)


def field(value):
    return "_" if value is None else value


def check_against_reference(doc, reference):
    assert doc.sentences
    for sentence in doc.sentences:
        words = [word.text for word in sentence.words]
        expected = reference_tags(*reference, words)
        assert [(field(w.upos), field(w.xpos), field(w.feats)) for w in sentence.words] == expected


def test_pipeline_tags_like_the_reference(model):
    model_dir, reference = model
    pipeline = _velmora.Pipeline("en", processors="tokenize,pos", model_dir=model_dir)
    for text in TEXTS:
        check_against_reference(pipeline(text), reference)
    for doc in pipeline.bulk_process(TEXTS):
        check_against_reference(doc, reference)


def test_processor_tags_a_document_in_place(model):
    model_dir, reference = model
    stage = _velmora.POSProcessor(model_dir / "1.14.0" / "en" / "pos_default", verify_checksums=True)
    assert stage.implemented
    assert stage.bundle_path == model_dir / "1.14.0" / "en" / "pos_default"
    doc = _velmora.Pipeline("en", processors="tokenize", model_dir=model_dir)(TEXTS[0])
    assert stage(doc) is not None
    check_against_reference(doc, reference)
    with pytest.raises(_velmora.POSModelError, match="^expected a POS bundle, got 'tokenize'$"):
        _velmora.POSProcessor(model_dir / "1.14.0" / "en" / "tokenize_default")
