"""CorefPlan and CorefPrediction from Python: predictions equal to the PyTorch reference,
argument conversion and checks, the plan's own bundle, loading errors (JSON reader errors pass
through unconverted), and the coref processor in a pipeline."""

import gc

import pytest

import _velmora
from _velmora import CorefModelError, CorefPlan, CorefPrediction, CorefProcessor, ModelBundle, ModelBundleError
from bundle_writer import write_index
from coref_reference import CorefNetwork, CorefReference, document_words
from lock_probe import helper_progress, needs_gil  # noqa: F401  (fixture)
from tokenizer_bundle import write_tokenizer_bundle

SENTENCES = [["the", "cat", "dog", "run"], ["a", "cat", "the", "dog", "x"], ["un", "dog", "cat"], ["b", "the", "cat"]]


@pytest.fixture(scope="session")
def package(package):
    return package.read_bytes()


@pytest.fixture(scope="module")
def reference():
    network = CorefNetwork(hidden_layers=1, rough_k=4, singletons=True, full_pairwise=True, link_bias=-3.0, seed=11)
    return CorefReference(network, window=12, batch_size=3, use_zeros=True, word_table={"zebra": [37, 38]})


@pytest.fixture(scope="module")
def bundle(reference, package, tmp_path_factory):
    return reference.write(tmp_path_factory.mktemp("coref") / "bundle", package)


@pytest.fixture(scope="module")
def plan(bundle):
    return CorefPlan(bundle)


def as_dict(prediction):
    return {"word_clusters": prediction.word_clusters,
            "span_clusters": [[list(span) for span in cluster] for cluster in prediction.span_clusters],
            "zero_words": prediction.zero_words}


@pytest.mark.parametrize("sentences, speakers", [
    (SENTENCES, None),
    (SENTENCES, ["ann", "bob", "ann", "bob"]),
    ([["zebra", "cats", "running", "unbreakable"]] * 3, ["ann", "ann", "bob"]),
    ([["dog"]], None),
    # Words the tokenizer splits at punctuation.
    ([["Jennifer", "M.", "Anderson", "did", "n't", "e-mail", "U.S.", "."], ["The", "cat", "'s", "--", "(", "x", ")"]],
     ["ann", "bob"]),
])
def test_predictions_equal_the_reference(plan, reference, sentences, speakers):
    words, ids = document_words(sentences)
    word_speakers = [speakers[i] for i in ids] if speakers else []
    prediction = plan.resolve(words, ids, word_speakers)
    assert isinstance(prediction, CorefPrediction)
    assert as_dict(prediction) == reference.resolve(words, ids, word_speakers)
    assert all(isinstance(span, tuple) for cluster in prediction.span_clusters for span in cluster)


def test_prediction_fields_are_new_lists_on_every_access(plan):
    words, ids = document_words(SENTENCES)
    prediction = plan.resolve(words, ids)
    first = prediction.word_clusters
    assert first and first == prediction.word_clusters and first is not prediction.word_clusters
    first.clear()
    assert prediction.word_clusters
    assert prediction.zero_words == prediction.zero_words


def test_resolve_arguments_convert_strictly_and_checks_raise_value_error(plan):
    words, ids = document_words(SENTENCES)
    assert as_dict(plan.resolve(words, ids)) == as_dict(plan.resolve(words=tuple(words), sentence_ids=tuple(ids),
                                                                      speakers=[]))
    with pytest.raises(TypeError):
        plan.resolve(["the", "cat"], [0, -1])
    with pytest.raises(TypeError):
        plan.resolve("the cat", [0] * 7)
    with pytest.raises(TypeError):
        plan.resolve([1, 2], [0, 0])
    with pytest.raises(ValueError, match="^coref words and sentence ids must have equal lengths$"):
        plan.resolve(["the", "cat"], [0])
    with pytest.raises(ValueError, match="^coref words and speakers must have equal lengths$"):
        plan.resolve(["the", "cat"], [0, 0], ["ann"])
    with pytest.raises(ValueError, match="^coref sentence id is outside the document$"):
        plan.resolve(["the", "cat", "dog"], [0, 0, 3])
    assert plan.resolve([], []).word_clusters == []


