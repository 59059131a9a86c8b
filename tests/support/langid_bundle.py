"""Test bundles for the language identifier: a PyTorch module with the bundle's tensor names
(``char_embeds``, ``lstm``, ``hidden_to_tag``) and seeded random weights, written with the test
bundle writer.

``langid_model(seed=..., num_layers=...)`` returns ``(network, assets)``;
``write_langid_bundle(directory, network, assets, ...)`` writes them, optionally changed by a
function that edits the assets and the tensor dictionary in place just before writing.
"""

from __future__ import annotations

import pathlib
from typing import Callable

import torch
from torch import nn

from bundle_writer import write_bundle

# The character vocabulary: the reserved keys sit after the characters, so that a reader must
# take every id from the map rather than assume its place.
CHARACTERS = list("abcdefghijklmnopqrstuvwxyzäéèüöß .,'-ÀÉ") + ["日", "本"]
# Tag ids in an order that differs from the keys' sorted order.
TAGS = {"en": 2, "fr": 0, "de": 3, "it": 1, "nl": 4}


class LangIDNetwork(nn.Module):
    def __init__(self, vocab_size: int, embedding_dim: int, hidden_dim: int, num_layers: int, tags: int,
                 padding_id: int):
        super().__init__()
        self.char_embeds = nn.Embedding(vocab_size, embedding_dim, padding_idx=padding_id)
        self.lstm = nn.LSTM(embedding_dim, hidden_dim, num_layers=num_layers, bidirectional=True, batch_first=True)
        self.hidden_to_tag = nn.Linear(2 * hidden_dim, tags)


def langid_model(*, seed: int = 5, num_layers: int = 2, embedding_dim: int = 8, hidden_dim: int = 6,
                 tags: dict | None = None) -> tuple[LangIDNetwork, dict]:
    tags = dict(TAGS if tags is None else tags)
    char_to_idx = {character: k for k, character in enumerate(CHARACTERS)}
    char_to_idx["UNK"] = len(char_to_idx)
    char_to_idx["<PAD>"] = len(char_to_idx)
    torch.manual_seed(seed)
    network = LangIDNetwork(len(char_to_idx), embedding_dim, hidden_dim, num_layers, len(tags),
                            char_to_idx["<PAD>"])
    with torch.no_grad():
        network.char_embeds.weight.normal_(0.0, 1.0)
        network.hidden_to_tag.weight.normal_(0.0, 1.0)
        # Centred over the tags, so that no tag leads on every text.
        network.hidden_to_tag.weight -= network.hidden_to_tag.weight.mean(0, keepdim=True)
        # No bias: it would be summed over every character and let one tag win every long text.
        network.hidden_to_tag.bias.zero_()
    network.eval()
    assets = {
        "config": {"num_layers": num_layers, "embedding_dim": embedding_dim, "hidden_dim": hidden_dim,
                   "dropout": 0.0},
        "char_to_idx": char_to_idx,
        "tag_to_idx": tags,
        "notes": "keys the loader does not read are ignored",
    }
    return network, assets


def tensors_of(network: nn.Module) -> dict[str, torch.Tensor]:
    return {name: tensor.detach().contiguous().clone() for name, tensor in network.state_dict().items()}


def write_langid_bundle(directory: str | pathlib.Path, network: nn.Module, assets: dict, *,
                        processor: str = "langid", edit: Callable[[dict, dict], None] | None = None,
                        **options) -> pathlib.Path:
    """Writes the bundle; ``edit(assets, tensors)`` may change copies of both first."""
    import copy

    assets = copy.deepcopy(assets)
    tensors = tensors_of(network)
    if edit is not None:
        edit(assets, tensors)
    return write_bundle(directory, tensors, assets, processor=processor, **options)
