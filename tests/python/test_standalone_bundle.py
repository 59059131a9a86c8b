"""ModelBundle and TensorDescriptor from Python: path and flag conversions, identity and tensor
table, descriptors handed out by reference, and bundle failures as ModelBundleError."""

import gc
import json
import os
import pathlib

import pytest
import torch

from _velmora import ModelBundle, ModelBundleError, TensorDescriptor
from bundle_writer import random_tensors, write_bundle

SPECS = {
    "embedding.weight": ((10, 4), torch.float32),
    "counts": ((3,), torch.int64),
    "scalar": ((), torch.float16),
}


@pytest.fixture
def bundle_dir(tmp_path):
    return write_bundle(tmp_path / "bundle", random_tensors(SPECS, seed=3), {"config": {}}, processor="pos",
                        language="de", package="gsd", dorvek_version="1.10.0", resources_version="1.14.0")


def manifest_tensors(directory):
    return json.loads((directory / "manifest.json").read_text())["tensors"]


@pytest.mark.parametrize("as_path", [str, pathlib.Path, os.fsencode], ids=["str", "Path", "bytes"])
def test_a_bundle_opens_from_str_path_or_bytes(bundle_dir, as_path):
    bundle = ModelBundle(as_path(bundle_dir))
    assert bundle.path == bundle_dir
    assert bundle.tensor_names == list(SPECS)


def test_arguments_that_do_not_convert_raise_type_error(bundle_dir):
    with pytest.raises(TypeError):
        ModelBundle(7)
    with pytest.raises(TypeError):
        ModelBundle(bundle_dir, 1)
    with pytest.raises(TypeError):
        ModelBundle(bundle_dir, verify_checksums=None)


def test_identity_and_tensor_file_come_from_the_manifest(bundle_dir):
    bundle = ModelBundle(path=bundle_dir, verify_checksums=True)
    assert (bundle.language, bundle.processor, bundle.package) == ("de", "pos", "gsd")
    assert (bundle.dorvek_version, bundle.resources_version) == ("1.10.0", "1.14.0")
    assert bundle.checksums_verified is True
    assert bundle.tensor_file_size == (bundle_dir / "tensors.bin").stat().st_size


def test_path_is_an_absolute_pathlib_path_also_from_a_relative_one(bundle_dir, monkeypatch):
    monkeypatch.chdir(bundle_dir.parent)
    path = ModelBundle("bundle").path
    assert isinstance(path, pathlib.Path)
    assert path.is_absolute()
    assert path == bundle_dir


def test_checksums_are_verified_by_default_and_only_then(tmp_path):
    broken = write_bundle(tmp_path / "broken", random_tensors(SPECS), {"config": {}}, processor="pos",
                          corrupt="tensor_digest")
    with pytest.raises(ModelBundleError, match="^tensor checksum mismatch: 'embedding.weight'$"):
        ModelBundle(broken)
    unverified = ModelBundle(broken, verify_checksums=False)
    assert unverified.checksums_verified is False
    assert unverified.tensor_names == list(SPECS)


def test_descriptors_mirror_the_manifest_table(bundle_dir):
    bundle = ModelBundle(bundle_dir)
    for entry in manifest_tensors(bundle_dir):
        descriptor = bundle.tensor(entry["name"])
        assert isinstance(descriptor, TensorDescriptor)
        assert (descriptor.name, descriptor.dtype, descriptor.shape) == (entry["name"], entry["dtype"],
                                                                        entry["shape"])
        assert (descriptor.offset, descriptor.nbytes, descriptor.sha256) == (entry["offset"], entry["nbytes"],
                                                                            entry["sha256"])
    assert bundle.tensor("scalar").shape == []


def test_tensor_takes_its_name_by_position_only_and_refuses_unknown_names(bundle_dir):
    bundle = ModelBundle(bundle_dir)
    with pytest.raises(TypeError):
        bundle.tensor(name="counts")
    with pytest.raises(ModelBundleError) as caught:
        bundle.tensor("missing.weight")
    assert str(caught.value) == "tensor is not present in bundle: 'missing.weight'"


def test_results_are_new_lists_on_every_access(bundle_dir):
    bundle = ModelBundle(bundle_dir)
    names = bundle.tensor_names
    names.append("changed")
    assert bundle.tensor_names == list(SPECS)
    shape = bundle.tensor("embedding.weight").shape
    shape[0] = 99
    assert bundle.tensor("embedding.weight").shape == [10, 4]


def test_a_descriptor_keeps_its_bundle_alive(bundle_dir):
    descriptor = ModelBundle(bundle_dir).tensor("counts")
    gc.collect()
    assert (descriptor.name, descriptor.shape, descriptor.nbytes) == ("counts", [3], 24)

