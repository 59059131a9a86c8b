"""PyTorch reference of the sentiment classifier, for the modules of sentiment_bundle.py.

The classifier pads every sentence of a batch to one length T: its longest sentence, at least the
longest full-width filter and the widest 2D filter (the padding the trained models saw), and at
least the tallest filter (so that every filter has a position to convolve). Each word becomes
one row: its pretrained vector (the trained "unk" vector for words the vocabulary lacks), plus
or next to its extra vector, then the character-LM vectors (projected when configured) and the
transformer's word vectors; padding rows hold the "<PAD>" vectors and zeros. The rows optionally
run through the 2-layer BiLSTM; every filter is rectified and max-pooled over all positions and
over groups of `maxpool` adjacent features; the fully connected layers give the logits.

`classify` sorts sentences longest first and fills batches of at most `budget` words.
"""

from __future__ import annotations

import torch
import torch.nn.functional as F

import charlm_reference
import transformer_reference

NO_BREAK_SPACE = "\u00a0"
PAD_ID, UNKNOWN_ID = 0, 1


def pretrain_id(model, word: str) -> int:
    """The word itself, then without a final quote, then lower-cased; "<UNK>" otherwise."""
    def key(text):
        text = text.lower() if model.settings.lower else text
        return text.replace(" ", NO_BREAK_SPACE)

    candidates = [word]
    if len(word.encode("utf-8")) >= 2 and word.endswith("'"):
        candidates.append(word[:-1])
    candidates.append(word.lower())
    for candidate in candidates:
        if key(candidate) in model.pretrain_vocab:
            return model.pretrain_vocab[key(candidate)]
    return UNKNOWN_ID


def extra_id(model, word: str) -> int:
    for position, entry in enumerate(model.settings.extra_words):
        if entry == word:
            return position
    return UNKNOWN_ID


def padded_length(model, sentences) -> int:
    floor = 0
    for size in model.settings.filters:
        floor = max(floor, size if isinstance(size, int) else max(size[1], size[0]))
    return max([floor, *(len(words) for words in sentences)])


def word_rows(model, sentences, length, transformer=None):
    """[B, T, W] input rows of the batch."""
    settings = model.settings
    dtype = model.embedding.weight.dtype
    ids = torch.zeros(len(sentences), length, dtype=torch.long)
    for b, words in enumerate(sentences):
        for t, word in enumerate(words):
            ids[b, t] = pretrain_id(model, word)
    rows = model.embedding(ids)
    rows[ids == UNKNOWN_ID] = model.unk
    pieces = [rows]
    if settings.method != "NONE":
        extra = torch.zeros_like(ids)
        for b, words in enumerate(sentences):
            for t, word in enumerate(words):
                extra[b, t] = extra_id(model, word)
        extra_rows = model.extra_embedding(extra)
        if settings.method == "SUM":
            pieces[0] = rows + extra_rows
        else:
            pieces.append(extra_rows)
    for direction in ("forward", "backward"):
        charlm = model.charlm(direction)
        if charlm is None:
            continue
        projection = getattr(model, f"charmodel_{direction}_projection", None)
        width = projection.out_features if projection is not None else charlm.hidden
        piece = torch.zeros(len(sentences), length, width, dtype=dtype)
        for b, words in enumerate(sentences):
            vectors = charlm_reference.reference_encode(charlm, direction == "forward", words, dtype)
            if projection is not None:
                vectors = projection(vectors)
            piece[b, :len(words)] = vectors
        pieces.append(piece)
    if settings.transformer_hidden:
        piece = torch.zeros(len(sentences), length, settings.transformer_hidden, dtype=dtype)
        for b, words in enumerate(sentences):
            if words:
                piece[b, :len(words)] = transformer_reference.encode(transformer, words, 64, False).to(dtype)
        pieces.append(piece)
    return torch.cat(pieces, dim=2)


def logits(model, sentences, transformer=None):
    """[len(sentences), num_classes] for one batch, in the given order."""
    settings = model.settings
    with torch.no_grad():
        if not sentences:
            return torch.zeros(0, settings.num_classes, dtype=model.embedding.weight.dtype)
        rows = word_rows(model, sentences, padded_length(model, sentences), transformer)
        if settings.bilstm_hidden:
            rows, _ = model.bilstm(rows)
        image = rows.unsqueeze(1)
        pooled = []
        for conv in model.conv_layers:
            out = F.relu(conv(image))  # [B, C, L, tiles]
            batch, channels, positions, tiles = out.shape
            features = out.permute(0, 1, 3, 2).reshape(batch, channels * tiles, positions)
            groups = features.shape[1] // settings.maxpool
            if groups == 0:
                continue
            window = (settings.maxpool, positions)
            pooled.append(F.max_pool2d(features.unsqueeze(1), window, stride=window).reshape(batch, groups))
        hidden = torch.cat(pooled, dim=1)
        for index, layer in enumerate(model.fc_layers):
            hidden = layer(hidden)
            if index + 1 < len(model.fc_layers):
                hidden = F.relu(hidden)
        return hidden


def batches(sentences, budget):
    """Lists of input indices: longest first, each batch at most `budget` words (or one sentence)."""
    order = sorted(range(len(sentences)), key=lambda index: -len(sentences[index]))
    result = []
    for index in order:
        if result and sum(len(sentences[i]) for i in result[-1]) + len(sentences[index]) <= budget:
            result[-1].append(index)
        else:
            result.append([index])
    return result


def classify(model, sentences, budget=5000, transformer=None):
    """One class index per sentence, in input order."""
    classes = [0] * len(sentences)
    for batch in batches(sentences, budget):
        scores = logits(model, [sentences[index] for index in batch], transformer)
        for index, best in zip(batch, scores.argmax(dim=1).tolist()):
            classes[index] = best
    return classes


def centre_classes(model, sentences, transformer=None):
    """Shifts the last layer's bias so that each class's mean logit over `sentences` (each run
    alone) is zero: seeded random weights otherwise tend to give every sentence one class."""
    with torch.no_grad():
        mean = torch.cat([logits(model, [words], transformer) for words in sentences]).mean(dim=0)
        model.fc_layers[-1].bias -= mean.to(model.fc_layers[-1].bias.dtype)
