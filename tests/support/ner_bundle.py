"""Test bundles for the named-entity tagger: a PyTorch module holding the weights under the
bundle's tensor names, seeded random weights, and the assets that describe it.

``NERTestModel(settings, seed)`` builds the module from an ``NERSettings``; ``ner_assets`` gives
its assets and ``write_ner_bundle`` writes both as a bundle. The character language models, when
used, are ``charlm_reference.CharLanguageModel`` modules stored under "charmodel_forward." and
"charmodel_backward."; the transformer block points at a compiled test encoder package.
"""

from __future__ import annotations

import dataclasses

import torch
from torch import nn

from bundle_writer import write_bundle
from charlm_reference import CharLanguageModel, charlm_assets, default_units

SPECIAL_UNITS = ["<PAD>", "<UNK>", "<EMPTY>", "<ROOT>"]
# The pretrained vocabulary writes multi-word entries with no-break spaces.
WORDS = ["the", "new\u00a0york", "obama", "paris", "visited", "in", "école", "Berlin", "ACME", "said", "a", "of"]
DELTA_WORDS = ["the", "new york", "visited", "in", "acme", "said", "berlin", "zürich", "of"]
CHARACTERS = list("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ .,-'") + ["é", "ü", "日"]
TAG_SETS = [
    ["O", "B-PER", "I-PER", "E-PER", "S-PER", "B-LOC", "I-LOC", "E-LOC", "S-LOC"],
    ["O", "B-ORG", "E-ORG", "S-ORG", "I-ORG"],
    ["O", "S-MISC", "B-MISC", "I-MISC", "E-MISC", "S-DATE", "B-DATE", "E-DATE"],
]


@dataclasses.dataclass
class NERSettings:
    word_emb_dim: int = 6
    char_emb_dim: int = 5
    char_hidden_dim: int = 4
    char_num_layers: int = 1
    hidden_dim: int = 7
    num_layers: int = 1
    predict_tagset: int = 0
    tag_sets: int = 1
    lowercase: bool | None = None  # None leaves the key out (it defaults to true)
    char_lowercase: bool = False
    input_transform: bool = False
    connect_output_layers: bool = False
    charlm: bool = False
    word_vocab_lower: bool | None = None
    delta_vocab_lower: bool | None = None
    transformer_hidden: int = 0  # with a transformer: its hidden size
    dtype: torch.dtype = torch.float32

    @property
    def lowercase_words(self):
        return self.lowercase is not False


def vocabulary(units):
    """unit -> id: the four reserved entries first, then the units in order."""
    ids = {unit: index for index, unit in enumerate(SPECIAL_UNITS)}
    for unit in units:
        ids.setdefault(unit, len(ids))
    return ids


def tag_columns(settings):
    return [SPECIAL_UNITS + tags for tags in TAG_SETS[: settings.tag_sets]]


