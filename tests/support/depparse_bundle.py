"""Dependency parser test bundles: a PyTorch module holding every weight under the tensor name a
depparse bundle uses, its assets, and a writer with variants for the loading tests.

``DepparseNetwork(settings)`` builds seeded random weights for a configuration (``Settings``);
``depparse_assets`` writes the matching assets; ``write_depparse_bundle`` writes both, after
optional edits of the assets (``edit_assets``) or of the tensor dictionary (``edit_tensors``).
With ``Settings.transformer`` the bundle names the tiny test encoder of ``aoti_packages`` (its
compiled package must be given to ``write_depparse_bundle`` as ``package``).
"""

from __future__ import annotations

import copy
import dataclasses

import torch

from bundle_writer import write_bundle
import charlm_reference
import transformer_reference

SPECIALS = ["<PAD>", "<UNK>", "<EMPTY>", "<ROOT>"]
WORDS = ["the", "The", "dog", "cat", "saw", "a", "big", "?", "!", "new york", "runs", "é", "日本"]
LEMMAS = ["the", "dog", "cat", "see", "a", "big", "?", "!", "run", "_", "New"]
CHARS = list("abcdefghijklmnopqrstuvwxyzTNY?!.é日本 ")
UPOS = ["DET", "NOUN", "VERB", "ADJ", "PUNCT", "PROPN", "_"]
XPOS = ["DT", "NN", "VBD", "JJ", ".", "NNP", "VBZ", "_"]
XPOS_COMPONENTS = [["N", "V", "A", "D"], ["c", "p"], ["s", "p", "d"]]
PRETRAIN = ["the", "dog", "cat", "saw", "a", "big", "?", "!", "new\u00a0york", "runs", "é"]
RELATIONS = ["nsubj", "obj", "det", "root", "amod", "punct", "csubj:pass", "nsubj:outer", "obl", "objx"]
FEATURE_CATEGORIES = ["Number", "Tense", "Definite"]


@dataclasses.dataclass
class Settings:
    word_emb_dim: int = 6
    tag_emb_dim: int = 4
    transformed_dim: int = 5
    char_emb_dim: int = 3
    char_hidden_dim: int = 4
    hidden_dim: int = 5
    num_layers: int = 2
    deep_biaff_hidden_dim: int = 6
    pretrain_dim: int = 7
    linearization: bool = True
    distance: bool = True
    charlm: bool = False
    charlm_size: tuple[int, int] | None = None  # (embedding, hidden) of both character LMs; small when None
    composite_xpos: bool = False
    xpos_separator: str = "|"
    xpos_ignore: bool = True
    word_lower: bool = False
    lemma_lower: bool = True
    batch_size: int | None = None
    transformer: bool = False
    seed: int = 0


def vocabulary(units):
    return {unit: index for index, unit in enumerate(SPECIALS + units)}


class DeepBiaffine(torch.nn.Module):
    def __init__(self, inputs, hidden, outputs):
        super().__init__()
        self.W1 = torch.nn.Linear(inputs, hidden)
        self.W2 = torch.nn.Linear(inputs, hidden)
        self.scorer = torch.nn.Module()
        self.scorer.W_bilin = torch.nn.Module()
        self.scorer.W_bilin.weight = torch.nn.Parameter(torch.zeros(hidden + 1, hidden + 1, outputs))
        self.scorer.W_bilin.bias = torch.nn.Parameter(torch.zeros(outputs))


