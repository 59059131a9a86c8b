"""Test bundles of the part-of-speech tagger: a PyTorch module whose state dict carries the
bundle's tensor names, seeded random weights, and the assets (configuration and vocabularies).

``write_pos_bundle(directory, **options)`` returns the bundle path; ``PosSetup`` describes what a
bundle holds (options below) and ``build_tagger`` makes the module with its assets.
"""

from __future__ import annotations

import copy
import dataclasses
import pathlib

import torch
from torch import nn

from bundle_writer import write_bundle
from charlm_reference import CharLanguageModel, charlm_assets, charlm_tensors, default_units
from pos_highway import HighwayStack, stack_tensors

SPECIALS = ["<PAD>", "<UNK>", "<EMPTY>", "<ROOT>"]
WORDS = ["the", "The", "cat", "sat", "on", "mat", "a", "dog", "runs", "?", "!", "new york", "Paris", "é",
         "日本", "big", "red"]
PRETRAINED = ["the", "cat", "sat", "on", "mat", "a", "dog", "?", "!", "new\u00a0york", "paris", "big", "green"]
CHARS = list("abcdefghijklmnopqrstuvwxyzTPN?!. ") + ["é", "日"]
UPOS = SPECIALS + ["NOUN", "VERB", "ADJ", "DET", "PUNCT", "_"]
XPOS = SPECIALS + ["NN", "VB", "JJ", "DT", "."]
# Written out of order: the tagger orders components by number and features by key bytes.
COMPOSITE = {"1": SPECIALS + ["Sg", "Pl"], "0": SPECIALS + ["N", "V", "A"], "2": SPECIALS + ["x", "y"]}
FEATURES = {"Number": SPECIALS + ["Sing", "Plur"], "Case": SPECIALS + ["Nom", "Acc", "Gen"],
            "abbr": SPECIALS + ["Yes"]}


@dataclasses.dataclass
class PosSetup:
    charlm: bool = False          # forward/backward character LMs instead of the character model
    charlm_transform_dim: int = 0
    charlm_size: tuple[int, int] | None = None  # (embedding, hidden) of both character LMs; small when None
    composite: bool = False       # composite XPOS vocabulary (three components) instead of a plain one
    components: dict = dataclasses.field(default_factory=lambda: copy.deepcopy(COMPOSITE))
    xpos_ignore: bool = True      # plain vocabulary with a non-empty "ignore" list
    word_lower: bool = False
    num_layers: int = 2
    batch_size: int | None = None
    batch_maximum_tokens: int | None = None
    features: dict = dataclasses.field(default_factory=lambda: copy.deepcopy(FEATURES))
    seed: int = 3
    dims: dict | None = None      # layer widths (DIMS when None)
    extra_words: int = 0          # synthetic words "w0", "w1", ... added to both word vocabularies
    transformer: bool = False     # transformer features from the tiny test encoder (16 wide)
    # Class ids to force (all weights of the head zero, a large bias on that id): keys "upos",
    # "xpos" (one id per component, or one for a plain vocabulary) and "feats" (one per sorted
    # feature); a value of None leaves every logit zero, a tie.
    force: dict | None = None


def _vocab_ids(units):
    return {unit: i for i, unit in enumerate(units)}


class Biaffine(nn.Module):
    """Named as the bundle names a scorer: <prefix>.W_bilin.weight [n, d1 + 1, d2 + 1] and .bias."""

    def __init__(self, d1: int, d2: int, labels: int):
        super().__init__()
        self.W_bilin = nn.Bilinear(d1 + 1, d2 + 1, labels)


class CharModel(nn.Module):
    def __init__(self, chars: int, emb: int, hidden: int):
        super().__init__()
        self.char_emb = nn.Embedding(chars, emb)
        self.charlstm = nn.Module()
        self.charlstm.lstm = nn.LSTM(emb, hidden, num_layers=1, batch_first=True)
        self.char_attn = nn.Linear(hidden, 1, bias=False)
        self.charlstm_h_init = nn.Parameter(torch.zeros(1, 1, hidden))
        self.charlstm_c_init = nn.Parameter(torch.zeros(1, 1, hidden))


def _synthetic(setup: PosSetup) -> list[str]:
    return [f"w{i}" for i in range(setup.extra_words)]


