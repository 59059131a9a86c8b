"""Runs bench/bundle_bench next to Python baselines on the same files and prints both.

    python bench/bundle.py [--binary build/release/bench/bundle_bench] [--tiny]

Files are generated in a temporary directory (seeded) and removed afterwards:
- a 20 MB vocabulary-like assets file (word -> id maps in id order, word lists, a config),
  parsed by parse_json and by json.loads;
- 256 MB of random bytes, hashed by our SHA-256 and by hashlib.sha256 (OpenSSL);
- bundles of 64 tensors with 64 MiB and 1 GiB tensor files, opened without verification:
  the tensor file is mapped, not read, so time and resident growth should barely depend on
  its size.
--tiny: 1 MB of assets, 4 MiB of random bytes, 4 and 64 MiB bundles, one repeat.
--native-only: the baselines are not timed (the smaller bundle is not opened); the digest is
still checked against hashlib's.
"""

from __future__ import annotations

import hashlib
import json
import pathlib
import random
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import report  # noqa: E402


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
    parser = report.arguments("bundle_bench")
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    binary = pathlib.Path(args.binary)
    repeats = 1 if args.tiny else args.repeats
    mib = 1 << 20

    def baseline(timing):
        """The baseline's seconds, or None with --native-only (it is not run)."""
        return None if args.native_only else timing()

    def emit(case, ours, theirs, items, unit):
        report.emit("bundle", case, 1, "native", ours, items, unit)
        if theirs is not None:
            report.emit("bundle", case, 1, "baseline", theirs, items, unit)

    with tempfile.TemporaryDirectory(prefix="velmora_bundle_bench_") as temp:
        temp = pathlib.Path(temp)
        rows = []

        assets = temp / "assets.json"
        size = make_vocabulary_assets(assets, mib if args.tiny else 20 * mib)
        ours, members = run(binary, "json", assets, repeats)
        text = assets.read_text(encoding="utf-8")
        theirs = baseline(lambda: best_of(repeats, lambda: json.loads(text)))
        emit("JSON parse", float(ours), theirs, size, "bytes")
        mb = size / 1e6
        rows.append((f"JSON parse, {mb:.1f} MB assets", f"{mb / float(ours):.0f} MB/s",
                     f"{mb / theirs:.0f} MB/s" if theirs else "-", "json.loads"))

        blob = temp / "random.bin"
        rng = random.Random(3)
        data = b"".join(rng.randbytes(mib) for _ in range(4 if args.tiny else 256))
        blob.write_bytes(data)
        ours, digest = run(binary, "sha256", blob, repeats)
        if digest != hashlib.sha256(data).hexdigest():
            raise SystemExit("SHA-256 digests differ")
        theirs = baseline(lambda: best_of(repeats, lambda: hashlib.sha256(data).digest()))
        emit("SHA-256", float(ours), theirs, len(data), "bytes")
        mb = len(data) / 1e6
        rows.append((f"SHA-256, {len(data) // mib} MiB", f"{mb / float(ours):.0f} MB/s",
                     f"{mb / theirs:.0f} MB/s" if theirs else "-", "hashlib.sha256"))
        del data
        blob.unlink()

        opened = {}
        sizes = (("4 MiB", 4 * mib), ("64 MiB", 64 * mib)) if args.tiny else (("64 MiB", 64 * mib), ("1 GiB", 1 << 30))
        # The smaller bundle is the baseline: opening maps the file, so the two should be close.
        (small_label, _), (large_label, _) = sizes
        for label, size in sizes if not args.native_only else sizes[1:]:
            directory = temp / label.replace(" ", "")
            make_bundle(directory, size)
            opened[label] = run(binary, "open", directory)
        small, large = opened.get(small_label), opened[large_label]
        rows.append(("open bundle w/o verification, time", f"{float(large[0]) * 1e3:.2f} ms ({large_label})",
                     f"{float(small[0]) * 1e3:.2f} ms ({small_label})" if small else "-",
                     "64 tensors, 16x smaller file"))
        rows.append(("open bundle w/o verification, RSS growth", f"{int(large[1]) / 1024:.1f} MiB ({large_label})",
                     f"{int(small[1]) / 1024:.1f} MiB ({small_label})" if small else "-",
                     "64 tensors, 16x smaller file"))
        emit(f"open, {large_label} vs {small_label}", float(large[0]), small and float(small[0]), 1, "bundles")

    width = max(len(r[0]) for r in rows)
    print(f"{'measure':<{width}}  {'velmora':>22}  {'baseline':>22}  baseline is")
    for name, ours, theirs, what in rows:
        print(f"{name:<{width}}  {ours:>22}  {theirs:>22}  {what}")


if __name__ == "__main__":
    main()
