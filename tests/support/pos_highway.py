"""The highway BiLSTM stack of the tagger and the parser as a PyTorch module, named as their
bundles name it (``<prefix>.lstm.<i>.lstm.*``, ``<prefix>.highway.<i>.*``, ``<prefix>.gate.<i>.*``,
``<prefix>_h_init``, ``<prefix>_c_init``), with a reference forward pass over one sentence.

Each layer: out = BiLSTM(x) + sigmoid(gate(x)) * tanh(highway(x)), the gate and highway reading
the layer input, the LSTM starting from the layer's two rows of the initial states.
"""

from __future__ import annotations

import torch
from torch import nn


class _LstmHolder(nn.Module):
    def __init__(self, input_size: int, hidden: int):
        super().__init__()
        self.lstm = nn.LSTM(input_size, hidden, num_layers=1, bidirectional=True, batch_first=True)


class HighwayStack(nn.Module):
    def __init__(self, input_size: int, hidden: int, layers: int):
        super().__init__()
        sizes = [input_size] + [2 * hidden] * (layers - 1)
        self.lstm = nn.ModuleList(_LstmHolder(size, hidden) for size in sizes)
        self.highway = nn.ModuleList(nn.Linear(size, 2 * hidden) for size in sizes)
        self.gate = nn.ModuleList(nn.Linear(size, 2 * hidden) for size in sizes)
        self.hidden = hidden
        self.layers = layers

    def run(self, x: torch.Tensor, h_init: torch.Tensor, c_init: torch.Tensor) -> torch.Tensor:
        """x [1, n, D] -> [1, n, 2H]."""
        for i in range(self.layers):
            h0 = h_init[2 * i:2 * i + 2]
            c0 = c_init[2 * i:2 * i + 2]
            out, _ = self.lstm[i].lstm(x, (h0, c0))
            x = out + torch.sigmoid(self.gate[i](x)) * torch.tanh(self.highway[i](x))
        return x


def stack_tensors(stack: HighwayStack, prefix: str, h_init: torch.Tensor, c_init: torch.Tensor) -> dict:
    """The stack's bundle tensors under `prefix`."""
    tensors = {f"{prefix}.{name}": t.detach().contiguous() for name, t in stack.state_dict().items()}
    tensors[f"{prefix}_h_init"] = h_init.detach().contiguous()
    tensors[f"{prefix}_c_init"] = c_init.detach().contiguous()
    return tensors
