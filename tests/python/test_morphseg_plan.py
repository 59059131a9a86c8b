"""MorphSegPlan from Python: morphemes equal to the PyTorch reference, the edge cases of empty
words and lists, argument conversion, the plan's own bundle, loading errors, its place among the
and release of the interpreter lock around segmentation only."""

import gc
import pathlib

import pytest

from _velmora import ModelBundleError, MorphSegModelError, MorphSegPlan
from lock_probe import helper_progress, needs_gil  # noqa: F401  (fixture)
from morphseg_bundle import COPY, constant_action, morphseg_model, write_morphseg_bundle
from morphseg_reference import ReferenceSegmenter

WORDS = ["unhappiness", "Cats", "cats", "Straße", "ﬁsh", "", "running", "re-do", "日本語", "un @@do", "Über"]


@pytest.fixture(scope="module")
def model():
    return morphseg_model(seed=4)


@pytest.fixture(scope="module")
def bundles(model, tmp_path_factory):
    root = tmp_path_factory.mktemp("morphseg")
    network, assets = model
    return {
        "main": write_morphseg_bundle(root / "main", network, assets),
        "copy": write_morphseg_bundle(root / "copy", network, assets, edit=constant_action(COPY)),
        "wrong_kind": write_morphseg_bundle(root / "wrong_kind", network, assets, processor="MorphSeg"),
        "one_layer": write_morphseg_bundle(root / "one_layer", *morphseg_model(num_layers=1)),
    }


def test_morphemes_equal_the_reference(model, bundles):
    reference = ReferenceSegmenter(*model)
    plan = MorphSegPlan(bundles["main"])
    together = plan.segment_many(WORDS)
    for word, morphemes in zip(WORDS, together):
        expected, margin = reference.segment(word)
        if margin < 1e-4:
            continue
        assert morphemes == expected, word
        assert plan.segment(word) == expected, word


def test_empty_word_and_empty_list_give_nothing(bundles):
    plan = MorphSegPlan(bundles["main"])
    assert plan.segment("") == []
    assert plan.segment_many([]) == []
    assert plan.segment_many(["", "a"])[0] == []


def test_arguments_by_position_or_keyword_and_any_sequence_of_str(bundles):
    plan = MorphSegPlan(bundle_path=str(bundles["copy"]), verify_checksums=True)
    assert plan.segment(word="Cats") == ["cats"]
    assert plan.segment_many(words=("un @@do", "Ab")) == [["un", "do"], ["ab"]]
    assert plan.segment_many(["x"]) == [["x"]]
    for bad in [lambda: plan.segment_many("abc"), lambda: plan.segment(3), lambda: plan.segment_many([1]),
                lambda: plan.segment(b"abc"), lambda: MorphSegPlan(bundles["copy"], 1),
                lambda: MorphSegPlan(3)]:
        with pytest.raises(TypeError):
            bad()
    assert MorphSegPlan(bytes(bundles["copy"])).segment("A") == ["a"]


def test_the_bundle_is_the_plans_own_and_outlives_every_other_reference(bundles):
    bundle = MorphSegPlan(bundles["main"]).bundle
    gc.collect()
    assert bundle.processor == "morphseg"
    assert bundle.checksums_verified is False
    assert bundle.path == pathlib.Path(bundles["main"]).resolve()
    assert "classifier.1.weight" in bundle.tensor_names


def test_loading_failures_raise_the_bundle_or_the_model_error(bundles, tmp_path):
    with pytest.raises(MorphSegModelError, match="^expected a morphseg bundle, got 'MorphSeg'$"):
        MorphSegPlan(bundles["wrong_kind"])
    with pytest.raises(MorphSegModelError, match="^unsupported MorphSeg architecture; the native profile"):
        MorphSegPlan(bundles["one_layer"])
    with pytest.raises(ModelBundleError) as caught:
        MorphSegPlan(tmp_path / "missing")
    assert not isinstance(caught.value, MorphSegModelError)
    assert issubclass(MorphSegModelError, ModelBundleError)


@needs_gil
def test_segmenting_releases_the_interpreter_lock_and_loading_does_not(bundles, helper_progress):
    words = ["unhappiness", "日本語", "cats", "re-do"] * 3000
    assert helper_progress(lambda: MorphSegPlan(bundles["main"])) == 0
    plan = MorphSegPlan(bundles["main"])
    assert helper_progress(lambda: plan.bundle) == 0
    assert helper_progress(lambda: plan.segment_many(words), until_seen=10) > 0
    assert helper_progress(lambda: plan.segment("unhappiness"), until_seen=10) > 0
