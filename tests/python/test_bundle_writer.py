"""The shared test bundle writer lays bundles out as the engine expects them."""

import hashlib
import json

import pytest
import torch

from bundle_writer import CORRUPTIONS, random_tensors, write_bundle, write_index, write_model


def read_manifest(bundle):
    return json.loads((bundle / "manifest.json").read_text())


def test_tensors_are_aligned_ordered_and_hashed(tmp_path):
    tensors = random_tensors(
        {"a": ((3,), torch.float32), "b": ((), torch.bfloat16), "c": ((2, 0), torch.int64),
         "d": ((5,), torch.uint8)},
        seed=4,
    )
    bundle = write_bundle(tmp_path / "b", tensors, {"k": 1}, processor="pos", alignment=16,
                          artifacts={"sub/model.pt2": b"pkg"})
    manifest = read_manifest(bundle)
    blob = (bundle / "tensors.bin").read_bytes()
    assert manifest["tensor_file"] == {
        "path": "tensors.bin", "size": len(blob), "sha256": hashlib.sha256(blob).hexdigest()}
    assert manifest["artifacts"] == [
        {"path": "sub/model.pt2", "size": 3, "sha256": hashlib.sha256(b"pkg").hexdigest()}]
    end = 0
    for entry, (name, tensor) in zip(manifest["tensors"], tensors.items()):
        assert entry["name"] == name
        assert entry["offset"] % 16 == 0 and entry["offset"] >= end
        data = blob[entry["offset"]: entry["offset"] + entry["nbytes"]]
        assert data == tensor.contiguous().reshape(-1).view(torch.uint8).numpy().tobytes()
        assert entry["sha256"] == hashlib.sha256(data).hexdigest()
        end = entry["offset"] + entry["nbytes"]
    assert [e["dtype"] for e in manifest["tensors"]] == ["float32", "bfloat16", "int64", "uint8"]


def test_same_seed_gives_identical_bundles(tmp_path):
    tensors = random_tensors({"w": ((4, 4), torch.float32), "v": ((3,), torch.int32)}, seed=9)
    first = write_bundle(tmp_path / "1", tensors, {}, processor="ner", seed=2)
    second = write_bundle(tmp_path / "2", tensors, {}, processor="ner", seed=2)
    assert (first / "tensors.bin").read_bytes() == (second / "tensors.bin").read_bytes()


def test_unknown_corruption_is_refused(tmp_path):
    with pytest.raises(ValueError):
        write_bundle(tmp_path, {}, {}, processor="pos", corrupt="typo")
    assert "flip_gap_byte" in CORRUPTIONS


def test_write_model_adds_bundles_to_the_index(tmp_path):
    tensors = random_tensors({"w": ((2,), torch.float32)})
    write_model(tmp_path, tensors, {}, processor="pos", language="fr", package="gsd")
    write_model(tmp_path, tensors, {}, processor="lemma", language="fr", package="gsd")
    index = json.loads((tmp_path / "1.14.0" / "fr" / "index.json").read_text())
    assert index["format"] == "velmora-model-index" and index["language"] == "fr"
    assert index["bundles"] == [
        {"processor": "pos", "package": "gsd", "path": "pos_gsd"},
        {"processor": "lemma", "package": "gsd", "path": "lemma_gsd"},
    ]
    path = write_index(tmp_path, [], language="de", edit_index=lambda i: i.update(format_version=2))
    assert json.loads(path.read_text())["format_version"] == 2
