"""Runs bench/pos_bench next to the PyTorch reference tagger on the same bundle and sentences.

    python bench/pos.py [--binary build/release/bench/pos_bench] [--threads 1] [--tiny]

A tagger of the usual size (75-wide word and 100-wide pretrained embeddings projected to 125, a
character model of 100/400, two highway layers of 200 units,
5000-word vocabularies) and 200 seeded sentences of 5 to 30 words are written to a temporary
directory (--tiny: the test widths, 5 sentences). The baseline is the PyTorch reference,
sentence by sentence (--native-only: not timed).
"""

import json
import pathlib
import random
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))
sys.path.insert(0, str(ROOT / "bench"))

import report  # noqa: E402

from bundle_writer import write_bundle  # noqa: E402
from pos_bundle import PosSetup, build_tagger, tagger_tensors  # noqa: E402
from pos_reference import reference_tags  # noqa: E402

DIMS = {"word_emb_dim": 75, "pretrain_dim": 100, "transformed_dim": 125, "char_emb_dim": 100,
        "char_hidden_dim": 400, "hidden_dim": 200, "tag_emb_dim": 50, "upos_hid": 400, "xpos_hid": 400,
        "feats_hid": 400}


def sentences(count, seed=5):
    rng = random.Random(seed)
    return [[f"w{rng.randrange(6000)}" if rng.random() < 0.8 else rng.choice(["the", "cat", "?!", "Paris"])
             for _ in range(rng.randint(5, 30))] for _ in range(count)]


def main():
    args = report.arguments("pos_bench").parse_args()
    gemm = report.gemm_rate(args.threads)
    setup = PosSetup(dims=None if args.tiny else DIMS, extra_words=5000)
    tagger, forward, backward, assets = build_tagger(setup)
    batch = sentences(5 if args.tiny else 200)
    words = [word for sentence in batch for word in sentence]
    flops = report.network_flops(tagger, len(words), {"charmodel": sum(len(word) + 1 for word in words)})
    with tempfile.TemporaryDirectory() as directory:
        bundle = write_bundle(pathlib.Path(directory) / "pos", tagger_tensors(tagger, forward, backward), assets,
                              processor="pos")
        sentences_path = pathlib.Path(directory) / "sentences.json"
        sentences_path.write_text(json.dumps(batch))
        if not args.native_only:
            reference_tags(tagger, forward, backward, assets, batch[0])  # warm-up
            start = time.perf_counter()
            for words in batch:
                reference_tags(tagger, forward, backward, assets, words)
            elapsed = time.perf_counter() - start
            rate = len(batch) / elapsed
            print(f"{'PyTorch reference, sentence by sentence':40} {elapsed:8.3f} s  {rate:8.0f} sentences/s")
            report.emit("pos", "sentence by sentence", args.threads, "baseline", elapsed, len(batch), "sentences",
                        flops, gemm)
        report.run_native([args.binary, bundle, sentences_path, args.threads], flops, gemm)


if __name__ == "__main__":
    main()
