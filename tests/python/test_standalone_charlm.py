"""CharLMPlan from Python: per-word features equal to the PyTorch reference in both
directions, the plan's own bundle, argument conversion and loading errors, and release of
the interpreter lock around encoding only."""

import gc

import pytest
import torch

from _velmora import CharLMModelError, CharLMPlan, ModelBundle, ModelBundleError
from charlm_reference import (CharLanguageModel, charlm_assets, default_units, reference_encode,
                              write_charlm_bundle)
from lock_probe import helper_progress, needs_gil  # noqa: F401  (fixture)

SENTENCES = [
    ["abc", "déf"],
    ["xyz", "日本", "😀a", "ßé"],
    ["a b", "", "j"],
    ["abcdefghij" * 3],
]


@pytest.fixture(scope="module")
def models():
    return {True: CharLanguageModel(default_units(), seed=1), False: CharLanguageModel(default_units(), seed=2)}


@pytest.fixture(scope="module")
def bundles(models, tmp_path_factory):
    root = tmp_path_factory.mktemp("charlm")
    return {forward: write_charlm_bundle(root / str(forward), model, forward) for forward, model in models.items()}


@pytest.mark.parametrize("forward", [True, False], ids=["forward", "backward"])
def test_features_equal_the_reference_in_both_directions(models, bundles, forward):
    plan = CharLMPlan(bundles[forward])
    assert plan.is_forward is forward
    assert plan.hidden_size == models[forward].hidden
    for words in SENTENCES:
        features = plan.encode(words)
        assert isinstance(features, list) and all(isinstance(row, list) for row in features)
        expected = reference_encode(models[forward], forward, words)
        torch.testing.assert_close(torch.tensor(features), expected, rtol=1e-5, atol=1e-5)


def test_encode_takes_any_sequence_of_str_by_position_or_keyword(bundles):
    plan = CharLMPlan(bundle_path=bundles[True], verify_checksums=True)
    assert plan.encode(words=("abc", "déf")) == plan.encode(["abc", "déf"])
    assert plan.encode([]) == []
    for words in ["abc", [1], None]:
        with pytest.raises(TypeError):
            plan.encode(words)


def test_the_bundle_is_the_plans_own_and_outlives_every_other_reference(bundles):
    bundle = CharLMPlan(bundles[False]).bundle
    gc.collect()
    assert isinstance(bundle, ModelBundle)
    assert bundle.processor == "backward_charlm"
    assert bundle.checksums_verified is False
    assert bundle.tensor("char_emb.weight").shape[0] == len(default_units())


def test_checksums_are_verified_only_when_asked(bundles):
    assert CharLMPlan(bundles[True], True).bundle.checksums_verified is True
    for bad in [(bundles[True], 1), (42,)]:
        with pytest.raises(TypeError):
            CharLMPlan(*bad)


def test_loading_failures_raise_the_bundle_or_the_model_error(models, tmp_path):
    model = models[True]
    with pytest.raises(ModelBundleError) as caught:
        CharLMPlan(tmp_path / "absent")
    assert type(caught.value) is ModelBundleError

    wrong_kind = write_charlm_bundle(tmp_path / "pos", model, True, processor="pos")
    with pytest.raises(CharLMModelError, match="^expected a forward/backward_charlm bundle, got 'pos'$"):
        CharLMPlan(wrong_kind)

    # Malformed assets surface as the JSON reader's error, a plain RuntimeError.
    assets = {key: value for key, value in charlm_assets(model, True).items() if key != "is_forward_lm"}
    no_direction = write_charlm_bundle(tmp_path / "no_direction", model, True, assets=assets)
    with pytest.raises(RuntimeError, match="^missing JSON key 'is_forward_lm' at charlm assets$") as caught:
        CharLMPlan(no_direction)
    assert not isinstance(caught.value, ModelBundleError)


@needs_gil
def test_encoding_releases_the_interpreter_lock_and_loading_does_not(bundles, helper_progress):
    words = ["abcdefghij", "日本", "déf"] * 4000
    assert helper_progress(lambda: CharLMPlan(bundles[True])) == 0
    plan = CharLMPlan(bundles[True])
    assert helper_progress(lambda: plan.hidden_size) == 0
    assert helper_progress(lambda: plan.encode(words), until_seen=10) > 0
