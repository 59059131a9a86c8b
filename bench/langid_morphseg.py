"""Runs bench/langid_morphseg_bench next to PyTorch baselines on the same bundles and inputs.

    python bench/langid_morphseg.py [--binary build/release/bench/langid_morphseg_bench] [--threads 1] [--tiny]

A language identifier (150-wide embeddings, two 150-unit BiLSTM layers, 5 languages) with 300
seeded texts of 10 to 200 characters, and a segmenter (64-wide embeddings, two 128-unit BiLSTM
layers) with 5000 seeded words of 2 to 14 letters, are written to a temporary directory. The
baselines are the PyTorch references of tests/support, one input at a time, and the same network
run once per group of equal-length inputs (--native-only: not timed). --tiny: the test widths, 5
texts and 20 words.
"""

import collections
import json
import pathlib
import random
import sys
import tempfile

import torch
import torch.nn.functional as F

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))
sys.path.insert(0, str(ROOT / "bench"))

import report  # noqa: E402

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


def baselines(langid, langid_assets, some_texts, segmenter, segmenter_assets, some_words, emit):
    identifier = ReferenceIdentifier(langid, langid_assets)
    segmenter_reference = ReferenceSegmenter(segmenter, segmenter_assets)
    seconds = report.timed(lambda: [identifier.identify(text) for text in some_texts])
    print(f"PyTorch langid, text by text           {seconds:8.3f} s  {len(some_texts) / seconds:9.0f} texts/s")
    emit("langid", "one by one", seconds, len(some_texts), "texts")
    seconds = report.timed(lambda: langid_grouped(langid, langid_assets, some_texts))
    print(f"PyTorch langid, one call per length    {seconds:8.3f} s  {len(some_texts) / seconds:9.0f} texts/s")
    emit("langid", "whole list", seconds, len(some_texts), "texts")
    seconds = report.timed(lambda: [segmenter_reference.segment(word) for word in some_words])
    print(f"PyTorch morphseg, word by word         {seconds:8.3f} s  {len(some_words) / seconds:9.0f} words/s")
    emit("morphseg", "one by one", seconds, len(some_words), "words")
    seconds = report.timed(lambda: morphseg_grouped(segmenter, segmenter_assets, some_words))
    print(f"PyTorch morphseg, network only, by length {seconds:5.3f} s  {len(some_words) / seconds:9.0f} words/s")
    emit("morphseg", "whole list", seconds, len(some_words), "words")


def main():
    args = report.arguments("langid_morphseg_bench").parse_args()
    gemm = report.gemm_rate(args.threads)
    if args.tiny:
        langid, langid_assets = langid_model()
        segmenter, segmenter_assets = morphseg_model()
        some_texts, some_words = texts(5), words(20)
    else:
        langid, langid_assets = langid_model(embedding_dim=150, hidden_dim=150)
        segmenter, segmenter_assets = morphseg_model(embedding_size=64, hidden_size=128, batch_size=512)
        some_texts, some_words = texts(300), words(5000)
    # Both networks run every layer once per character.
    flops = {"langid": report.network_flops(langid, sum(map(len, some_texts))),
             "morphseg": report.network_flops(segmenter, sum(map(len, some_words)))}
    threads = args.threads

    def emit(bench, case, seconds, count, unit):
        report.emit(bench, case, threads, "baseline", seconds, count, unit, flops[bench], gemm)

    with tempfile.TemporaryDirectory() as directory:
        directory = pathlib.Path(directory)
        write_langid_bundle(directory / "langid", langid, langid_assets)
        write_morphseg_bundle(directory / "morphseg", segmenter, segmenter_assets)
        (directory / "texts.json").write_text(json.dumps(some_texts))
        (directory / "words.json").write_text(json.dumps(some_words))
        print(f"{len(some_texts)} texts, {len(some_words)} words, {args.threads} thread(s)")
        if not args.native_only:
            baselines(langid, langid_assets, some_texts, segmenter, segmenter_assets, some_words, emit)
        report.run_native([args.binary, directory / "langid", directory / "texts.json", directory / "morphseg",
                           directory / "words.json", args.threads], lambda result: flops[result["bench"]], gemm)


if __name__ == "__main__":
    main()
