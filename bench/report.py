"""What the Python halves of the benchmarks share: their command line, the machine-readable result
lines that bench/run.py collects, the GEMM rate that bounds every model's figures, and the
analytic FLOP counts of the networks.

A result line is one JSON object per measurement, printed beside the human-readable figures:

    {"bench": "pos", "case": "sentence by sentence", "threads": 1, "side": "native",
     "seconds": 0.5, "items": 200, "unit": "sentences", "flops": 1.2e9, "gemm": 5.0e10}

``side`` is "native" or "baseline"; native and baseline lines of the same case did the same work.
With ``--native-only`` a benchmark prints native lines only.
``flops`` is the network's floating-point operations for the case, ``gemm`` the float32 matrix
product rate measured at the start of the run at the same thread count (FLOP/s), so that
``flops / gemm`` is the least time the machine could take.
"""

from __future__ import annotations

import argparse
import json
import pathlib
import subprocess
import sys
import time

import torch
from torch import nn

ROOT = pathlib.Path(__file__).resolve().parents[1]
BUILD = ROOT / "build" / "release"


def arguments(binary: str | None = None, description: str | None = None) -> argparse.ArgumentParser:
    """The options every Python-driven benchmark takes; callers add their own before parsing."""
    parser = argparse.ArgumentParser(description=description)
    if binary is not None:
        parser.add_argument("--binary", default=str(BUILD / "bench" / binary))
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--tiny", action="store_true", help="a few inputs and small models: checks the benchmark runs")
    parser.add_argument("--native-only", action="store_true",
                        help="time the native side only: the baselines are not timed and print no result lines")
    return parser


def emit(bench: str, case: str, threads: int, side: str, seconds: float, items: int, unit: str,
         flops: float | None = None, gemm: float | None = None) -> None:
    line = {"bench": bench, "case": case, "threads": threads, "side": side, "seconds": seconds, "items": items,
            "unit": unit}
    if flops is not None:
        line["flops"] = flops
    if gemm is not None:
        line["gemm"] = gemm
    print(json.dumps(line), flush=True)


def result_lines(text: str) -> list[dict]:
    """The result lines among a benchmark's output."""
    results = []
    for line in text.splitlines():
        if line.startswith('{"bench"'):
            results.append(json.loads(line))
    return results


def run_native(command: list, flops=None, gemm: float | None = None) -> None:
    """Runs a native benchmark binary, prints its output, and re-prints its result lines with the
    FLOP count of their case (a number for every case, a map from case to count, or a function of
    the result line) and the GEMM rate this process measured."""
    output = subprocess.run([str(part) for part in command], check=True, capture_output=True, text=True).stdout
    for line in output.splitlines():
        if not line.startswith('{"bench"'):
            print(line)
            continue
        result = json.loads(line)
        if callable(flops):
            count = flops(result)
        elif isinstance(flops, dict):
            count = flops.get(result["case"])
        else:
            count = flops
        emit(result["bench"], result["case"], result["threads"], result["side"], result["seconds"], result["items"],
             result["unit"], count, gemm if count is not None else None)
    sys.stdout.flush()


def timed(call) -> float:
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def gemm_rate(threads: int, size: int = 1024, repeats: int = 5) -> float:
    """FLOP/s of the best of a few float32 size x size products at `threads` threads; torch is
    left at that thread count, the one the benchmark then runs at."""
    torch.set_num_threads(threads)
    a = torch.randn(size, size)
    b = torch.randn(size, size)
    torch.mm(a, b)
    best = min(timed(lambda: torch.mm(a, b)) for _ in range(repeats))
    return 2.0 * size ** 3 / best


# ---- analytic FLOP counts: one multiply-add is two operations ----

def lstm_flops(lstm: nn.LSTM | nn.LSTMCell, steps: int) -> float:
    """`steps` time steps of every layer and direction: 2 * 4H * (I + H) each."""
    hidden = lstm.hidden_size
    if isinstance(lstm, nn.LSTMCell):
        return 2.0 * 4 * hidden * (lstm.input_size + hidden) * steps
    directions = 2 if lstm.bidirectional else 1
    total = 0.0
    for layer in range(lstm.num_layers):
        width = lstm.input_size if layer == 0 else directions * hidden
        total += 2.0 * 4 * hidden * (width + hidden) * directions * steps
    return total


def module_flops(module: nn.Module, rows: int) -> float:
    """Every LSTM, linear, bilinear and convolution layer inside `module`, run over `rows` positions
    (a convolution computes one output per position: its kernel spans the whole row)."""
    total = 0.0
    for layer in module.modules():
        if isinstance(layer, nn.Conv2d):
            kernel = layer.kernel_size[0] * layer.kernel_size[1]
            total += 2.0 * layer.in_channels * layer.out_channels * kernel * rows
        elif isinstance(layer, (nn.LSTM, nn.LSTMCell)):
            total += lstm_flops(layer, rows)
        elif isinstance(layer, nn.Bilinear):
            total += 2.0 * layer.in1_features * layer.in2_features * layer.out_features * rows
        elif isinstance(layer, nn.Linear):
            total += 2.0 * layer.in_features * layer.out_features * rows
    return total


def network_flops(model: nn.Module, rows: int, rows_by_child: dict[str, int] | None = None) -> float:
    """`module_flops` of each direct child of `model`: `rows_by_child[name]` positions for the
    children named there (e.g. characters for a character model), `rows` for the others."""
    rows_by_child = rows_by_child or {}
    return sum(module_flops(child, rows_by_child.get(name, rows)) for name, child in model.named_children())


def pairwise_biaffine_flops(model: nn.Module, lengths: list[int]) -> float:
    """The pairwise scorers of a parser (`<name>.scorer.W_bilin.weight` of shape [D+1, D+1, labels])
    over sentences of the given lengths, each with its root: (n+1) rows through the D+1 x (D+1)
    labels product, then (n+1)^2 pairs of D+1 products per label."""
    total = 0.0
    for name, parameter in model.named_parameters():
        if not name.endswith("scorer.W_bilin.weight"):
            continue
        width, _, labels = parameter.shape
        for n in lengths:
            total += 2.0 * (n + 1) * width * width * labels + 2.0 * (n + 1) ** 2 * width * labels
    return total


def depparse_flops(network: nn.Module, sentences: list[list[str]]) -> float:
    """A parser over sentences given as word lists: its LSTMs and dense layers per word (its
    character model per character), and its pairwise scorers."""
    words = [word for sentence in sentences for word in sentence]
    return (network_flops(network, len(words), {"charmodel": sum(len(word) + 1 for word in words)})
            + pairwise_biaffine_flops(network, [len(sentence) for sentence in sentences]))


def seq2seq_flops(network: nn.Module, words: list[str]) -> float:
    """Greedy decoding of each word: the encoder over its characters and two marks, then one
    decoder step per output character (estimated as the input's length and an end step), each
    step attending over every encoder position; the edit classifier once per word."""
    hidden = network.dec2vocab.in_features
    encoder_steps = sum(len(word) + 2 for word in words)
    decoder_steps = sum(len(word) + 1 for word in words)
    attention = sum(2.0 * 2 * hidden * (len(word) + 2) * (len(word) + 1) for word in words)
    return network_flops(network, decoder_steps, {"encoder": encoder_steps, "edit_clf": len(words)}) + attention
