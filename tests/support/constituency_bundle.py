"""Test bundles for the constituency parser: a PyTorch module holding the bundle's tensor names
with seeded random weights, its assets (configuration, vocabularies, transition table, root
labels) and variants for the loading and parsing failures.

``make_model(**options)`` returns a ``(ConstituencyModel, assets)`` pair; ``write(directory,
model, assets)`` writes the bundle; ``load(directory)`` reads a written bundle back into a
model and its assets (for the reference).
"""

from __future__ import annotations

import copy
import json
import pathlib

import torch
from torch import nn

from bundle_writer import write_bundle
from charlm_reference import CharLanguageModel, charlm_assets, charlm_tensors, default_units

PRETRAIN_WORDS = ["the", "cat", "sat", "on", "mat", "a", "dog", "ran", "new york", "big", "house", "é", "Paris"]
DELTA_WORDS = ["the", "cat", "dog", "Ran", "big", "house", "The"]
TAGS = ["DT", "NN", "VBD", "IN", "JJ", "NNP"]
OPEN_LABELS = [["ROOT"], ["S"], ["NP"], ["VP"], ["PP"], ["S", "VP"], ["ADJP"]]


class ConstituencyModel(nn.Module):
    def __init__(self, *, pretrain_size, delta_size, tag_size, transitions, open_count, pretrain_dim=5,
                 delta_dim=3, tag_dim=2, transition_dim=4, hidden=6, transition_hidden=5, layers=1,
                 output_layers=2, output_width=7, boundaries=False, charlm=None, transformer_dim=0, seed=0):
        super().__init__()
        self.embedding = nn.Embedding(pretrain_size, pretrain_dim)
        self.delta_embedding = nn.Embedding(delta_size + 2, delta_dim)
        if tag_dim:
            self.tag_embedding = nn.Embedding(tag_size + 2, tag_dim)
        feature_dim = pretrain_dim + delta_dim + tag_dim
        if charlm is not None:
            self.forward_charlm, self.backward_charlm = charlm
            feature_dim += self.forward_charlm.hidden + self.backward_charlm.hidden
        if boundaries:
            self.word_start_embedding = nn.Parameter(torch.zeros(feature_dim))
            self.word_end_embedding = nn.Parameter(torch.zeros(feature_dim))
        self.word_lstm = nn.LSTM(feature_dim + transformer_dim, hidden, num_layers=layers, bidirectional=True)
        self.word_to_constituent = nn.Linear(2 * hidden, hidden)
        self.transition_embedding = nn.Embedding(transitions, transition_dim)
        self.dummy_embedding = nn.Embedding(open_count, hidden)
        self.reduce_linear = nn.Linear(hidden, hidden)
        self.transition_stack = nn.Module()
        self.transition_stack.lstm = nn.LSTM(transition_dim, transition_hidden, num_layers=layers)
        self.constituent_stack = nn.Module()
        self.constituent_stack.lstm = nn.LSTM(hidden, hidden, num_layers=layers)
        if boundaries:
            self.transition_stack.start_embedding = nn.Parameter(torch.zeros(transition_dim))
            self.constituent_stack.start_embedding = nn.Parameter(torch.zeros(hidden))
        widths = [2 * hidden + transition_hidden] + [output_width] * (output_layers - 1) + [transitions]
        self.output_layers = nn.ModuleList(nn.Linear(a, b) for a, b in zip(widths, widths[1:]))
        generator = torch.Generator().manual_seed(seed)
        with torch.no_grad():
            for name, parameter in self.named_parameters():
                if "charlm" not in name:
                    parameter.copy_(torch.randn(parameter.shape, generator=generator))

    def tensors(self):
        return {name: value.detach().clone() for name, value in self.state_dict().items()}


def transition_table(open_labels=OPEN_LABELS):
    table = [{"kind": "shift"}, {"kind": "close"}]
    for index, labels in enumerate(open_labels):
        table.append({"kind": "open", "labels": list(labels), "open_index": index})
    return table


