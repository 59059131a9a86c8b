"""Sentiment classifier test bundles from a PyTorch module with seeded random weights.

`SentimentModel` holds its parameters under the tensor names a "sentiment" bundle uses
(`embedding.weight`, `unk`, `extra_embedding.weight`, `forward_charlm.*`, `backward_charlm.*`,
`charmodel_forward_projection.*`, `bilstm.*`, `conv_layers.<i>.*`, `fc_layers.<i>.*`), so its
state dict is the bundle's tensor table. `SentimentSettings` describes one configuration; a filter is
an int (full width) or a pair (height, width). `write_sentiment_bundle` writes the module with
its assets; `sentiment_assets` gives the assets dictionary for tests that edit it.

Example::

    settings = SentimentSettings(filters=(3, (2, 4)), method="SUM")
    model = SentimentModel(settings, seed=1)
    write_sentiment_bundle(tmp_path / "sentiment", model)
"""

from __future__ import annotations

import dataclasses
import pathlib

import torch

from bundle_writer import write_bundle
from charlm_reference import CharLanguageModel, charlm_assets, default_units

# Words of the pretrained vocabulary after "<PAD>" and "<UNK>"; entries with a space are stored
# with a no-break space, as the converted vocabularies hold them.
PRETRAIN_WORDS = ["the", "a", "movie", "good", "bad", "not", "dogs", "paris", "Paris", "new\u00a0york", "great",
                  "film", "é", "日本", "it", "was", "boring", "fun", "x", "y", "z", "cat", "dog", "run", "un"]
EXTRA_WORDS = ["<PAD>", "<UNK>", "good", "bad", "movie", "Paris", "fun", "dog"]
LABELS = ["negative", "neutral", "positive"]
# Width of the test character LMs' per-word vectors.
CHARLM_HIDDEN = 5


@dataclasses.dataclass(frozen=True)
class SentimentSettings:
    embedding: int = 8
    method: str = "NONE"  # "NONE", "SUM" or "CONCAT"
    extra_dim: int = 0  # width of the extra embedding; the pretrain width for "SUM"
    lower: bool = False
    charlm_forward: bool = False
    charlm_backward: bool = False
    charlm_projection: int = 0
    transformer_hidden: int = 0  # 0: no transformer
    bilstm_hidden: int = 0  # 0: no BiLSTM
    filters: tuple = (3,)
    channels: int = 4
    maxpool: int = 1
    fc_shapes: tuple = ()
    num_classes: int = 3
    pretrain_words: tuple = tuple(PRETRAIN_WORDS)
    extra_words: tuple = tuple(EXTRA_WORDS)


class SentimentModel(torch.nn.Module):
    def __init__(self, settings: SentimentSettings, seed: int = 0):
        super().__init__()
        self.settings = settings
        generator = torch.Generator().manual_seed(seed)
        vocabulary = ["<PAD>", "<UNK>", *settings.pretrain_words]
        self.pretrain_vocab = {word: index for index, word in enumerate(vocabulary)}
        self.embedding = torch.nn.Embedding(len(vocabulary), settings.embedding)
        self.unk = torch.nn.Parameter(torch.zeros(settings.embedding))
        width = settings.embedding
        if settings.method != "NONE":
            extra_width = settings.embedding if settings.method == "SUM" else settings.extra_dim
            self.extra_embedding = torch.nn.Embedding(len(dict.fromkeys(settings.extra_words)), extra_width)
            width += extra_width if settings.method == "CONCAT" else 0
        for direction, present in (("forward", settings.charlm_forward), ("backward", settings.charlm_backward)):
            if not present:
                continue
            charlm = CharLanguageModel(default_units(), hidden=CHARLM_HIDDEN, layers=1,
                                       seed=seed + (11 if direction == "forward" else 12))
            setattr(self, f"{direction}_charlm", charlm)
            if settings.charlm_projection > 0:
                setattr(self, f"charmodel_{direction}_projection", torch.nn.Linear(CHARLM_HIDDEN, settings.charlm_projection))
                width += settings.charlm_projection
            else:
                width += CHARLM_HIDDEN
        width += settings.transformer_hidden
        if settings.bilstm_hidden:
            self.bilstm = torch.nn.LSTM(width, settings.bilstm_hidden, num_layers=2, bidirectional=True, batch_first=True)
            width = 2 * settings.bilstm_hidden
        self.conv_layers = torch.nn.ModuleList()
        pooled = 0
        for size in settings.filters:
            if isinstance(size, int):
                self.conv_layers.append(torch.nn.Conv2d(1, settings.channels, (size, width), stride=(1, width)))
                pooled += settings.channels // settings.maxpool
            else:
                height, tile = size
                self.conv_layers.append(torch.nn.Conv2d(1, settings.channels, (height, tile), stride=(1, tile)))
                pooled += settings.channels * (width // tile) // settings.maxpool
        self.fc_layers = torch.nn.ModuleList()
        previous = pooled
        for out in [*settings.fc_shapes, settings.num_classes]:
            self.fc_layers.append(torch.nn.Linear(previous, out))
            previous = out
        with torch.no_grad():
            for name, parameter in self.named_parameters():
                if "_charlm." not in name:
                    parameter.copy_(torch.randn(parameter.shape, generator=generator) * 0.5)

    def charlm(self, direction):
        return getattr(self, f"{direction}_charlm", None)


def sentiment_config(settings: SentimentSettings) -> dict:
    return {
        "model_type": "CNN",
        "use_elmo": False,
        "use_peft": False,
        "extra_wordvec_max_norm": None,
        "extra_wordvec_method": settings.method,
        "bilstm": bool(settings.bilstm_hidden),
        "bilstm_hidden_dim": settings.bilstm_hidden,
        "maxpool_width": settings.maxpool,
        "num_classes": settings.num_classes,
        "charlm_projection": settings.charlm_projection,
        "has_charlm_forward": settings.charlm_forward,
        "has_charlm_backward": settings.charlm_backward,
        "bert_model": "tiny-test-encoder" if settings.transformer_hidden else None,
        "filter_sizes": [size if isinstance(size, int) else list(size) for size in settings.filters],
        "fc_shapes": list(settings.fc_shapes),
    }


def sentiment_assets(model: SentimentModel, transformer_block: dict | None = None) -> dict:
    settings = model.settings
    labels = LABELS if settings.num_classes == len(LABELS) else [f"class{k}" for k in range(settings.num_classes)]
    assets = {
        "config": sentiment_config(settings),
        "labels": labels,
        "pretrain_vocab": {"_unit2id": dict(model.pretrain_vocab), "lower": settings.lower},
        "extra_vocab": list(settings.extra_words) if settings.method != "NONE" else [],
    }
    charlm = {}
    for direction in ("forward", "backward"):
        if model.charlm(direction) is not None:
            charlm[direction] = charlm_assets(model.charlm(direction), direction == "forward")
    if charlm:
        assets["charlm"] = charlm
    if transformer_block is not None:
        assets["transformer"] = transformer_block
    return assets


def sentiment_tensors(model: SentimentModel, dtype=torch.float32) -> dict:
    return {name: value.detach().to(dtype).clone() for name, value in model.state_dict().items()}


def write_sentiment_bundle(directory, model: SentimentModel, *, assets=None, tensors=None, processor="sentiment",
                           transformer_block=None, artifacts=None, dtype=torch.float32) -> pathlib.Path:
    return write_bundle(directory, tensors if tensors is not None else sentiment_tensors(model, dtype),
                        assets if assets is not None else sentiment_assets(model, transformer_block),
                        processor=processor, artifacts=artifacts)