class DepparseNetwork(torch.nn.Module):
    """Every weight of a depparse bundle, named as the bundle names it."""

    def __init__(self, settings: Settings, charlms=None):
        super().__init__()
        s = self.settings = settings
        self.charlms = charlms  # (forward, backward) CharLanguageModel, with settings.charlm
        self.word_vocab = vocabulary(WORDS)
        self.lemma_vocab = vocabulary(LEMMAS)
        self.char_vocab = vocabulary(CHARS)
        self.upos_vocab = vocabulary(UPOS)
        self.xpos_vocab = vocabulary(XPOS)
        self.xpos_component_vocabs = [vocabulary(units) for units in XPOS_COMPONENTS]
        self.pretrain_vocab = vocabulary(PRETRAIN)
        self.deprels = SPECIALS + RELATIONS

        self.word_emb = torch.nn.Embedding(len(self.word_vocab), s.word_emb_dim)
        self.lemma_emb = torch.nn.Embedding(len(self.lemma_vocab), s.word_emb_dim)
        self.upos_emb = torch.nn.Embedding(len(self.upos_vocab), s.tag_emb_dim)
        if s.composite_xpos:
            self.xpos_emb = torch.nn.ModuleList(
                torch.nn.Embedding(len(v), s.tag_emb_dim) for v in self.xpos_component_vocabs)
        else:
            self.xpos_emb = torch.nn.Embedding(len(self.xpos_vocab), s.tag_emb_dim)
        self.ufeats_emb = torch.nn.ModuleList(torch.nn.Embedding(3, s.tag_emb_dim) for _ in FEATURE_CATEGORIES)
        self.pretrained_emb = torch.nn.Embedding(len(self.pretrain_vocab), s.pretrain_dim)
        self.trans_pretrained = torch.nn.Linear(s.pretrain_dim, s.transformed_dim, bias=False)
        if s.charlm:
            characters = sum(model.hidden for model in charlms)
        else:
            characters = s.transformed_dim
            self.charmodel = torch.nn.Module()
            self.charmodel.char_emb = torch.nn.Embedding(len(self.char_vocab), s.char_emb_dim)
            self.charmodel.char_attn = torch.nn.Linear(s.char_hidden_dim, 1, bias=False)
            self.charmodel.charlstm = torch.nn.Module()
            self.charmodel.charlstm.lstm = torch.nn.LSTM(s.char_emb_dim, s.char_hidden_dim, batch_first=True)
            self.charmodel.charlstm_h_init = torch.nn.Parameter(torch.zeros(1, 1, s.char_hidden_dim))
            self.charmodel.charlstm_c_init = torch.nn.Parameter(torch.zeros(1, 1, s.char_hidden_dim))
            self.trans_char = torch.nn.Linear(s.char_hidden_dim, s.transformed_dim, bias=False)
        self.input_width = 2 * s.word_emb_dim + 2 * s.tag_emb_dim + s.transformed_dim + characters
        self.transformer_block = transformer_reference.wordpiece_block() if s.transformer else None
        if s.transformer:
            self.input_width += self.transformer_block["hidden_size"]

        H = s.hidden_dim
        self.parserlstm = torch.nn.Module()
        self.parserlstm.lstm = torch.nn.ModuleList()
        self.parserlstm.highway = torch.nn.ModuleList()
        self.parserlstm.gate = torch.nn.ModuleList()
        for layer in range(s.num_layers):
            width = self.input_width if layer == 0 else 2 * H
            wrapper = torch.nn.Module()
            wrapper.lstm = torch.nn.LSTM(width, H, bidirectional=True, batch_first=True)
            self.parserlstm.lstm.append(wrapper)
            self.parserlstm.highway.append(torch.nn.Linear(width, 2 * H))
            self.parserlstm.gate.append(torch.nn.Linear(width, 2 * H))
        self.parserlstm_h_init = torch.nn.Parameter(torch.zeros(2 * s.num_layers, 1, H))
        self.parserlstm_c_init = torch.nn.Parameter(torch.zeros(2 * s.num_layers, 1, H))

        D = s.deep_biaff_hidden_dim
        self.unlabeled = DeepBiaffine(2 * H, D, 1)
        self.deprel = DeepBiaffine(2 * H, D, len(self.deprels) - 4)
        if s.linearization:
            self.linearization = DeepBiaffine(2 * H, D, 1)
        if s.distance:
            self.distance = DeepBiaffine(2 * H, D, 1)

        generator = torch.Generator().manual_seed(s.seed)
        with torch.no_grad():
            for parameter in self.parameters():
                parameter.copy_(torch.randn(parameter.shape, generator=generator) * 0.6)

    def bundle_tensors(self):
        tensors = {name: value.detach().clone() for name, value in self.state_dict().items()}
        if self.settings.charlm:
            forward, backward = self.charlms
            tensors.update(charlm_reference.charlm_tensors(forward, "charmodel_forward."))
            tensors.update(charlm_reference.charlm_tensors(backward, "charmodel_backward."))
        return tensors