class Tagger(nn.Module):
    def __init__(self, setup: PosSetup, dims: dict, charlm_hidden: tuple[int, int] = (0, 0)):
        super().__init__()
        d = dims
        extra = setup.extra_words
        self.word_emb = nn.Embedding(len(WORDS) + len(SPECIALS) + extra, d["word_emb_dim"])
        self.pretrained_emb = nn.Embedding(len(PRETRAINED) + len(SPECIALS) + extra, d["pretrain_dim"])
        self.trans_pretrained = nn.Linear(d["pretrain_dim"], d["transformed_dim"], bias=False)
        if not setup.charlm:
            self.charmodel = CharModel(len(CHARS) + len(SPECIALS), d["char_emb_dim"], d["char_hidden_dim"])
            self.trans_char = nn.Linear(d["char_hidden_dim"], d["transformed_dim"], bias=False)
            char_width = d["transformed_dim"]
        elif setup.charlm_transform_dim > 0:
            self.charmodel_forward_transform = nn.Linear(charlm_hidden[0], setup.charlm_transform_dim, bias=False)
            self.charmodel_backward_transform = nn.Linear(charlm_hidden[1], setup.charlm_transform_dim, bias=False)
            char_width = 2 * setup.charlm_transform_dim
        else:
            char_width = sum(charlm_hidden)
        self.input_size = d["word_emb_dim"] + d["transformed_dim"] + char_width + (16 if setup.transformer else 0)
        hidden = d["hidden_dim"]
        self.taggerlstm = HighwayStack(self.input_size, hidden, setup.num_layers)
        self.taggerlstm_h_init = nn.Parameter(torch.zeros(2 * setup.num_layers, 1, hidden))
        self.taggerlstm_c_init = nn.Parameter(torch.zeros(2 * setup.num_layers, 1, hidden))
        self.upos_hid = nn.Linear(2 * hidden, d["upos_hid"])
        self.upos_clf = nn.Linear(d["upos_hid"], len(UPOS))
        self.upos_emb = nn.Embedding(len(UPOS), d["tag_emb_dim"])
        self.xpos_hid = nn.Linear(2 * hidden, d["xpos_hid"])
        self.ufeats_hid = nn.Linear(2 * hidden, d["feats_hid"])
        if setup.composite:
            self.xpos_clf = nn.ModuleList(Biaffine(d["xpos_hid"], d["tag_emb_dim"], len(setup.components[str(k)]))
                                          for k in range(len(setup.components)))
        else:
            self.xpos_clf = Biaffine(d["xpos_hid"], d["tag_emb_dim"], len(XPOS))
        self.ufeats_clf = nn.ModuleList(Biaffine(d["feats_hid"], d["tag_emb_dim"], len(setup.features[name]))
                                        for name in sorted(setup.features))


DIMS = {"word_emb_dim": 6, "pretrain_dim": 5, "transformed_dim": 4, "char_emb_dim": 3, "char_hidden_dim": 5,
        "hidden_dim": 4, "tag_emb_dim": 3, "upos_hid": 5, "xpos_hid": 4, "feats_hid": 3}


def _force(head: nn.Module, choice) -> None:
    with torch.no_grad():
        for parameter in head.parameters():
            parameter.zero_()
        if choice is not None:
            head.bias[choice] = 10.0


