"""Writes everything the language identifier's C++ tests read (see write_cpp_test_data.py):

- ``bundles/<name>``: the two-layer test bundle changed as ``VARIANTS`` says, plus ``one_layer``;
- ``expected.json``: for the bundles ``main`` and ``one_layer``, the PyTorch reference's answer
  and its lead over the runner-up for every text of ``TEXTS``, unrestricted and within ``SUBSET``.
"""

from __future__ import annotations

import json
import pathlib

import torch

from langid_bundle import langid_model, write_langid_bundle
from langid_reference import ReferenceIdentifier

TEXTS = [
    "a", "z", "é", "the cat sat on the mat", "le chat est sur la table", "der Hund läuft schnell",
    "il gatto è sul tavolo", "de kat zit op de mat", "UNK", "emoji 🙂 here", "日本", "ÀÉ ß",
    "the cat sat on the mat", "x" * 40, "mixed, punctuation - and 'quotes'.", "q",
    # Longer than the slices in which the identifier sums its scores.
    ("der Hund läuft schnell, il gatto è sul tavolo; " * 230)[:10007],
]
SUBSET = ["fr", "it", "xx", "it"]


def _set(section: str, key: str, value):
    def edit(assets, tensors):
        if value == "<delete>":
            del assets[section][key]
        else:
            assets[section][key] = value
    return edit


def _tags(tags: dict):
    def edit(assets, tensors):
        assets["tag_to_idx"] = tags
    return edit


def _fixed_scores(bias: list[float]):
    """Output layer that ignores the characters: every tag scores its bias at every character."""
    def edit(assets, tensors):
        tensors["hidden_to_tag.weight"] = torch.zeros(len(bias), tensors["hidden_to_tag.weight"].shape[1])
        tensors["hidden_to_tag.bias"] = torch.tensor(bias)
    return edit


def _two_tags_fr_first(assets, tensors):
    assets["tag_to_idx"] = {"fr": 1, "en": 0}
    _fixed_scores([0.0, 1.0])(assets, tensors)


def _extra_embedding_row(assets, tensors):
    weight = tensors["char_embeds.weight"]
    tensors["char_embeds.weight"] = torch.cat([weight, weight[:1]])


def _drop(name: str):
    def edit(assets, tensors):
        del tensors[name]
    return edit


def _add(name: str, tensor: torch.Tensor):
    def edit(assets, tensors):
        tensors[name] = tensor
    return edit


def _char_id(character: str, new_id: int):
    def edit(assets, tensors):
        assets["char_to_idx"][character] = new_id
    return edit


def _all_float64(assets, tensors):
    for name in tensors:
        tensors[name] = tensors[name].double()


# name -> (processor, edit of the two-layer bundle)
VARIANTS = {
    "main": ("langid", None),
    "processor_upper": ("LangID", None),
    "processor_space": ("langid ", None),
    "zero_layers": ("langid", _set("config", "num_layers", 0)),
    "no_hidden_dim": ("langid", _set("config", "hidden_dim", "<delete>")),
    "huge_hidden_dim": ("langid", _set("config", "hidden_dim", 2**62)),
    "string_embedding_dim": ("langid", _set("config", "embedding_dim", "8")),
    "no_pad": ("langid", _set("char_to_idx", "<PAD>", "<delete>")),
    "tag_gap": ("langid", _tags({"en": 0, "fr": 2})),
    "tag_repeat": ("langid", _tags({"en": 0, "fr": 0})),
    "tags_out_of_key_order": ("langid", _two_tags_fr_first),
    "extra_embedding_row": ("langid", _extra_embedding_row),
    "tag_bias_too_long": ("langid", _add("hidden_to_tag.bias", torch.zeros(len(langid_model()[1]["tag_to_idx"]) + 1))),
    "int32_tensor": ("langid", _add("unused.counts", torch.zeros(3, dtype=torch.int32))),
    "missing_reverse_bias": ("langid", _drop("lstm.bias_hh_l1_reverse")),
    "character_id_outside_table": ("langid", _char_id("z", 999)),
    "negative_character_id": ("langid", _char_id("z", -1)),
    "all_tags_tie": ("langid", _fixed_scores([0.0] * 5)),
    "float64_weights": ("langid", _all_float64),
}


def write(out: pathlib.Path) -> None:
    network, assets = langid_model()
    for name, (processor, edit) in VARIANTS.items():
        write_langid_bundle(out / "bundles" / name, network, assets, processor=processor, edit=edit)
    one_layer, one_layer_assets = langid_model(seed=9, num_layers=1)
    write_langid_bundle(out / "bundles" / "one_layer", one_layer, one_layer_assets)

    expected = {}
    for name, (net, net_assets) in {"main": (network, assets), "one_layer": (one_layer, one_layer_assets)}.items():
        reference = ReferenceIdentifier(net, net_assets)
        rows = []
        for text in TEXTS:
            tag, margin = reference.identify(text)
            subset_tag, subset_margin = reference.identify(text, SUBSET)
            rows.append({"text": text, "tag": tag, "margin": margin,
                         "subset_tag": subset_tag, "subset_margin": subset_margin})
        expected[name] = rows
    expected["subset"] = SUBSET
    (out / "expected.json").write_text(json.dumps(expected, ensure_ascii=False, indent=1), encoding="utf-8")
