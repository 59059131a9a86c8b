"""Test bundles for the morphological segmenter: a PyTorch module with the bundle's tensor names
(``embedding``, ``encoder.h_0``/``c_0``/``lstm``/``reduce_dim``, ``classifier.1``) and seeded
random weights, written with the test bundle writer.

``morphseg_model(seed=...)`` returns ``(network, assets)``; ``write_morphseg_bundle(directory,
network, assets, edit=...)`` writes them, ``edit(assets, tensors)`` changing copies of both first.
``constant_action(action)`` is an edit whose classifier predicts that action id everywhere.
"""

from __future__ import annotations

import copy
import pathlib
from typing import Callable

import torch
from torch import nn

from bundle_writer import write_bundle

SOURCE = ["<PAD>", "<UNK>"] + list("abcdefghijklmnopqrstuvwxyzäöüéèñ-' @")
# The action language: whole-action DELETE, COPY steps, literal steps (the marker " @@" among
# them) and empty steps; a repeated entry is allowed.
TARGET = ["<PAD>", "<UNK>", "COPY", "DELETE", "COPY+ @@", " @@+COPY", "COPY+COPY", "x+COPY", "+COPY",
          "COPY+", "COPY+DELETE", "COPY"]
COPY = 2
LSTM_SCALE, CLASSIFIER_SCALE, COPY_BIAS = 1.5, 1.0, 3.0


class Encoder(nn.Module):
    def __init__(self, embedding_size: int, hidden_size: int, num_layers: int):
        super().__init__()
        self.h_0 = nn.Parameter(torch.randn(2 * num_layers, 1, hidden_size))
        self.c_0 = nn.Parameter(torch.randn(2 * num_layers, 1, hidden_size))
        self.lstm = nn.LSTM(embedding_size, hidden_size, num_layers=num_layers, bidirectional=True,
                            batch_first=True)
        self.reduce_dim = nn.Linear(2 * hidden_size, hidden_size)


class MorphSegNetwork(nn.Module):
    def __init__(self, source_size: int, target_size: int, embedding_size: int, hidden_size: int,
                 num_layers: int):
        super().__init__()
        self.embedding = nn.Embedding(source_size, embedding_size, padding_idx=0)
        self.encoder = Encoder(embedding_size, hidden_size, num_layers)
        self.classifier = nn.Sequential(nn.Dropout(0.1), nn.Linear(hidden_size, target_size))


def morphseg_model(*, seed: int = 3, embedding_size: int = 8, hidden_size: int = 6, num_layers: int = 2,
                   batch_size: int = 4, source: list[str] | None = None,
                   target: list[str] | None = None) -> tuple[MorphSegNetwork, dict]:
    source = list(SOURCE if source is None else source)
    target = list(TARGET if target is None else target)
    torch.manual_seed(seed)
    network = MorphSegNetwork(len(source), len(target), embedding_size, hidden_size, num_layers)
    with torch.no_grad():
        network.embedding.weight.normal_(0.0, 1.0)
        # Strong recurrent weights, so that every character's action depends on its neighbours.
        for name, parameter in network.encoder.lstm.named_parameters():
            parameter.normal_(0.0, LSTM_SCALE)
        network.encoder.reduce_dim.weight.normal_(0.0, 1.0)
        classifier = network.classifier[1]
        classifier.weight.normal_(0.0, CLASSIFIER_SCALE)
        classifier.weight -= classifier.weight.mean(0, keepdim=True)  # no action leads everywhere
        classifier.bias.zero_()
        classifier.bias[0] = -1e4  # padding is never predicted by a sound model
        if len(target) > COPY:
            classifier.bias[COPY] = COPY_BIAS  # most characters are copied
    network.eval()
    assets = {
        "config": {"embedding_size": embedding_size, "hidden_size": hidden_size, "num_layers": num_layers,
                   "batch_size": batch_size, "tau": 1, "use_crf": False, "use_features": False,
                   "dropout": 0.1},
        "source_vocabulary": source,
        "target_vocabulary": target,
    }
    return network, assets


def tensors_of(network: nn.Module) -> dict[str, torch.Tensor]:
    return {name: tensor.detach().contiguous().clone() for name, tensor in network.state_dict().items()}


def constant_action(action: int) -> Callable[[dict, dict], None]:
    """An edit after which the classifier ignores its input and predicts `action` everywhere."""
    def edit(assets, tensors):
        weight = tensors["classifier.1.weight"]
        tensors["classifier.1.weight"] = torch.zeros_like(weight)
        bias = torch.zeros(weight.shape[0])
        bias[action] = 1.0
        tensors["classifier.1.bias"] = bias
    return edit


def write_morphseg_bundle(directory: str | pathlib.Path, network: nn.Module, assets: dict, *,
                          processor: str = "morphseg", edit: Callable[[dict, dict], None] | None = None,
                          **options) -> pathlib.Path:
    assets = copy.deepcopy(assets)
    tensors = tensors_of(network)
    if edit is not None:
        edit(assets, tensors)
    return write_bundle(directory, tensors, assets, processor=processor, **options)
