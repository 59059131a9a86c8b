"""Writes model bundles and model indexes for tests.

A bundle is a directory holding ``manifest.json``, an assets JSON file, one raw tensor file
and optional artifact files. ``write_bundle`` lays the tensors out in the given order, each
on a multiple of the tensor alignment, fills the gaps between them with seeded bytes, and
records sizes and lower-case SHA-256 digests of everything in the manifest.

``write_index`` writes the ``index.json`` of one resources version and language under a
model directory; ``write_model`` does both, adding the bundle to the index it belongs to.

Broken bundles for failure tests come from ``corrupt`` (names listed in ``CORRUPTIONS``)
or, for anything else, from ``edit_manifest``, a function that may change the manifest
dictionary in place just before it is written.

Example::

    tensors = random_tensors({"embedding.weight": ((10, 4), torch.float32)}, seed=1)
    bundle = write_bundle(tmp_path / "pos", tensors, {"config": {}}, processor="pos")
"""

from __future__ import annotations

import hashlib
import json
import os
import pathlib
import random
from typing import Callable, Iterable, Mapping

import torch

# Bundle dtype names of the torch dtypes a bundle may hold.
DTYPE_NAMES = {
    torch.bool: "bool",
    torch.int8: "int8",
    torch.uint8: "uint8",
    torch.int16: "int16",
    torch.uint16: "uint16",
    torch.float16: "float16",
    torch.bfloat16: "bfloat16",
    torch.int32: "int32",
    torch.uint32: "uint32",
    torch.float32: "float32",
    torch.int64: "int64",
    torch.uint64: "uint64",
    torch.float64: "float64",
    torch.complex64: "complex64",
    torch.complex128: "complex128",
}

CORRUPTIONS = {
    "format": "manifest format is not a bundle",
    "format_version": "manifest format version 2",
    "byte_order": "byte order 'big'",
    "assets_digest": "wrong digest of the assets file",
    "tensor_file_digest": "wrong digest of the tensor file",
    "tensor_digest": "wrong digest of the first tensor",
    "artifact_digest": "wrong digest of the first artifact",
    "uppercase_digest": "tensor file digest written in upper case",
    "flip_tensor_byte": "one byte of the first non-empty tensor changed after hashing",
    "flip_gap_byte": "one byte between two tensors changed after hashing",
    "misaligned_tensor": "last tensor moved one byte off the alignment",
    "overlapping_tensor": "second tensor placed at the first one's offset",
    "bad_dtype": "first tensor's dtype is 'float8'",
    "shape_mismatch": "first tensor's shape gains a trailing dimension of 2",
    "duplicate_name": "last tensor takes the first tensor's name",
    "tensor_file_size": "tensor file size recorded one byte too large",
    "artifact_size": "first artifact's size recorded one byte too large",
    "missing_assets": "assets file deleted",
    "missing_tensor_file": "tensor file deleted",
    "missing_artifact": "first artifact file deleted",
    "absolute_assets_path": "assets path made absolute",
    "parent_assets_path": "assets path goes through '..'",
    "non_utf8_language": "a raw 0xFF byte starts the manifest's language string",
}


