import pathlib
import sys

import pytest

# Test helpers (bundle writers, PyTorch references) live in tests/support.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))


@pytest.fixture(scope="session")
def example_model_dir(tmp_path_factory):
    """One model directory with a random-weight bundle for every processor but coref, written
    once per session for the suites that run the whole pipeline."""
    import example_models
    import torch

    # The models are tiny: an intra-op pool only adds its start-up and hand-over costs.
    threads = torch.get_num_threads()
    torch.set_num_threads(1)
    try:
        return example_models.write(tmp_path_factory.mktemp("example_models"))
    finally:
        torch.set_num_threads(threads)


@pytest.fixture(scope="session")
def package(tmp_path_factory):
    """The tiny test encoder (seeded weights) compiled once per session, for the transformer,
    coreference and thread tests."""
    from aoti_packages import TinyEncoder, compile_package, encoder_dynamic_shapes, encoder_inputs

    return compile_package(TinyEncoder(max_length=64), encoder_inputs([2, 8, 9, 40, 3]),
                           tmp_path_factory.mktemp("aoti"), key="standalone_tiny_encoder",
                           dynamic_shapes=encoder_dynamic_shapes(64))
