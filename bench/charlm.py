"""Runs bench/charlm_bench next to PyTorch baselines on the same bundle and sentences.

    python bench/charlm.py [--binary build/release/bench/charlm_bench] [--threads 1] [--tiny]

A character LM of the usual size (100-wide embedding, one 1024-unit layer, backward) and 200
seeded sentences of 5 to 30 words are written to a temporary directory (--tiny: 64 units, 5
sentences). The baselines are the PyTorch reference per sentence and one packed nn.LSTM call per
64 sentences (--native-only: not timed).
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

from charlm_reference import CharLanguageModel, reference_encode, write_charlm_bundle  # noqa: E402


def sentences(count, seed=5):
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyz"
    return [["".join(rng.choice(letters) for _ in range(rng.randint(1, 9))) for _ in range(rng.randint(5, 30))]
            for _ in range(count)]


def packed_baseline(model, forward, batch):
    ids = {unit: index for index, unit in enumerate(model.units)}
    with torch.no_grad():
        for begin in range(0, len(batch), 64):
            chunk = batch[begin:begin + 64]
            rows = []
            for words in chunk:
                reading = words if forward else [word[::-1] for word in reversed(words)]
                rows.append(torch.tensor([ids["\n"]] + [ids.get(c, 1) for c in " ".join(reading) + " "]))
            lengths = torch.tensor([len(row) for row in rows])
            padded = torch.nn.utils.rnn.pad_sequence(rows, batch_first=True)
            packed = torch.nn.utils.rnn.pack_padded_sequence(model.char_emb(padded), lengths, batch_first=True,
                                                             enforce_sorted=False)
            state = tuple(s.expand(-1, len(chunk), -1).contiguous()
                          for s in (model.charlstm_h_init, model.charlstm_c_init))
            model.charlstm.lstm(packed, state)


def main():
    args = report.arguments("charlm_bench").parse_args()
    gemm = report.gemm_rate(args.threads)
    units = ["<PAD>", "<UNK>", "\n", " "] + [chr(c) for c in range(ord("a"), ord("z") + 1)]
    model = CharLanguageModel(units, embedding=100, hidden=64 if args.tiny else 1024, layers=1, seed=3).eval()
    batch = sentences(5 if args.tiny else 200)
    # Each sentence is read as its words joined by spaces, between a start and an end mark.
    flops = report.lstm_flops(model.charlstm.lstm, sum(len(" ".join(words)) + 2 for words in batch))
    with tempfile.TemporaryDirectory() as directory:
        directory = pathlib.Path(directory)
        write_charlm_bundle(directory / "bundle", model, False)
        (directory / "sentences.json").write_text(json.dumps(batch))
        print(f"{len(batch)} sentences, {args.threads} thread(s)")
        if not args.native_only:
            start = time.perf_counter()
            for words in batch:
                reference_encode(model, False, words)
            one_by_one = time.perf_counter() - start
            start = time.perf_counter()
            packed_baseline(model, False, batch)
            packed = time.perf_counter() - start
            print(f"PyTorch reference, sentence by sentence {one_by_one:8.3f} s  "
                  f"{len(batch) / one_by_one:8.0f} sentences/s")
            print(f"PyTorch packed, 64 per call             {packed:8.3f} s  {len(batch) / packed:8.0f} sentences/s")
            report.emit("charlm", "sentence by sentence", args.threads, "baseline", one_by_one, len(batch),
                        "sentences", flops, gemm)
            report.emit("charlm", "whole list", args.threads, "baseline", packed, len(batch), "sentences", flops, gemm)
        report.run_native([args.binary, directory / "bundle", directory / "sentences.json", args.threads], flops, gemm)


if __name__ == "__main__":
    main()
