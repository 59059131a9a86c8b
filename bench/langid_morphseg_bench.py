"""Runs bench/langid_morphseg_bench next to PyTorch baselines on the same bundles and inputs.

    python bench/langid_morphseg_bench.py [--binary build/dev/bench/langid_morphseg_bench] [--threads 1]

A language identifier (150-wide embeddings, two 150-unit BiLSTM layers, 5 languages) with 300
seeded texts of 10 to 200 characters, and a segmenter (64-wide embeddings, two 128-unit BiLSTM
layers) with 5000 seeded words of 2 to 14 letters, are written to a temporary directory. The
baselines are the PyTorch references of tests/support, one input at a time, and the same network
run once per group of equal-length inputs.
"""

import argparse
import collections
import json
import pathlib
import random
import subprocess
import sys
import tempfile
import time

import torch
import torch.nn.functional as F

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))

from langid_bundle import CHARACTERS, langid_model, write_langid_bundle  # noqa: E402
from langid_reference import ReferenceIdentifier  # noqa: E402
from morphseg_bundle import morphseg_model, write_morphseg_bundle  # noqa: E402
from morphseg_reference import ReferenceSegmenter, normalise  # noqa: E402


def texts(count, seed=7):
    rng = random.Random(seed)
    return ["".join(rng.choice(CHARACTERS) for _ in range(rng.randint(10, 200))) for _ in range(count)]


def words(count, seed=8):
    rng = random.Random(seed)
    return ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 14))) for _ in range(count)]


def grouped(items, key):
    groups = collections.defaultdict(list)
    for item in items:
        groups[key(item)].append(item)
    return groups.values()


def langid_grouped(network, assets, batch):
    ids = assets["char_to_idx"]
    with torch.no_grad():
        for group in grouped(batch, len):
            rows = torch.tensor([[ids.get(c, ids["UNK"]) for c in text] for text in group])
            output, _ = network.lstm(network.char_embeds(rows))
            network.hidden_to_tag(output).sum(1).argmax(1)


def morphseg_grouped(network, assets, batch, chunk=512):
    ids = {c: k for k, c in enumerate(assets["source_vocabulary"])}
    with torch.no_grad():
        for group in grouped([normalise(w) for w in batch], len):
            for begin in range(0, len(group), chunk):
                part = group[begin:begin + chunk]
                rows = torch.tensor([[ids.get(c, 1) for c in word] for word in part])
                state = tuple(s.expand(-1, len(part), -1).contiguous()
                              for s in (network.encoder.h_0, network.encoder.c_0))
                encoded, _ = network.encoder.lstm(network.embedding(rows), state)
                network.classifier[1](F.gelu(network.encoder.reduce_dim(encoded))).argmax(-1)


def timed(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default=ROOT / "build" / "dev" / "bench" / "langid_morphseg_bench")
    parser.add_argument("--threads", type=int, default=1)
    args = parser.parse_args()
    torch.set_num_threads(args.threads)
    langid, langid_assets = langid_model(embedding_dim=150, hidden_dim=150)
    segmenter, segmenter_assets = morphseg_model(embedding_size=64, hidden_size=128, batch_size=512)
    some_texts, some_words = texts(300), words(5000)
    with tempfile.TemporaryDirectory() as directory:
        directory = pathlib.Path(directory)
        write_langid_bundle(directory / "langid", langid, langid_assets)
        write_morphseg_bundle(directory / "morphseg", segmenter, segmenter_assets)
        (directory / "texts.json").write_text(json.dumps(some_texts))
        (directory / "words.json").write_text(json.dumps(some_words))
        identifier, segmenter_reference = ReferenceIdentifier(langid, langid_assets), ReferenceSegmenter(
            segmenter, segmenter_assets)
        print(f"{len(some_texts)} texts, {len(some_words)} words, {args.threads} thread(s)")
        seconds = timed(lambda: [identifier.identify(text) for text in some_texts])
        print(f"PyTorch langid, text by text           {seconds:8.3f} s  {len(some_texts) / seconds:9.0f} texts/s")
        seconds = timed(lambda: langid_grouped(langid, langid_assets, some_texts))
        print(f"PyTorch langid, one call per length    {seconds:8.3f} s  {len(some_texts) / seconds:9.0f} texts/s")
        seconds = timed(lambda: [segmenter_reference.segment(word) for word in some_words])
        print(f"PyTorch morphseg, word by word         {seconds:8.3f} s  {len(some_words) / seconds:9.0f} words/s")
        seconds = timed(lambda: morphseg_grouped(segmenter, segmenter_assets, some_words))
        print(f"PyTorch morphseg, network only, by length {seconds:5.3f} s  {len(some_words) / seconds:9.0f} words/s")
        result = subprocess.run([str(args.binary), directory / "langid", directory / "texts.json",
                                 directory / "morphseg", directory / "words.json", str(args.threads)],
                                check=True, capture_output=True, text=True)
        print(result.stdout, end="")


if __name__ == "__main__":
    main()
