"""Runs bench/constituency_bench next to the PyTorch reference on the same bundle and sentences.

    python bench/constituency_bench.py [--binary build/dev/bench/constituency_bench] [--threads 1]

A parser of a common size (hidden 512, transition hidden 128, two word-LSTM layers, three
output layers, 32 transitions) and 20 seeded sentences of 5 to 30 words are written to a
temporary directory. The baseline is the PyTorch reference of tests/support parsing the same
sentences one by one.
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

import constituency_bundle as cb  # noqa: E402
from constituency_reference import Parser  # noqa: E402

LABELS = ["ROOT", "S", "NP", "VP", "PP", "ADJP", "ADVP", "SBAR", "WHNP", "QP", "PRN", "FRAG", "NX", "UCP", "CONJP",
          "INTJ", "X", "LST", "PRT", "RRC", "SINV", "SQ", "SBARQ", "WHADVP", "WHPP", "NAC", "WHADJP"]


def sentences(count, seed=9):
    rng = random.Random(seed)
    pool = cb.PRETRAIN_WORDS + ["w%d" % i for i in range(50)]
    return [([rng.choice(pool) for _ in range(n)], [rng.choice(cb.TAGS) for _ in range(n)])
            for n in (rng.randint(5, 30) for _ in range(count))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default=ROOT / "build" / "dev" / "bench" / "constituency_bench")
    parser.add_argument("--threads", type=int, default=1)
    args = parser.parse_args()
    torch.set_num_threads(args.threads)
    labels = [[label] for label in LABELS] + [["S", "VP"], ["NP", "NP"], ["SBAR", "S"]]
    sizes = {"pretrain_dim": 100, "delta_dim": 100, "transition_dim": 20, "hidden": 512, "transition_hidden": 128,
             "output_width": 512}
    model, assets = cb.make_model(table=cb.transition_table(labels), tag_dim=20, layers=2, output_layers=3, seed=4,
                                  sizes=sizes)
    with torch.no_grad():
        for parameter in model.parameters():
            parameter.mul_(0.1)
    batch = sentences(20)
    with tempfile.TemporaryDirectory() as tmp:
        bundle = cb.write(pathlib.Path(tmp) / "bundle", model, assets)
        path = pathlib.Path(tmp) / "sentences.json"
        path.write_text(json.dumps([{"words": w, "tags": t} for w, t in batch]))
        reference = Parser(model, assets)
        start = time.perf_counter()
        for words, tags in batch:
            reference.parse(words, tags)
        seconds = time.perf_counter() - start
        words = sum(len(w) for w, _ in batch)
        print(f"PyTorch reference, one by one     {seconds:8.3f} s  {len(batch) / seconds:8.1f} sentences/s"
              f"  {words / seconds:8.0f} words/s")
        sys.stdout.flush()
        subprocess.run([str(args.binary), str(bundle), str(path), str(args.threads)], check=True)


if __name__ == "__main__":
    main()
