"""Runs bench/bundle_bench next to Python baselines on the same files and prints both.

    python bench/bundle_bench.py [--binary build/dev/bench/bundle_bench]

Files are generated in a temporary directory (seeded) and removed afterwards:
- a 20 MB vocabulary-like assets file (word -> id maps in id order, word lists, a config),
  parsed by parse_json and by json.loads;
- 256 MB of random bytes, hashed by our SHA-256 and by hashlib.sha256 (OpenSSL);
- bundles of 64 tensors with 64 MiB and 1 GiB tensor files, opened without verification:
  the tensor file is mapped, not read, so time and resident growth should barely depend on
  its size.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import pathlib
import random
import subprocess
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]


def run(binary, *args):
    return subprocess.run([str(binary), *map(str, args)], check=True, capture_output=True,
                          text=True).stdout.split()


def best_of(repeats, action):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best


def make_vocabulary_assets(path, target_bytes, seed=1):
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyz" * 4 + "éüñçøß" + "日本語中文한국"

    def word():
        return "".join(rng.choice(letters) for _ in range(rng.randint(2, 12)))

    assets = {"config": {"hidden_dim": 400, "dropout": 0.33, "char_lowercase": True}}
    size = 0
    block = 0
    while size < target_bytes:
        words = list(dict.fromkeys(word() for _ in range(50_000)))
        assets[f"vocab_{block}"] = {w: i for i, w in enumerate(words)}
        assets[f"words_{block}"] = words
        size += sum(len(w.encode()) for w in words) * 2 + len(words) * 12
        block += 1
    text = json.dumps(assets, ensure_ascii=False)
    path.write_text(text, encoding="utf-8")
    return len(text.encode())


def make_bundle(directory, size, count=64, seed=2):
    """A bundle of `count` float32 tensors filling `size` bytes of random data."""
    directory.mkdir(parents=True)
    rng = random.Random(seed)
    tensor_bytes = size // count
    with open(directory / "tensors.bin", "wb") as out:
        for _ in range(count):
            out.write(rng.randbytes(tensor_bytes))
    (directory / "assets.json").write_text("{}")
    manifest = {
        "format": "velmora-model-bundle", "format_version": 1, "byte_order": "little",
        "language": "en", "processor": "pos", "package": "default",
        "dorvek_version": "1.10.0", "resources_version": "1.14.0", "tensor_alignment": 64,
        "assets": {"path": "assets.json"},
        "tensor_file": {"path": "tensors.bin", "size": count * tensor_bytes},
        "tensors": [
            {"name": f"layer{i}.weight", "dtype": "float32", "shape": [tensor_bytes // 4],
             "offset": i * tensor_bytes, "nbytes": tensor_bytes, "sha256": ""}
            for i in range(count)
        ],
    }
    (directory / "manifest.json").write_text(json.dumps(manifest))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default=ROOT / "build/dev/bench/bundle_bench")
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    binary = pathlib.Path(args.binary)

    with tempfile.TemporaryDirectory(prefix="velmora_bundle_bench_") as temp:
        temp = pathlib.Path(temp)
        rows = []

        assets = temp / "assets.json"
        size = make_vocabulary_assets(assets, 20 << 20)
        ours, members = run(binary, "json", assets, args.repeats)
        text = assets.read_text(encoding="utf-8")
        theirs = best_of(args.repeats, lambda: json.loads(text))
        mb = size / 1e6
        rows.append((f"JSON parse, {mb:.1f} MB assets", f"{mb / float(ours):.0f} MB/s",
                     f"{mb / theirs:.0f} MB/s", "json.loads"))

        blob = temp / "random.bin"
        rng = random.Random(3)
        data = b"".join(rng.randbytes(1 << 20) for _ in range(256))
        blob.write_bytes(data)
        ours, digest = run(binary, "sha256", blob, args.repeats)
        if digest != hashlib.sha256(data).hexdigest():
            raise SystemExit("SHA-256 digests differ")
        theirs = best_of(args.repeats, lambda: hashlib.sha256(data).digest())
        mb = len(data) / 1e6
        rows.append(("SHA-256, 256 MiB", f"{mb / float(ours):.0f} MB/s", f"{mb / theirs:.0f} MB/s",
                     "hashlib.sha256"))
        del data
        blob.unlink()

        opened = {}
        for label, size in (("64 MiB", 64 << 20), ("1 GiB", 1 << 30)):
            directory = temp / label.replace(" ", "")
            make_bundle(directory, size)
            opened[label] = run(binary, "open", directory)
        small, large = opened["64 MiB"], opened["1 GiB"]
        rows.append(("open bundle w/o verification, time", f"{float(large[0]) * 1e3:.2f} ms (1 GiB)",
                     f"{float(small[0]) * 1e3:.2f} ms (64 MiB)", "64 tensors, 16x smaller file"))
        rows.append(("open bundle w/o verification, RSS growth", f"{int(large[1]) / 1024:.1f} MiB (1 GiB)",
                     f"{int(small[1]) / 1024:.1f} MiB (64 MiB)", "64 tensors, 16x smaller file"))

    width = max(len(r[0]) for r in rows)
    print(f"{'measure':<{width}}  {'velmora':>22}  {'baseline':>22}  baseline is")
    for name, ours, theirs, what in rows:
        print(f"{name:<{width}}  {ours:>22}  {theirs:>22}  {what}")


if __name__ == "__main__":
    main()
