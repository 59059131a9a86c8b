"""Bundles of the C++ model bundle tests, one folder per case, named as the tests name them.

Tensors "first" (float32 2x3 = 0..5), "second" (int64 [7, 8, 9]), "empty" (float32 0x7),
"last" (float16 scalar 1.5); 64-byte alignment leaves gaps of filler bytes between them. The
failure cases each break one thing; the C++ test holds the message each one must be refused with.
"""

import pathlib

import torch

from bundle_writer import DTYPE_NAMES, write_bundle

TENSORS = {"first": torch.arange(6, dtype=torch.float32).reshape(2, 3),
           "second": torch.tensor([7, 8, 9], dtype=torch.int64),
           "empty": torch.zeros(0, 7),
           "last": torch.tensor(1.5, dtype=torch.float16)}
ASSETS = {"config": {"hidden": 3}, "vocab": ["a", "b"]}
ARTIFACTS = {"model.pt2": b"compiled package"}


def drop(*keys):
    def edit(manifest):
        target = manifest
        for key in keys[:-1]:
            target = target[key]
        del target[keys[-1]]
    return edit


def put(value, *keys):
    def edit(manifest):
        target = manifest
        for key in keys[:-1]:
            target = target[key]
        target[keys[-1]] = value
    return edit


# Bundles that open (some only without verification).
VALID = {
    "valid": {},
    "no_artifacts": dict(artifacts={}),
    "artifacts_absent": dict(edit_manifest=drop("artifacts")),
    "extra_member": dict(edit_manifest=put({"x": [1]}, "converter")),
    "dot_path": dict(edit_manifest=put("./assets.json", "assets", "path")),
    "no_digests": dict(edit_manifest=lambda m: (m["assets"].pop("sha256"), m["tensor_file"].pop("sha256"))),
    "empty_file": dict(tensors={"e": torch.zeros(0, 7), "f": torch.zeros(3, 0, dtype=torch.int8)}, artifacts={}),
    "packed": dict(alignment=1, tensors={"bytes": torch.tensor([1, 2, 3], dtype=torch.uint8),
                                         "floats": torch.tensor([0.5, -2.0]), "none": torch.zeros(0),
                                         "next": torch.tensor([4], dtype=torch.int32)}),
    "all_dtypes": dict(tensors={str(d).split(".")[1]: torch.zeros(2, dtype=d) for d in DTYPE_NAMES}),
}

# Bundles that must be refused.
BROKEN = {
    "format": dict(corrupt="format"),
    "format_version": dict(corrupt="format_version"),
    "version_text": dict(edit_manifest=put("1", "format_version")),
    "byte_order": dict(corrupt="byte_order"),
    "no_language": dict(edit_manifest=drop("language")),
    "no_tensors": dict(edit_manifest=drop("tensors")),
    "alignment_0": dict(edit_manifest=put(0, "tensor_alignment")),
    "alignment_3": dict(edit_manifest=put(3, "tensor_alignment")),
    "alignment_negative": dict(edit_manifest=put(-8, "tensor_alignment")),
    "assets_absolute": dict(corrupt="absolute_assets_path"),
    "assets_empty": dict(edit_manifest=put("", "assets", "path")),
    "assets_parent": dict(corrupt="parent_assets_path"),
    "assets_inner_parent": dict(edit_manifest=put("sub/../assets.json", "assets", "path")),
    "assets_not_string": dict(edit_manifest=put(7, "assets", "path")),
    "assets_missing": dict(corrupt="missing_assets"),
    "tensor_file_missing": dict(corrupt="missing_tensor_file"),
    "tensor_file_size": dict(corrupt="tensor_file_size"),
    "tensor_file_size_negative": dict(edit_manifest=put(-1, "tensor_file", "size")),
    "tensor_file_parent": dict(edit_manifest=put("../tensors.bin", "tensor_file", "path")),
    "artifacts_null": dict(edit_manifest=put(None, "artifacts")),
    "artifact_missing": dict(corrupt="missing_artifact"),
    "artifact_size": dict(corrupt="artifact_size"),
    "artifact_no_digest": dict(edit_manifest=lambda m: m["artifacts"][0].pop("sha256")),
    "artifact_parent": dict(edit_manifest=lambda m: m["artifacts"][0].update(path="a/../../x")),
    "name_not_string": dict(edit_manifest=lambda m: m["tensors"][1].update(name=5)),
    "offset_negative": dict(edit_manifest=lambda m: m["tensors"][0].update(offset=-64)),
    "nbytes_missing": dict(edit_manifest=lambda m: m["tensors"][0].pop("nbytes")),
    "tensor_no_digest": dict(edit_manifest=lambda m: m["tensors"][0].pop("sha256")),
    "shape_float": dict(edit_manifest=lambda m: m["tensors"][0].update(shape=[2, 3.0])),
    "negative_dimension": dict(edit_manifest=lambda m: m["tensors"][0].update(shape=[-2, 3])),
    "misaligned": dict(corrupt="misaligned_tensor"),
    "overlapping": dict(corrupt="overlapping_tensor"),
    "beyond_file": dict(edit_manifest=lambda m: m["tensors"][3].update(offset=1024)),
    "past_end": dict(edit_manifest=lambda m: m["tensors"][1].update(nbytes=2**63 - 1)),
    "bad_dtype": dict(corrupt="bad_dtype"),
    "size_overflow": dict(edit_manifest=lambda m: m["tensors"][0].update(shape=[2**62, 8])),
    "shape_mismatch": dict(corrupt="shape_mismatch"),
    "duplicate_name": dict(corrupt="duplicate_name"),
    "assets_digest": dict(corrupt="assets_digest"),
    "assets_no_digest": dict(edit_manifest=drop("assets", "sha256")),
    "tensor_file_no_digest": dict(edit_manifest=drop("tensor_file", "sha256")),
    "tensor_file_digest": dict(corrupt="tensor_file_digest"),
    "uppercase_digest": dict(corrupt="uppercase_digest"),
    "flipped_tensor_byte": dict(corrupt="flip_tensor_byte"),
    "flipped_gap_byte": dict(corrupt="flip_gap_byte"),
    "tensor_digest": dict(corrupt="tensor_digest"),
    "artifact_digest": dict(corrupt="artifact_digest"),
    "language_not_utf8": dict(corrupt="non_utf8_language"),
}


def write(out: pathlib.Path) -> None:
    for name, options in {**VALID, **BROKEN}.items():
        options = {"tensors": TENSORS, "artifacts": ARTIFACTS, **options}
        write_bundle(out / name, options.pop("tensors"), ASSETS, processor="pos", language="de", package="gsd",
                     dorvek_version="1.10.0", resources_version="1.14.0", **options)