def test_plan_reports_its_options_and_bundle(bundle):
    plan = CorefPlan(bundle_path=str(bundle), verify_checksums=True)
    assert plan.predicts_singletons is True
    assert plan.predicts_zero_anaphora is True
    owned = CorefPlan(bundle).bundle
    gc.collect()
    assert isinstance(owned, ModelBundle)
    assert owned.processor == "coref"
    assert owned.checksums_verified is False
    assert plan.bundle.checksums_verified is True
    with pytest.raises(TypeError):
        CorefPlan(bundle, 1)


def test_loading_failures(reference, package, tmp_path):
    with pytest.raises(CorefModelError, match="^expected a coref bundle, got 'pos'$"):
        CorefPlan(reference.write(tmp_path / "pos", package, processor="pos"))
    with pytest.raises(CorefModelError, match="^coref config dimensions are invalid$"):
        CorefPlan(reference.write(tmp_path / "window", package, assets=reference.assets(bert_window_size=4)))
    # The JSON reader's errors are not turned into the model's error.
    assets = reference.assets()
    del assets["config"]["rough_k"]
    with pytest.raises(RuntimeError, match="^missing JSON key 'rough_k' at assets.config$") as caught:
        CorefPlan(reference.write(tmp_path / "missing", package, assets=assets))
    assert not isinstance(caught.value, ModelBundleError)
    with pytest.raises(ModelBundleError):
        CorefPlan(tmp_path / "absent")


@pytest.fixture(scope="module")
def model_dir(bundle, tmp_path_factory):
    import shutil

    root = tmp_path_factory.mktemp("models")
    base = root / "1.14.0" / "en"
    write_tokenizer_bundle(base / "tokenize_default", seed=3)
    shutil.copytree(bundle, base / "coref_default")
    write_index(root, [{"processor": "tokenize", "package": "default", "path": "tokenize_default"},
                       {"processor": "coref", "package": "default", "path": "coref_default"}])
    return root


def sentence_words(doc):
    return [[word.text for word in sentence.words] for sentence in doc.sentences]


def test_pipeline_stores_the_resolvers_chains(model_dir, plan):
    pipeline = _velmora.Pipeline("en", processors="tokenize,coref", model_dir=model_dir)
    coref = pipeline.processors[-1]
    doc = pipeline("The cat saw the dog. The dog ran off. It was a cat and a dog.")
    words, ids = document_words(sentence_words(doc))
    prediction = plan.resolve(words, ids)
    assert len(doc.coref) == len(prediction.word_clusters)
    for chain, heads in zip(doc.coref, prediction.word_clusters):
        assert len(chain.mentions) == len(heads)
    assert isinstance(coref, CorefProcessor) and coref.predicts_zero_anaphora is True


def test_processor_reruns_replace_generated_empty_words(model_dir):
    processor = CorefProcessor(model_dir / "1.14.0" / "en" / "coref_default")
    assert processor.implemented and processor.predicts_singletons
    doc = _velmora.Document.from_dict([[{"id": i + 1, "text": w} for i, w in enumerate(s)] for s in SENTENCES])
    first = processor(doc)
    chains = [(c.representative_text, len(c.mentions)) for c in first.coref]
    empties = [len(s.empty_words) for s in first.sentences]
    second = processor(first)
    assert [(c.representative_text, len(c.mentions)) for c in second.coref] == chains
    assert [len(s.empty_words) for s in second.sentences] == empties


@needs_gil
def test_only_resolving_lets_other_threads_run(helper_progress, plan, bundle):
    words, ids = document_words(SENTENCES * 5)
    assert helper_progress(lambda: CorefPlan(bundle)) == 0
    assert helper_progress(lambda: plan.predicts_singletons) == 0
    assert helper_progress(lambda: plan.resolve(words, ids), until_seen=10) > 0
