"""Pipelines with the langid and morphseg stages built from a model directory: documents receive
the reference's language (within the pipeline's language subset) and every word its morphemes."""

import pytest

import _velmora
from bundle_writer import write_index
from langid_bundle import langid_model, write_langid_bundle
from langid_reference import ReferenceIdentifier
from morphseg_bundle import COPY, constant_action, morphseg_model, write_morphseg_bundle
from tokenizer_bundle import write_tokenizer_bundle

TEXTS = ["the cat sat on the mat", "le chat est sur la table", "x", "Zoë’s café 🙂"]


@pytest.fixture(scope="module")
def model_dir(tmp_path_factory):
    root = tmp_path_factory.mktemp("models")
    language = root / "1.14.0" / "en"
    network, assets = langid_model()
    write_langid_bundle(language / "langid_default", network, assets)
    write_tokenizer_bundle(language / "tokenize_default")
    write_morphseg_bundle(language / "morphseg_default", *morphseg_model(), edit=constant_action(COPY))
    write_index(root, [{"processor": name, "package": "default", "path": name + "_default"}
                       for name in ("langid", "tokenize", "morphseg")])
    return root, ReferenceIdentifier(network, assets)


def test_langid_pipeline_sets_the_reference_language(model_dir):
    root, reference = model_dir
    pipeline = _velmora.Pipeline("en", processors="langid", model_dir=root)
    documents = pipeline(TEXTS)
    for text, document in zip(TEXTS, documents):
        tag, margin = reference.identify(text)
        if margin > 1e-3:
            assert document.lang == tag, text
        assert pipeline(text).lang == document.lang


def test_language_subset_restricts_every_answer(model_dir):
    root, reference = model_dir
    pipeline = _velmora.Pipeline("en", processors="langid", model_dir=root, langid_lang_subset=("fr", "xx"))
    assert [document.lang for document in pipeline.bulk_process(TEXTS)] == ["fr"] * len(TEXTS)
    stage = _velmora.LangIDProcessor(root / "1.14.0" / "en" / "langid_default", lang_subset=["de", "it"])
    assert stage.lang_subset == ["de", "it"]
    assert stage.identify_many(TEXTS) == [reference.identify(text, ["de", "it"])[0] for text in TEXTS]
    with pytest.raises(_velmora.LangIDModelError, match="^LangID language subset contains no known language$"):
        _velmora.Pipeline("en", processors="langid", model_dir=root, langid_lang_subset=["xx"])("abc")
    with pytest.raises(_velmora.LangIDModelError, match="^language identification requires non-empty text$"):
        stage.identify("")


def test_morphseg_pipeline_segments_every_word(model_dir):
    root, _ = model_dir
    pipeline = _velmora.Pipeline("en", processors="tokenize,morphseg", model_dir=root)
    for document in [pipeline("The Cats sat. Über alles!"), *pipeline(["Zoë’s café", "Straße"])]:
        assert document.lang == "en"
        words = [word for sentence in document.sentences for word in sentence.words]
        assert words
        for word in words:
            # The test bundle copies every character of the normalised word.
            assert word.morphemes == [word.text.casefold()], word.text
