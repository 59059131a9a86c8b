"""Writes everything the tagger's C++ tests read (see write_cpp_test_data.py).

- ``highway/``: a bundle holding a two-layer highway BiLSTM stack under "stack", the input rows
  of a few sentences (``input_<i>.bin``) and the PyTorch reference's rows (``output_<i>.bin``).
"""

from __future__ import annotations

import pathlib

import torch

from aoti_packages import write_raw_tensor
from bundle_writer import write_bundle
from pos_highway import HighwayStack, stack_tensors

HIGHWAY_LENGTHS = [3, 5, 5, 2, 1, 9, 4]


def write_highway(out: pathlib.Path) -> None:
    torch.manual_seed(11)
    input_size, hidden, layers = 7, 5, 2
    stack = HighwayStack(input_size, hidden, layers).eval()
    h_init = torch.randn(2 * layers, 1, hidden)
    c_init = torch.randn(2 * layers, 1, hidden)
    write_bundle(out / "bundle", stack_tensors(stack, "stack", h_init, c_init), {"config": {}}, processor="pos")
    with torch.no_grad():
        for i, length in enumerate(HIGHWAY_LENGTHS):
            x = torch.randn(length, input_size)
            write_raw_tensor(out / f"input_{i}.bin", x)
            write_raw_tensor(out / f"output_{i}.bin", stack.run(x.unsqueeze(0), h_init, c_init).squeeze(0))


def write(out: pathlib.Path) -> None:
    (out / "highway").mkdir()
    write_highway(out / "highway")
