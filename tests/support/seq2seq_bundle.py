"""Test bundles for the character seq2seq model, the multi-word-token expander and the
lemmatizer: PyTorch modules named as the bundles name their tensors, seeded random weights,
written with the test bundle writer.

``write_seq2seq_bundle(directory, processor=..., **options)`` writes a "lemma" or "mwt" bundle
holding a seq2seq model; ``write_classifier_bundle`` an "mwt" bundle with the exact-pieces
classifier; ``write_dictionary_bundle`` a dictionary-only "mwt" or "lemma" bundle.
"""

from __future__ import annotations

import pathlib

import torch
from torch import nn

from bundle_writer import write_bundle

SPECIALS = ["<PAD>", "<UNK>", "<SOS>", "<EOS>"]
UPOS = ["ADJ", "ADP", "ADV", "AUX", "CCONJ", "DET", "INTJ", "NOUN", "NUM", "PART", "PRON", "PROPN", "PUNCT",
        "SCONJ", "SYM", "VERB", "X"]
# Characters left out of the test vocabularies so that words hold unknown characters.
LEFT_OUT = set("zqxJKZ%")


class Attention(nn.Module):
    def __init__(self, hidden: int):
        super().__init__()
        self.linear_in = nn.Linear(hidden, hidden, bias=False)
        self.linear_out = nn.Linear(2 * hidden, hidden, bias=False)


class Decoder(nn.Module):
    def __init__(self, emb: int, hidden: int):
        super().__init__()
        self.lstm_cell = nn.LSTMCell(emb, hidden)
        self.attention_layer = Attention(hidden)