def make_model(*, boundaries=False, tag_source="xpos", tag_dim=2, lower=False, layers=1, output_layers=2,
               unary_limit=2, charlm=False, table=None, root_labels=("ROOT",), seed=0, transformer=None, sizes=None):
    """A seeded model and its assets. ``transformer`` is the assets' transformer block (the
    artifact must be given to ``write``) and its hidden size as a pair; ``sizes`` overrides
    widths of ``ConstituencyModel`` (pretrain_dim, delta_dim, hidden, ...)."""
    table = table if table is not None else transition_table()
    open_count = max([entry.get("open_index", -1) for entry in table] + [0]) + 1
    pretrain = ["<PAD>", "<UNK>"] + PRETRAIN_WORDS
    charlms = None
    assets_charlm = None
    if charlm:
        units = default_units()
        charlms = (CharLanguageModel(units, seed=seed + 1), CharLanguageModel(units, hidden=4, layers=1, seed=seed + 2))
        assets_charlm = {"forward": charlm_assets(charlms[0], True), "backward": charlm_assets(charlms[1], False)}
    model = ConstituencyModel(pretrain_size=len(pretrain), delta_size=len(DELTA_WORDS), tag_size=len(TAGS),
                              transitions=len(table), open_count=open_count, tag_dim=tag_dim, layers=layers,
                              output_layers=output_layers, boundaries=boundaries, charlm=charlms,
                              transformer_dim=transformer[1] if transformer else 0, seed=seed, **(sizes or {}))
    config = {
        "transition_scheme": "IN_ORDER", "constituency_composition": "MAX", "transition_stack": "LSTM",
        "constituent_stack": "LSTM", "nonlinearity": "relu", "num_tree_lstm_layers": 1, "maxout_k": None,
        "pattn_num_layers": 0, "use_rattn": False, "use_peft": False,
        "sentence_boundary_vectors": "EVERYTHING" if boundaries else "NONE",
        "hidden_size": model.word_to_constituent.out_features,
        "transition_hidden_size": model.transition_stack.lstm.hidden_size,
        "tag_embedding_dim": tag_dim, "transition_embedding_dim": model.transition_embedding.embedding_dim,
        "delta_embedding_dim": model.delta_embedding.embedding_dim, "num_lstm_layers": layers,
        "num_output_layers": output_layers, "bert_model": "tiny-test-encoder" if transformer else None,
    }
    assets = {
        "config": config,
        "runtime_contract": {"tag_source": tag_source},
        "unary_limit": unary_limit,
        "root_labels": list(root_labels),
        "transitions": table,
        "delta_words": list(DELTA_WORDS),
        "tags": list(TAGS),
        "pretrain_vocab": {"_unit2id": {word: index for index, word in enumerate(pretrain)}, "lower": lower},
    }
    if assets_charlm:
        assets["charlm"] = assets_charlm
    if transformer:
        assets["transformer"] = transformer[0]
    return model, assets


def write(directory, model, assets, *, tensors=None, processor="constituency", artifacts=None):
    tensors = model.tensors() if tensors is None else tensors
    return write_bundle(directory, tensors, assets, processor=processor, artifacts=artifacts)


def load(directory):
    """The model state dict and assets of a written bundle."""
    directory = pathlib.Path(directory)
    manifest = json.loads((directory / "manifest.json").read_text())
    assets = json.loads((directory / manifest["assets"]["path"]).read_text(encoding="utf-8"))
    raw = (directory / manifest["tensor_file"]["path"]).read_bytes()
    state = {}
    for entry in manifest["tensors"]:
        data = torch.frombuffer(bytearray(raw[entry["offset"]:entry["offset"] + entry["nbytes"]]), dtype=torch.float32)
        state[entry["name"]] = data.reshape(entry["shape"]).clone()
    return state, assets


def variant(model, assets, change):
    """A copy of the tensors and assets with ``change(tensors, assets)`` applied."""
    tensors = model.tensors()
    assets = copy.deepcopy(assets)
    change(tensors, assets)
    return tensors, assets
