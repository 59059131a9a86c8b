"""Runs bench/constituency_bench next to the PyTorch reference on the same bundle and sentences.

    python bench/constituency.py [--binary build/release/bench/constituency_bench] [--threads 1] [--tiny]

A parser of a common size (hidden 512, transition hidden 128, two word-LSTM layers, three
output layers, 32 transitions) and 20 seeded sentences of 5 to 30 words are written to a
temporary directory. The baseline is the PyTorch reference of tests/support parsing the same
sentences one by one (--native-only: not timed). --tiny: the test widths, 3 sentences.
"""

import json
import pathlib
import random
import sys
import tempfile
import time

import torch

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))
sys.path.insert(0, str(ROOT / "bench"))

import report  # noqa: E402

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
    args = report.arguments("constituency_bench").parse_args()
    gemm = report.gemm_rate(args.threads)
    labels = [[label] for label in LABELS] + [["S", "VP"], ["NP", "NP"], ["SBAR", "S"]]
    sizes = {"pretrain_dim": 100, "delta_dim": 100, "transition_dim": 20, "hidden": 512, "transition_hidden": 128,
             "output_width": 512}
    model, assets = cb.make_model(table=cb.transition_table(labels), tag_dim=20, layers=2, output_layers=3, seed=4,
                                  sizes={} if args.tiny else sizes)
    with torch.no_grad():
        for parameter in model.parameters():
            parameter.mul_(0.1)
    batch = sentences(3 if args.tiny else 20)
    # The word LSTM reads every word; the stacks and output layers run once per transition,
    # estimated at two per word (a shift, and an open and a close for every other word).
    word_count = sum(len(w) for w, _ in batch)
    flops = report.network_flops(model, 2 * word_count, {"word_lstm": word_count, "word_to_constituent": word_count})
    with tempfile.TemporaryDirectory() as tmp:
        bundle = cb.write(pathlib.Path(tmp) / "bundle", model, assets)
        path = pathlib.Path(tmp) / "sentences.json"
        path.write_text(json.dumps([{"words": w, "tags": t} for w, t in batch]))
        if not args.native_only:
            reference = Parser(model, assets)
            start = time.perf_counter()
            for words, tags in batch:
                reference.parse(words, tags)
            seconds = time.perf_counter() - start
            print(f"PyTorch reference, one by one     {seconds:8.3f} s  {len(batch) / seconds:8.1f} sentences/s"
                  f"  {word_count / seconds:8.0f} words/s")
            report.emit("constituency", "whole list", args.threads, "baseline", seconds, word_count, "words", flops,
                        gemm)
        report.run_native([args.binary, bundle, path, args.threads], flops, gemm)


if __name__ == "__main__":
    main()