class Seq2SeqNetwork(nn.Module):
    def __init__(self, vocab_size: int, emb: int, hidden: int, layers: int, *, pos_count: int = 0,
                 copy: bool = False, edit_classes: int = 0, edit_hidden: int = 6):
        super().__init__()
        self.embedding = nn.Embedding(vocab_size, emb)
        if pos_count:
            self.pos_embedding = nn.Embedding(pos_count, emb)
        self.encoder = nn.LSTM(emb, hidden // 2, layers, bidirectional=True, batch_first=True)
        self.decoder = Decoder(emb, hidden)
        self.dec2vocab = nn.Linear(hidden, vocab_size)
        if copy:
            self.copy_gate = nn.Linear(hidden, 1)
        if edit_classes:
            self.edit_clf = nn.Sequential(nn.Linear(hidden, edit_hidden), nn.ReLU(), nn.Linear(edit_hidden, edit_classes))


class PieceClassifier(nn.Module):
    def __init__(self, vocab_size: int, emb: int, hidden_dim: int, layers: int, mid: int = 7, classes: int = 2):
        super().__init__()
        self.embedding = nn.Embedding(vocab_size, emb)
        self.encoder = nn.LSTM(emb, hidden_dim // 2, layers, bidirectional=True, batch_first=True)
        self.output_layer = nn.Sequential(nn.Linear(2 * (hidden_dim // 2), mid), nn.ReLU(), nn.Linear(mid, classes))


def char_vocab(words: list[str]) -> list[str]:
    chars = set()
    for word in words:
        chars.update(word)
    chars.add(" ")
    return SPECIALS + sorted(chars - LEFT_OUT)


def vocab_object(units: list[str]) -> dict:
    return {"_id2unit": units, "_unit2id": {unit: k for k, unit in enumerate(units)}}


def seq2seq_network(units: list[str], *, emb: int = 8, hidden: int = 10, layers: int = 1, pos: bool = False,
                    copy: bool = False, edit: bool = False, seed: int = 3, end_bias: float = -0.5,
                    dtype=torch.float32) -> Seq2SeqNetwork:
    torch.manual_seed(seed)
    net = Seq2SeqNetwork(len(units), emb, hidden, layers, pos_count=len(SPECIALS) + len(UPOS) if pos else 0,
                         copy=copy, edit_classes=3 if edit else 0)
    with torch.no_grad():
        net.embedding.weight.normal_(0.0, 1.0)
        # Strong recurrent and attention weights, so that outputs depend on the input word.
        for name, parameter in net.named_parameters():
            if name.startswith(("encoder.", "decoder.", "edit_clf.")):
                parameter.mul_(3.0)
        # Make the end symbol likely enough that outputs have varied lengths.
        net.dec2vocab.bias[3] += end_bias
        if copy:
            net.copy_gate.bias.fill_(-1.0)
    return net.to(dtype).eval()


def seq2seq_assets(units: list[str], *, emb: int = 8, hidden: int = 10, layers: int = 1, pos: bool = False,
                   copy: bool = False, edit: bool = False, beam_size: int = 1, max_dec_len: int = 12,
                   batch_size: int = 7, flat_vocab: bool = False) -> dict:
    config = {"vocab_size": len(units), "emb_dim": emb, "hidden_dim": hidden, "num_layers": layers,
              "max_dec_len": max_dec_len, "beam_size": beam_size, "batch_size": batch_size, "pos": pos,
              "pos_dim": emb if pos else 0, "edit": edit, "copy": copy, "attn_type": "soft", "charlm": False}
    vocab = vocab_object(units) if flat_vocab else {"char": vocab_object(units)}
    if pos:
        vocab["pos"] = vocab_object(SPECIALS + UPOS)
    return {"config": config, "vocab": vocab}


def tensors_of(module: nn.Module) -> dict:
    return {name: tensor.detach().contiguous() for name, tensor in module.state_dict().items()}


def write_seq2seq_bundle(directory, units: list[str], *, processor: str = "lemma", extra_assets: dict | None = None,
                         extra_config: dict | None = None, dtype=torch.float32, network_options: dict | None = None,
                         **options) -> pathlib.Path:
    """A bundle holding a seq2seq model; ``options`` are the configuration of seq2seq_assets."""
    shape = {key: options[key] for key in ("emb", "hidden", "layers", "pos", "copy", "edit") if key in options}
    # The character set of every test bundle: a printable set less a few characters.
    net = seq2seq_network(units, dtype=dtype, **shape, **(network_options or {}))
    assets = seq2seq_assets(units, **options)
    assets["config"].update(extra_config or {})
    assets.update(extra_assets or {})
    return write_bundle(directory, tensors_of(net), assets, processor=processor)


def mwt_assets(expansions: dict, units: list[str], *, dict_only: bool = False, ensemble_dict: bool = False,
               force_exact_pieces=None, hidden_dim: int = 10, num_layers: int = 1) -> dict:
    return {"config": {"dict_only": dict_only, "ensemble_dict": ensemble_dict, "force_exact_pieces": force_exact_pieces,
                       "vocab_size": len(units), "hidden_dim": hidden_dim, "num_layers": num_layers},
            "expansion_dict": expansions, "vocab": vocab_object(units)}


def classifier_network(units: list[str], *, emb: int = 8, hidden_dim: int = 10, layers: int = 1,
                       seed: int = 5) -> PieceClassifier:
    torch.manual_seed(seed)
    net = PieceClassifier(len(units), emb, hidden_dim, layers)
    with torch.no_grad():
        net.embedding.weight.normal_(0.0, 1.0)
        net.output_layer[2].weight.normal_(0.0, 1.0)
        net.output_layer[2].bias[1] -= 0.5
    return net.eval()


def write_classifier_bundle(directory, units: list[str], expansions: dict, *, ensemble_dict: bool = False,
                            hidden_dim: int = 10, layers: int = 1) -> pathlib.Path:
    net = classifier_network(units, hidden_dim=hidden_dim, layers=layers)
    assets = mwt_assets(expansions, units, ensemble_dict=ensemble_dict, force_exact_pieces=True,
                        hidden_dim=hidden_dim, num_layers=layers)
    return write_bundle(directory, tensors_of(net), assets, processor="mwt")


def write_dictionary_bundle(directory, assets: dict, *, processor: str) -> pathlib.Path:
    return write_bundle(directory, {}, assets, processor=processor)