class NERTestModel(nn.Module):
    def __init__(self, settings: NERSettings, seed: int = 0):
        super().__init__()
        generator = torch.Generator().manual_seed(seed)
        self.settings = settings
        self.word_vocab = vocabulary(WORDS)
        self.delta_vocab = vocabulary(DELTA_WORDS)
        self.char_vocab = vocabulary(CHARACTERS)
        self.tag_vocab = tag_columns(settings)
        s = settings
        self.word_emb = nn.Embedding(len(self.word_vocab), s.word_emb_dim)
        self.delta_emb = nn.Embedding(len(self.delta_vocab), s.word_emb_dim)
        if s.charlm:
            self.charmodel_forward = CharLanguageModel(default_units(), hidden=5, layers=1, seed=seed + 1)
            self.charmodel_backward = CharLanguageModel(default_units(), hidden=3, layers=2, seed=seed + 2)
            char_size = 5 + 3
        else:
            self.charmodel = nn.Module()
            self.charmodel.char_emb = nn.Embedding(len(self.char_vocab), s.char_emb_dim)
            self.charmodel.charlstm = nn.Module()
            self.charmodel.charlstm.lstm = nn.LSTM(s.char_emb_dim, s.char_hidden_dim, s.char_num_layers,
                                                   bidirectional=True, batch_first=True)
            self.charmodel.charlstm_h_init = nn.Parameter(torch.zeros(2 * s.char_num_layers, 1, s.char_hidden_dim))
            self.charmodel.charlstm_c_init = nn.Parameter(torch.zeros(2 * s.char_num_layers, 1, s.char_hidden_dim))
            char_size = 2 * s.char_hidden_dim
        self.input_size = s.word_emb_dim + s.transformer_hidden + char_size
        if s.input_transform:
            self.input_transform = nn.Linear(self.input_size, self.input_size)
        self.taggerlstm = nn.Module()
        self.taggerlstm.lstm = nn.LSTM(self.input_size, s.hidden_dim, s.num_layers, bidirectional=True,
                                       batch_first=True)
        self.taggerlstm_h_init = nn.Parameter(torch.zeros(2 * s.num_layers, 1, s.hidden_dim))
        self.taggerlstm_c_init = nn.Parameter(torch.zeros(2 * s.num_layers, 1, s.hidden_dim))
        self.tag_clfs = nn.ModuleList()
        self.crits = nn.ModuleList()
        for column, tags in enumerate(self.tag_vocab):
            width = 2 * s.hidden_dim
            if s.connect_output_layers and column > 0:
                width += len(self.tag_vocab[column - 1])
            self.tag_clfs.append(nn.Linear(width, len(tags)))
            crit = nn.Module()
            crit._transitions = nn.Parameter(torch.zeros(len(tags), len(tags)))
            self.crits.append(crit)
        with torch.no_grad():
            for name, parameter in self.named_parameters():
                if not name.startswith("charmodel_"):
                    parameter.copy_(torch.randn(parameter.shape, generator=generator) * 0.6)
        self.to(s.dtype)

    def bundle_tensors(self):
        return {name: value.detach().clone() for name, value in self.state_dict().items()}


def ner_assets(model: NERTestModel, *, transformer_block=None):
    s = model.settings
    config = {
        "word_emb_dim": s.word_emb_dim, "char_emb_dim": s.char_emb_dim, "char_hidden_dim": s.char_hidden_dim,
        "char_num_layers": s.char_num_layers, "hidden_dim": s.hidden_dim, "num_layers": s.num_layers,
        "predict_tagset": s.predict_tagset, "char_lowercase": s.char_lowercase,
        "input_transform": s.input_transform, "connect_output_layers": s.connect_output_layers,
        "charlm": s.charlm, "char": True, "char_rec_dropout": 0, "scheme": "bioes", "bert_model": None,
        "dropout": 0.5, "shorthand": "en_test",
    }
    if s.lowercase is not None:
        config["lowercase"] = s.lowercase
    word = {"_unit2id": model.word_vocab}
    delta = {"_unit2id": model.delta_vocab}
    if s.word_vocab_lower is not None:
        word["lower"] = s.word_vocab_lower
    if s.delta_vocab_lower is not None:
        delta["lower"] = s.delta_vocab_lower
    assets = {
        "config": config,
        "vocab": {
            "_key2class": {"char": "CharVocab", "word": "PretrainedWordVocab", "delta": "WordVocab",
                           "tag": "CompositeVocab"},
            "char": {"_unit2id": model.char_vocab},
            "word": word,
            "delta": delta,
            "tag": {"_id2unit": {str(column): tags for column, tags in enumerate(model.tag_vocab)}},
        },
    }
    if s.charlm:
        assets["charlm"] = {"forward": charlm_assets(model.charmodel_forward, True),
                            "backward": charlm_assets(model.charmodel_backward, False)}
    if transformer_block is not None:
        config["bert_model"] = "test-encoder"
        assets["transformer"] = transformer_block
    return assets


def write_ner_bundle(directory, model: NERTestModel, *, assets=None, tensors=None, processor="ner", artifacts=None,
                     language="en"):
    return write_bundle(directory, model.bundle_tensors() if tensors is None else tensors,
                        ner_assets(model) if assets is None else assets, processor=processor,
                        artifacts=artifacts, language=language)