def build_tagger(setup: PosSetup):
    """(tagger module, forward charLM or None, backward charLM or None, assets)."""
    generator = torch.Generator().manual_seed(setup.seed)
    forward = backward = None
    charlm_hidden = (0, 0)
    if setup.charlm:
        embedding, forward_hidden, backward_hidden = (6, 5, 6) if setup.charlm_size is None else (
            setup.charlm_size[0], setup.charlm_size[1], setup.charlm_size[1])
        forward = CharLanguageModel(default_units(with_unknown=True), embedding=embedding, hidden=forward_hidden,
                                    layers=1, seed=setup.seed + 1)
        backward = CharLanguageModel(default_units(with_unknown=False), embedding=embedding, hidden=backward_hidden,
                                     layers=1, seed=setup.seed + 2)
        charlm_hidden = (forward.hidden, backward.hidden)
    dims = setup.dims or DIMS
    tagger = Tagger(setup, dims, charlm_hidden)
    with torch.no_grad():
        for parameter in tagger.parameters():
            # Unit variance for the tiny test sizes; wider layers are scaled like their fan-in.
            scale = 1.0 if setup.dims is None else parameter.shape[-1] ** -0.5
            parameter.copy_(torch.randn(parameter.shape, generator=generator) * scale)
    if setup.force:
        if "upos" in setup.force:
            _force(tagger.upos_clf, setup.force["upos"])
        if "xpos" in setup.force:
            heads = list(tagger.xpos_clf) if setup.composite else [tagger.xpos_clf]
            for head, choice in zip(heads, setup.force["xpos"]):
                _force(head.W_bilin, choice)
        if "feats" in setup.force:
            for head, choice in zip(tagger.ufeats_clf, setup.force["feats"]):
                _force(head.W_bilin, choice)
    tagger.eval()

    config = {
        "word_emb_dim": dims["word_emb_dim"], "transformed_dim": dims["transformed_dim"],
        "char_emb_dim": dims["char_emb_dim"], "char_hidden_dim": dims["char_hidden_dim"],
        "hidden_dim": dims["hidden_dim"], "num_layers": setup.num_layers, "tag_emb_dim": dims["tag_emb_dim"],
        "charlm": setup.charlm, "charlm_transform_dim": setup.charlm_transform_dim, "char": True,
        "pretrain": True, "char_bidirectional": False, "share_hid": False, "char_num_layers": 1,
        "char_rec_dropout": 0.0, "rec_dropout": 0, "bert_model": None, "dropout": 0.5, "shorthand": "en_test",
    }
    if setup.batch_size is not None:
        config["batch_size"] = setup.batch_size
    if setup.batch_maximum_tokens is not None:
        config["batch_maximum_tokens"] = setup.batch_maximum_tokens
    if setup.composite:
        xpos = {"keyed": False, "sep": "+", "_id2unit": setup.components}
    else:
        xpos = {"_id2unit": XPOS, "_unit2id": _vocab_ids(XPOS), "ignore": ["_"] if setup.xpos_ignore else []}
    words = SPECIALS + WORDS + _synthetic(setup)
    word = {"_unit2id": _vocab_ids(words), "_id2unit": words}
    if setup.word_lower:
        word["lower"] = True
    assets = {
        "config": config,
        "vocab": {
            "_key2class": {"word": "WordVocab", "xpos": "XPOSVocab" if setup.composite else "WordVocab",
                           "upos": "WordVocab", "feats": "FeatureVocab", "char": "CharVocab"},
            "word": word,
            "char": {"_unit2id": _vocab_ids(SPECIALS + CHARS)},
            "upos": {"_id2unit": UPOS, "_unit2id": _vocab_ids(UPOS)},
            "xpos": xpos,
            "feats": {"keyed": True, "sep": "|", "_id2unit": setup.features},
        },
        "pretrain_vocab": {"_unit2id": _vocab_ids(SPECIALS + PRETRAINED + _synthetic(setup))},
    }
    if setup.transformer:
        from transformer_reference import wordpiece_block

        config["bert_model"] = "tiny-test-encoder"
        assets["transformer"] = wordpiece_block(hidden_size=16)
    if setup.charlm:
        assets["charlm"] = {"forward": charlm_assets(forward, True), "backward": charlm_assets(backward, False)}
    return tagger, forward, backward, assets


def tagger_tensors(tagger: Tagger, forward=None, backward=None) -> dict:
    tensors = {name: t.detach().contiguous() for name, t in tagger.state_dict().items()}
    if forward is not None:
        tensors.update(charlm_tensors(forward, prefix="charmodel_forward."))
        tensors.update(charlm_tensors(backward, prefix="charmodel_backward."))
    return tensors


def write_pos_bundle(directory: str | pathlib.Path, setup: PosSetup | None = None, *, edit=None,
                     processor: str = "pos", **bundle_options) -> pathlib.Path:
    """Writes the bundle of `setup`; `edit(tensors, assets)` may change both in place first."""
    setup = setup or PosSetup()
    tagger, forward, backward, assets = build_tagger(setup)
    tensors = tagger_tensors(tagger, forward, backward)
    if edit is not None:
        edit(tensors, assets)
    return write_bundle(directory, tensors, assets, processor=processor, **bundle_options)
