"""AOTInductor model packages for the tests, built on the machine that runs them.

`compile_package` turns any module with the encoder signature `(input_ids, attention_mask)` (int64
[1, n], n dynamic) into a `.pt2` package; within one process each key compiles once. `TinyEncoder`
is a small seeded model with that signature, and `write_raw_tensor` stores tensors in the raw
format the C++ tests read (tests/cpp/support/raw_tensor.hpp).

Run as a script, it writes the packages and reference tensors the C++ tests load:
    python aoti_packages.py OUTPUT_DIR
"""

import math
import pathlib
import shutil
import struct
import sys
import time

import torch
from torch.export import Dim

# Compiled packages of this process, by key: a test run compiles each package once.
_compiled = {}


def encoder_dynamic_shapes(max_length):
    """Export shapes for `(input_ids, attention_mask)`: one batch row, n subwords in [1, max_length]."""
    subwords = Dim("subwords", min=1, max=max_length)
    return {"input_ids": {1: subwords}, "attention_mask": {1: subwords}}


def encoder_inputs(ids, masked_tail=0):
    """The two int64 [1, n] model inputs for the given ids; the last `masked_tail` positions get mask 0."""
    input_ids = torch.tensor([ids], dtype=torch.int64)
    attention_mask = torch.ones_like(input_ids)
    if masked_tail:
        attention_mask[0, -masked_tail:] = 0
    return input_ids, attention_mask


def compile_package(module, example_inputs, directory, *, key, dynamic_shapes):
    """Exports `module` on `example_inputs` and compiles it into `directory/<key>.pt2`.

    Returns the package path. A key already compiled by this process is reused (copied when another
    directory asks for it), so tests sharing a package pay for one compile per run.
    """
    directory = pathlib.Path(directory)
    path = directory / f"{key}.pt2"
    directory.mkdir(parents=True, exist_ok=True)
    compiled = _compiled.get(key)
    if compiled is not None and compiled.is_file():
        # The same key names the same module: a package compiled elsewhere is copied, not rebuilt.
        if compiled != path:
            shutil.copyfile(compiled, path)
        return path
    module.eval()
    with torch.no_grad():
        exported = torch.export.export(module, tuple(example_inputs), dynamic_shapes=dynamic_shapes)
        torch._inductor.aoti_compile_and_package(exported, package_path=str(path))
    _compiled[key] = path
    return path


class TinyEncoder(torch.nn.Module):
    """Token and position embeddings, one masked single-head self-attention with a residual, and a
    layer norm: enough for the mask and the dynamic length to matter, small enough to compile fast."""

    def __init__(self, vocab_size=64, hidden=16, max_length=64, seed=0):
        super().__init__()
        generator = torch.Generator().manual_seed(seed)
        self.tokens = torch.nn.Parameter(torch.randn(vocab_size, hidden, generator=generator))
        self.positions = torch.nn.Parameter(torch.randn(max_length, hidden, generator=generator))
        scale = 1.0 / math.sqrt(hidden)
        self.query = torch.nn.Parameter(torch.randn(hidden, hidden, generator=generator) * scale)
        self.key = torch.nn.Parameter(torch.randn(hidden, hidden, generator=generator) * scale)
        self.value = torch.nn.Parameter(torch.randn(hidden, hidden, generator=generator) * scale)
        self.norm = torch.nn.LayerNorm(hidden)

    def forward(self, input_ids, attention_mask):
        n = input_ids.shape[1]
        states = self.tokens[input_ids] + self.positions[:n].unsqueeze(0)
        scores = (states @ self.query) @ (states @ self.key).transpose(1, 2)
        scores = scores / math.sqrt(states.shape[-1])
        # Masked positions take no attention; a fully masked row still softmaxes to finite values.
        scores = scores.masked_fill(attention_mask.unsqueeze(1) == 0, -1e4)
        attended = torch.softmax(scores, dim=-1) @ (states @ self.value)
        return self.norm(states + attended)


# dtype -> (code in the file header, little-endian numpy type of the data).
_RAW_DTYPES = {torch.int64: (0, "<i8"), torch.float32: (1, "<f4")}


def write_raw_tensor(path, tensor):
    """Writes `tensor` as: u32 dtype code (0 int64, 1 float32), u32 rank, rank x i64 sizes, then the
    contiguous data, all little-endian."""
    tensor = tensor.detach().contiguous()
    code, layout = _RAW_DTYPES[tensor.dtype]
    header = struct.pack(f"<II{tensor.dim()}q", code, tensor.dim(), *tensor.shape)
    pathlib.Path(path).write_bytes(header + tensor.numpy().astype(layout).tobytes())


# Reference cases of the C++ smoke test: name, ids, number of masked trailing positions.
SMOKE_CASES = [
    ("one_subword", [5], 0),
    ("seven_subwords", [1, 9, 23, 4, 4, 60, 2], 0),
    ("thirteen_subwords_three_masked", [1, 17, 33, 8, 41, 12, 7, 50, 3, 2, 0, 0, 0], 3),
    ("sixty_four_subwords", [(7 * i + 3) % 64 for i in range(64)], 0),
]


def write_smoke_package(directory):
    """The tiny encoder's package `smoke_encoder.pt2` and, under `smoke_encoder/`, each reference case's
    inputs and PyTorch output (`<case>.input_ids.bin`, `.attention_mask.bin`, `.output.bin`)."""
    directory = pathlib.Path(directory)
    module = TinyEncoder()
    example = encoder_inputs(SMOKE_CASES[1][1])
    path = compile_package(module, example, directory, key="smoke_encoder",
                           dynamic_shapes=encoder_dynamic_shapes(64))
    references = directory / "smoke_encoder"
    references.mkdir(exist_ok=True)
    with torch.no_grad():
        for name, ids, masked_tail in SMOKE_CASES:
            input_ids, attention_mask = encoder_inputs(ids, masked_tail)
            write_raw_tensor(references / f"{name}.input_ids.bin", input_ids)
            write_raw_tensor(references / f"{name}.attention_mask.bin", attention_mask)
            write_raw_tensor(references / f"{name}.output.bin", module(input_ids, attention_mask))
    return path


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: aoti_packages.py OUTPUT_DIR")
    start = time.perf_counter()
    package = write_smoke_package(sys.argv[1])
    print(f"wrote {package} in {time.perf_counter() - start:.1f} s")