def sha256_hex(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def tensor_bytes(tensor: torch.Tensor) -> bytes:
    """The raw little-endian bytes of a tensor in row-major order."""
    flat = tensor.detach().cpu().contiguous().reshape(-1)
    return flat.view(torch.uint8).numpy().tobytes()


def random_tensors(specs: Mapping[str, tuple], seed: int = 0) -> dict[str, torch.Tensor]:
    """Seeded tensors from {name: (shape, dtype)}; floats are normal, integers in [0, 100)."""
    generator = torch.Generator().manual_seed(seed)
    result = {}
    for name, (shape, dtype) in specs.items():
        if dtype.is_floating_point or dtype.is_complex:
            result[name] = torch.randn(shape, generator=generator, dtype=dtype)
        elif dtype == torch.bool:
            result[name] = torch.randint(0, 2, shape, generator=generator).to(torch.bool)
        else:
            result[name] = torch.randint(0, 100, shape, generator=generator).to(dtype)
    return result


def _align(offset: int, alignment: int) -> int:
    return (offset + alignment - 1) // alignment * alignment


def write_bundle(
    directory: str | os.PathLike,
    tensors: Mapping[str, torch.Tensor],
    assets: Mapping | str | bytes,
    *,
    processor: str,
    language: str = "en",
    package: str = "default",
    dorvek_version: str = "1.10.0",
    resources_version: str = "1.14.0",
    alignment: int = 64,
    artifacts: Mapping[str, bytes] | None = None,
    assets_path: str = "assets.json",
    tensor_file_path: str = "tensors.bin",
    corrupt: str | Iterable[str] = (),
    edit_manifest: Callable[[dict], None] | None = None,
    seed: int = 0,
) -> pathlib.Path:
    """Writes a bundle directory and returns its path.

    ``tensors`` maps names to torch tensors, written in that order. ``assets`` is a JSON
    object (serialized with ``json.dumps``) or the exact assets text. ``artifacts`` maps
    bundle-relative paths to file contents. ``corrupt`` names one or more entries of
    ``CORRUPTIONS``; ``edit_manifest`` may change the manifest dictionary last.
    ``seed`` drives the filler bytes between tensors.
    """
    corruptions = {corrupt} if isinstance(corrupt, str) else set(corrupt)
    unknown = corruptions - CORRUPTIONS.keys()
    if unknown:
        raise ValueError(f"unknown corruptions: {sorted(unknown)}")
    root = pathlib.Path(directory)
    root.mkdir(parents=True, exist_ok=True)
    rng = random.Random(seed)

    if isinstance(assets, Mapping):
        assets_data = json.dumps(assets, ensure_ascii=False).encode("utf-8")
    elif isinstance(assets, str):
        assets_data = assets.encode("utf-8")
    else:
        assets_data = bytes(assets)

    # Lay the tensors out, each aligned, separated by seeded filler bytes.
    blob = bytearray()
    entries = []
    for name, tensor in tensors.items():
        data = tensor_bytes(tensor)
        offset = _align(len(blob), alignment)
        blob += bytes(rng.randrange(256) for _ in range(offset - len(blob)))
        entries.append(
            {
                "name": name,
                "dtype": DTYPE_NAMES[tensor.dtype],
                "shape": list(tensor.shape),
                "offset": offset,
                "nbytes": len(data),
                "sha256": sha256_hex(data),
            }
        )
        blob += data

    if "misaligned_tensor" in corruptions:
        if alignment == 1 or not entries:
            raise ValueError("misaligned_tensor needs an alignment above 1 and a tensor")
        last = entries[-1]
        data = bytes(blob[last["offset"] : last["offset"] + last["nbytes"]])
        del blob[last["offset"] :]
        last["offset"] += 1
        blob += b"\0" + data
    if "flip_gap_byte" in corruptions:
        gap = next(
            (a["offset"] + a["nbytes"] for a, b in zip(entries, entries[1:])
             if b["offset"] > a["offset"] + a["nbytes"]),
            None,
        )
        if gap is None:
            raise ValueError("flip_gap_byte needs a gap between two tensors")
    file_digest = sha256_hex(bytes(blob))
    if "flip_tensor_byte" in corruptions:
        target = next(entry for entry in entries if entry["nbytes"] > 0)
        blob[target["offset"]] ^= 0xFF
    if "flip_gap_byte" in corruptions:
        blob[gap] ^= 0xFF

    manifest = {
        "format": "velmora-model-bundle",
        "format_version": 1,
        "byte_order": "little",
        "language": language,
        "processor": processor,
        "package": package,
        "dorvek_version": dorvek_version,
        "resources_version": resources_version,
        "tensor_alignment": alignment,
        "assets": {"path": assets_path, "sha256": sha256_hex(assets_data)},
        "tensor_file": {"path": tensor_file_path, "size": len(blob), "sha256": file_digest},
        "artifacts": [
            {"path": path, "size": len(data), "sha256": sha256_hex(data)}
            for path, data in (artifacts or {}).items()
        ],
        "tensors": entries,
    }

    wrong = sha256_hex(b"not the content")
    if "format" in corruptions:
        manifest["format"] = "velmora-model-index"
    if "format_version" in corruptions:
        manifest["format_version"] = 2
    if "byte_order" in corruptions:
        manifest["byte_order"] = "big"
    if "assets_digest" in corruptions:
        manifest["assets"]["sha256"] = wrong
    if "tensor_file_digest" in corruptions:
        manifest["tensor_file"]["sha256"] = wrong
    if "uppercase_digest" in corruptions:
        manifest["tensor_file"]["sha256"] = file_digest.upper()
    if "tensor_digest" in corruptions:
        entries[0]["sha256"] = wrong
    if "artifact_digest" in corruptions:
        manifest["artifacts"][0]["sha256"] = wrong
    if "overlapping_tensor" in corruptions:
        entries[1]["offset"] = entries[0]["offset"]
    if "bad_dtype" in corruptions:
        entries[0]["dtype"] = "float8"
    if "shape_mismatch" in corruptions:
        entries[0]["shape"].append(2)
    if "duplicate_name" in corruptions:
        entries[-1]["name"] = entries[0]["name"]
    if "tensor_file_size" in corruptions:
        manifest["tensor_file"]["size"] += 1
    if "artifact_size" in corruptions:
        manifest["artifacts"][0]["size"] += 1
    if "absolute_assets_path" in corruptions:
        manifest["assets"]["path"] = str((root / assets_path).resolve())
    if "parent_assets_path" in corruptions:
        manifest["assets"]["path"] = f"../{root.name}/{assets_path}"
    if edit_manifest is not None:
        edit_manifest(manifest)

    def write(relative: str, data: bytes) -> pathlib.Path:
        target = root / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
        return target

    write(assets_path, assets_data)
    write(tensor_file_path, bytes(blob))
    for path, data in (artifacts or {}).items():
        write(path, data)
    manifest_data = json.dumps(manifest, indent=2).encode("utf-8")
    if "non_utf8_language" in corruptions:
        manifest_data = manifest_data.replace(b'"language": "', b'"language": "\xff', 1)
    (root / "manifest.json").write_bytes(manifest_data)

    if "missing_assets" in corruptions:
        (root / assets_path).unlink()
    if "missing_tensor_file" in corruptions:
        (root / tensor_file_path).unlink()
    if "missing_artifact" in corruptions:
        (root / next(iter(artifacts))).unlink()
    return root


def write_index(
    model_dir: str | os.PathLike,
    bundles: Iterable[Mapping[str, str]],
    *,
    resources_version: str = "1.14.0",
    language: str = "en",
    edit_index: Callable[[dict], None] | None = None,
) -> pathlib.Path:
    """Writes model_dir/resources_version/language/index.json and returns its path.

    ``bundles`` are written as given: mappings with "processor", "package" and "path" (the
    bundle directory relative to the language directory). ``edit_index`` may change the
    index dictionary before it is written.
    """
    language_dir = pathlib.Path(model_dir) / resources_version / language
    language_dir.mkdir(parents=True, exist_ok=True)
    index = {
        "format": "velmora-model-index",
        "format_version": 1,
        "resources_version": resources_version,
        "language": language,
        "bundles": [dict(bundle) for bundle in bundles],
    }
    if edit_index is not None:
        edit_index(index)
    path = language_dir / "index.json"
    path.write_text(json.dumps(index, indent=2), encoding="utf-8")
    return path


def write_model(
    model_dir: str | os.PathLike,
    tensors: Mapping[str, torch.Tensor],
    assets: Mapping | str | bytes,
    *,
    processor: str,
    language: str = "en",
    package: str = "default",
    resources_version: str = "1.14.0",
    **bundle_options,
) -> pathlib.Path:
    """Writes a bundle at model_dir/resources_version/language/<processor>_<package> and
    adds it to that directory's index.json (created when absent). Returns the bundle path.
    """
    language_dir = pathlib.Path(model_dir) / resources_version / language
    relative = f"{processor}_{package}"
    bundle = write_bundle(
        language_dir / relative,
        tensors,
        assets,
        processor=processor,
        language=language,
        package=package,
        resources_version=resources_version,
        **bundle_options,
    )
    index_path = language_dir / "index.json"
    entries = []
    if index_path.exists():
        entries = json.loads(index_path.read_text(encoding="utf-8"))["bundles"]
    entries = [entry for entry in entries if entry.get("path") != relative]
    entries.append({"processor": processor, "package": package, "path": relative})
    write_index(model_dir, entries, resources_version=resources_version, language=language)
    return bundle
