"""The part-of-speech tagger's forward pass in PyTorch, written from the model's description
(independently of the native code), over a module and assets made by ``pos_bundle``.

``reference_tags(tagger, forward, backward, assets, words)`` returns one (upos, xpos, feats) triple
per word, "_" meaning no value. A bundle with transformer features reads them from ``ENCODER``,
the tiny test encoder that its compiled package holds.
"""

from __future__ import annotations

import torch

from charlm_reference import reference_encode

QUESTION = {"?", "\uff1f", "\ufe16", "\ufe56", "\u2047"}
EXCLAMATION = {"!", "\uff01", "\ufe15", "\ufe57", "\u203c"}
NO_VALUE = 2
ENCODER_MAX_LENGTH = 64


def _encoder():
    from aoti_packages import TinyEncoder

    return TinyEncoder().eval()


def fold(word: str) -> str:
    if len(word) >= 2 and all(c in QUESTION or c in EXCLAMATION for c in word):
        return "?" if word[0] in QUESTION else "!"
    return word


def char_vector(tagger, char_ids: dict, word: str) -> torch.Tensor:
    model = tagger.charmodel
    ids = torch.tensor([[char_ids.get(c, 1) for c in word]])
    hidden, _ = model.charlstm.lstm(model.char_emb(ids), (model.charlstm_h_init, model.charlstm_c_init))
    weights = torch.sigmoid(model.char_attn(hidden))
    return (hidden * weights).sum(1)[0]


def input_rows(tagger, forward, backward, assets, words: list[str]) -> torch.Tensor:
    """[1, n, D]."""
    config = assets["config"]
    vocab = assets["vocab"]
    word_ids = vocab["word"]["_unit2id"]
    pretrained_ids = assets["pretrain_vocab"]["_unit2id"]
    lower = vocab["word"].get("lower", False)
    folded = [fold(w) for w in words]
    w = torch.tensor([word_ids.get(f.lower() if lower else f, 1) for f in folded])
    p = torch.tensor([pretrained_ids.get(f.lower().replace(" ", "\u00a0"), 1) for f in folded])
    parts = [tagger.word_emb(w), tagger.trans_pretrained(tagger.pretrained_emb(p))]
    if not config["charlm"]:
        chars = torch.stack([char_vector(tagger, vocab["char"]["_unit2id"], f) for f in folded])
        parts.append(tagger.trans_char(chars))
    else:
        fwd = reference_encode(forward, True, words)
        bwd = reference_encode(backward, False, words)
        if config.get("charlm_transform_dim", 0) > 0:
            fwd = tagger.charmodel_forward_transform(fwd)
            bwd = tagger.charmodel_backward_transform(bwd)
        parts += [fwd, bwd]
    if config.get("bert_model") is not None:
        from transformer_reference import encode

        parts.append(encode(_encoder(), words, ENCODER_MAX_LENGTH, False))
    return torch.cat(parts, 1).unsqueeze(0)


def encoder_rows(tagger, forward, backward, assets, words: list[str]) -> torch.Tensor:
    """The highway BiLSTM's rows of a non-empty sentence, [n, 2H]."""
    with torch.no_grad():
        x = input_rows(tagger, forward, backward, assets, words)
        return tagger.taggerlstm.run(x, tagger.taggerlstm_h_init, tagger.taggerlstm_c_init)[0]


def biaffine(head, x1: torch.Tensor, x2: torch.Tensor) -> torch.Tensor:
    ones = torch.ones(x1.shape[0], 1)
    a = torch.cat([x1, ones], 1)
    b = torch.cat([x2, ones], 1)
    return torch.einsum("ti,oij,tj->to", a, head.W_bilin.weight, b) + head.W_bilin.bias


def reference_tags(tagger, forward, backward, assets, words: list[str]) -> list[tuple[str, str, str]]:
    if not words:
        return []
    vocab = assets["vocab"]
    with torch.no_grad():
        rows = encoder_rows(tagger, forward, backward, assets, words)
        upos_ids = tagger.upos_clf(torch.relu(tagger.upos_hid(rows))).argmax(1)
        upos_vec = tagger.upos_emb(upos_ids)
        xpos_hidden = torch.relu(tagger.xpos_hid(rows))
        feats_hidden = torch.relu(tagger.ufeats_hid(rows))
        composite = vocab["_key2class"]["xpos"] == "XPOSVocab"
        if composite:
            xpos_ids = [biaffine(head, xpos_hidden, upos_vec).argmax(1) for head in tagger.xpos_clf]
        else:
            xpos_ids = [biaffine(tagger.xpos_clf, xpos_hidden, upos_vec).argmax(1)]
        feature_names = sorted(vocab["feats"]["_id2unit"])
        feature_ids = [biaffine(head, feats_hidden, upos_vec).argmax(1) for head in tagger.ufeats_clf]

    upos_labels = vocab["upos"]["_id2unit"]
    tags = []
    for t in range(len(words)):
        upos = upos_labels[int(upos_ids[t])]
        if composite:
            components = vocab["xpos"]["_id2unit"]
            pieces = [components[str(k)][int(ids[t])] for k, ids in enumerate(xpos_ids) if int(ids[t]) != NO_VALUE]
            xpos = vocab["xpos"]["sep"].join(pieces) or "_"
        else:
            x = int(xpos_ids[0][t])
            ignore = bool(vocab["xpos"].get("ignore"))
            xpos = "_" if (x == NO_VALUE and ignore) else vocab["xpos"]["_id2unit"][x]
        pairs = []
        for name, ids in zip(feature_names, feature_ids):
            v = int(ids[t])
            if v != NO_VALUE:
                pairs.append(f"{name}={vocab['feats']['_id2unit'][name][v]}")
        tags.append((upos, xpos, "|".join(pairs) or "_"))
    return tags
