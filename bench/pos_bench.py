"""Runs bench/pos_bench next to the PyTorch reference tagger on the same bundle and sentences.

    python bench/pos_bench.py [--binary build/dev/bench/pos_bench] [--threads 1]

A tagger of the usual size (75-wide word and 100-wide pretrained embeddings projected to 125, a
character model of 100/400, two highway layers of 200 units,
5000-word vocabularies) and 200 seeded sentences of 5 to 30 words are written to a temporary
directory. The baseline is the PyTorch reference, sentence by sentence.
"""

import argparse
import json
import pathlib
import random
import subprocess
import sys
import tempfile
import time

import torch

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))

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
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default=str(ROOT / "build" / "dev" / "bench" / "pos_bench"))
    parser.add_argument("--threads", type=int, default=1)
    args = parser.parse_args()
    torch.set_num_threads(args.threads)
    setup = PosSetup(dims=DIMS, extra_words=5000)
    tagger, forward, backward, assets = build_tagger(setup)
    batch = sentences(200)
    with tempfile.TemporaryDirectory() as directory:
        bundle = write_bundle(pathlib.Path(directory) / "pos", tagger_tensors(tagger, forward, backward), assets,
                              processor="pos")
        sentences_path = pathlib.Path(directory) / "sentences.json"
        sentences_path.write_text(json.dumps(batch))
        reference_tags(tagger, forward, backward, assets, batch[0])  # warm-up
        start = time.perf_counter()
        for words in batch:
            reference_tags(tagger, forward, backward, assets, words)
        elapsed = time.perf_counter() - start
        rate = len(batch) / elapsed
        print(f"{'PyTorch reference, sentence by sentence':40} {elapsed:8.3f} s  {rate:8.0f} sentences/s")
        subprocess.run([args.binary, str(bundle), str(sentences_path), str(args.threads)], check=True)


if __name__ == "__main__":
    main()
