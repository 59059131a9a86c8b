"""Writes everything the morphological segmenter's C++ tests read (see write_cpp_test_data.py):

- ``bundles/<name>``: test bundles as ``VARIANTS`` says (changes of the main two-layer bundle,
  bundles of other shapes, and bundles whose classifier predicts one action everywhere);
- ``expected.json``: the PyTorch reference's morphemes of every word of ``WORDS`` and the smallest
  lead of a chosen action over the runner-up, for the bundle ``main``.
"""

from __future__ import annotations

import json
import pathlib

import torch

from morphseg_bundle import SOURCE, TARGET, constant_action, morphseg_model, write_morphseg_bundle
from morphseg_reference import ReferenceSegmenter

WORDS = [
    "unhappiness", "Cats", "cats", "Straße", "ﬁsh", "ＡＢＣ", "a", "", "running", "re-do", "it's",
    "日本語", "øre", "untie", "doggies", "play", "played", "replay", "un @@do", "xyz", "kitten",
    "mañana", "Über", "über",
]


def _set(section: str, key: str, value):
    def edit(assets, tensors):
        if value == "<delete>":
            del assets[section][key]
        else:
            assets[section][key] = value
    return edit


def _vocabulary(key: str, entries: list):
    def edit(assets, tensors):
        assets[key] = entries
    return edit


def _add(name: str, tensor: torch.Tensor):
    def edit(assets, tensors):
        tensors[name] = tensor
    return edit


def _drop(name: str):
    def edit(assets, tensors):
        del tensors[name]
    return edit


def _extra_embedding_row(assets, tensors):
    weight = tensors["embedding.weight"]
    tensors["embedding.weight"] = torch.cat([weight, weight[:1]])


def _flat_h0(assets, tensors):
    tensors["encoder.h_0"] = tensors["encoder.h_0"].reshape(4, -1).contiguous()


# name -> (processor, model options, edit)
VARIANTS = {
    "main": ("morphseg", {}, None),
    "batch_one": ("morphseg", {"batch_size": 1}, None),
    "processor_space": ("morphseg ", {}, None),
    "processor_camel": ("MorphSeg", {}, None),
    "batch_size_zero": ("morphseg", {}, _set("config", "batch_size", 0)),
    "tau_zero": ("morphseg", {}, _set("config", "tau", 0)),
    "tau_two": ("morphseg", {}, _set("config", "tau", 2)),
    "tau_float": ("morphseg", {}, _set("config", "tau", 1.0)),
    "no_tau": ("morphseg", {}, _set("config", "tau", "<delete>")),
    "hidden_size_string": ("morphseg", {}, _set("config", "hidden_size", "6")),
    "one_layer": ("morphseg", {"num_layers": 1}, None),
    "three_layers": ("morphseg", {"num_layers": 3}, None),
    "use_crf": ("morphseg", {}, _set("config", "use_crf", True)),
    "use_crf_zero": ("morphseg", {}, _set("config", "use_crf", 0)),
    "use_features": ("morphseg", {}, _set("config", "use_features", True)),
    "source_number": ("morphseg", {}, _vocabulary("source_vocabulary", SOURCE[:3] + [7] + SOURCE[4:])),
    "source_reserved_only": ("morphseg", {"source": ["<PAD>", "<UNK>"]}, None),
    "source_swapped": ("morphseg", {}, _vocabulary("source_vocabulary", ["<UNK>", "<PAD>"] + SOURCE[2:])),
    "source_single": ("morphseg", {}, _vocabulary("source_vocabulary", ["<PAD>"])),
    "source_duplicate": ("morphseg", {}, _vocabulary("source_vocabulary", SOURCE + ["a"])),
    "target_without_unknown": ("morphseg", {}, _vocabulary("target_vocabulary", ["<PAD>"] + TARGET[2:])),
    "float16_extra": ("morphseg", {}, _add("unused.scale", torch.zeros(3, dtype=torch.float16))),
    "float32_extra": ("morphseg", {}, _add("unused.scale", torch.zeros(3))),
    "embedding_extra_row": ("morphseg", {}, _extra_embedding_row),
    "flat_initial_state": ("morphseg", {}, _flat_h0),
    "missing_reverse_bias": ("morphseg", {}, _drop("encoder.lstm.bias_hh_l1_reverse")),
}
# Bundles whose classifier predicts one action id everywhere, by the name of the action.
CONSTANT_ACTIONS = {
    "pad": 0, "unk": 1, "copy": 2, "delete": 3, "marker_after": 4, "marker_before": 5, "double": 6,
    "x_before": 7, "empty_step_before": 8, "empty_step_after": 9, "copy_then_delete_text": 10,
}


def write(out: pathlib.Path) -> None:
    for name, (processor, options, edit) in VARIANTS.items():
        network, assets = morphseg_model(**options)
        write_morphseg_bundle(out / "bundles" / name, network, assets, processor=processor, edit=edit)
    network, assets = morphseg_model()
    for name, action in CONSTANT_ACTIONS.items():
        write_morphseg_bundle(out / "bundles" / f"constant_{name}", network, assets, edit=constant_action(action))

    reference = ReferenceSegmenter(network, assets)
    rows = []
    for word in WORDS:
        morphemes, margin = reference.segment(word)
        rows.append({"word": word, "morphemes": morphemes, "margin": margin if margin != float("inf") else 1e9})
    (out / "expected.json").write_text(json.dumps({"main": rows}, ensure_ascii=False, indent=1), encoding="utf-8")