def make_network(settings: Settings) -> DepparseNetwork:
    charlms = None
    if settings.charlm:
        units = charlm_reference.default_units()
        embedding, forward_hidden, backward_hidden = (4, 3, 4) if settings.charlm_size is None else (
            settings.charlm_size[0], settings.charlm_size[1], settings.charlm_size[1])
        charlms = (charlm_reference.CharLanguageModel(units, embedding=embedding, hidden=forward_hidden, layers=1,
                                                      seed=settings.seed + 11),
                   charlm_reference.CharLanguageModel(units, embedding=embedding, hidden=backward_hidden, layers=1,
                                                      seed=settings.seed + 12))
    return DepparseNetwork(settings, charlms)


def depparse_assets(network: DepparseNetwork) -> dict:
    s = network.settings
    config = {
        "word_emb_dim": s.word_emb_dim, "tag_emb_dim": s.tag_emb_dim, "transformed_dim": s.transformed_dim,
        "char_emb_dim": s.char_emb_dim, "char_hidden_dim": s.char_hidden_dim, "hidden_dim": s.hidden_dim,
        "num_layers": s.num_layers, "deep_biaff_hidden_dim": s.deep_biaff_hidden_dim,
        "linearization": s.linearization, "distance": s.distance, "charlm": s.charlm,
        "char": True, "pretrain": True, "char_bidirectional": False, "use_arc_embedding": False, "reversed": False,
        "use_upos": True, "use_xpos": True, "use_ufeats": True, "char_num_layers": 1, "char_rec_dropout": 0.0,
        "rec_dropout": 0.0, "bert_model": "tiny-test-encoder" if s.transformer else None,
    }
    if s.batch_size is not None:
        config["batch_size"] = s.batch_size
    if s.composite_xpos:
        xpos = {"keyed": False, "sep": s.xpos_separator,
                "_unit2id": {str(i): v for i, v in enumerate(network.xpos_component_vocabs)}}
        xpos_class = "XPOSVocab"
    else:
        xpos = {"_unit2id": network.xpos_vocab, "ignore": ["_"] if s.xpos_ignore else []}
        xpos_class = "WordVocab"
    assets = {
        "config": config,
        "runtime_contract": {"depparse_ufeats_input": "duplicated_pos_emb"},
        "vocab": {
            "_key2class": {"xpos": xpos_class},
            "word": {"_unit2id": network.word_vocab, "lower": s.word_lower},
            "lemma": {"_unit2id": network.lemma_vocab, "lower": s.lemma_lower},
            "char": {"_unit2id": network.char_vocab},
            "upos": {"_unit2id": network.upos_vocab},
            "xpos": xpos,
            "deprel": {"_id2unit": network.deprels},
            "feats": {"keyed": True, "sep": "|", "_id2unit": {name: ["<PAD>", "<UNK>", "Yes"]
                                                             for name in FEATURE_CATEGORIES}},
        },
        "pretrain_vocab": {"_unit2id": network.pretrain_vocab},
    }
    if s.transformer:
        assets["transformer"] = network.transformer_block
    if s.charlm:
        forward, backward = network.charlms
        assets["charlm"] = {"forward": charlm_reference.charlm_assets(forward, True),
                            "backward": charlm_reference.charlm_assets(backward, False)}
    return assets


def write_depparse_bundle(directory, network: DepparseNetwork, *, edit_assets=None, edit_tensors=None,
                          processor="depparse", package: bytes | None = None, **bundle_options):
    assets = copy.deepcopy(depparse_assets(network))
    if package is not None:
        bundle_options["artifacts"] = {network.transformer_block["artifact"]: package}
    tensors = network.bundle_tensors()
    if edit_assets is not None:
        edit_assets(assets)
    if edit_tensors is not None:
        edit_tensors(tensors)
    return write_bundle(directory, tensors, assets, processor=processor, **bundle_options)
