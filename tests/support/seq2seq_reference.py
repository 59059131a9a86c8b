"""PyTorch reference of the character seq2seq model, the multi-word-token expander and the
lemmatizer, written from the behaviour they must have (not from the native code): source ids
with extended ids for unknown characters, the encoder, the attention decoder step with its copy
mixture, greedy and beam decoding, length-sorted packed batches, edit classes, the MWT
dictionary, classifier and cleaning rules, and the lemma rules.

Every decoding also reports its smallest margin between the best and second-best score, so
that comparisons can leave out words whose result hangs on a rounding-level tie.
"""

from __future__ import annotations

import torch
import torch.nn.functional as F
from torch.nn.utils.rnn import pack_padded_sequence, pad_packed_sequence

PAD, UNK, SOS, EOS = 0, 1, 2, 3


class Model:
    """A seq2seq network with its configuration and vocabularies."""

    def __init__(self, net, assets: dict):
        self.net = net
        self.config = assets["config"]
        vocab = assets["vocab"]
        chars = vocab["char"] if "char" in vocab else vocab
        self.id2unit = chars["_id2unit"]
        self.unit2id = chars["_unit2id"]
        self.pos_unit2id = vocab["pos"]["_unit2id"] if "pos" in vocab else None
        self.V = len(self.id2unit)
        self.copy = bool(self.config.get("copy"))
        self.pos = bool(self.config.get("pos"))
        self.edit = bool(self.config.get("edit"))
        self.max_dec_len = self.config["max_dec_len"]
        self.beam_size = self.config.get("beam_size") or 1
        self.batch_size = self.config.get("batch_size") or 50


def encode_source(model: Model, word: str):
    ids, oov, seen = [SOS], [], {}
    for ch in word:
        known = model.unit2id.get(ch)
        if known is not None and 0 <= known < model.V:
            ids.append(known)
        elif ch in seen:
            ids.append(seen[ch])
        else:
            seen[ch] = model.V + len(oov)
            oov.append(ch)
            ids.append(seen[ch])
    ids.append(EOS)
    return ids, oov


def output_text(model: Model, ids, oov) -> str:
    out = []
    for i in ids:
        if 0 <= i < model.V:
            out.append(model.id2unit[i])
        elif model.V <= i < model.V + len(oov):
            out.append(oov[i - model.V])
        else:
            out.append("<UNK>")
    return "".join(out)


def pos_id(model: Model, tag) -> int:
    if tag is None:
        raise ValueError("this seq2seq bundle requires a POS tag")
    return model.pos_unit2id.get(tag, UNK)


def encode_one(model: Model, ids, tag):
    net = model.net
    inputs = torch.tensor([[i if i < model.V else UNK for i in ids]])
    x = net.embedding(inputs)
    if model.pos:
        p = net.pos_embedding(torch.tensor([pos_id(model, tag)])).unsqueeze(0)
        x = torch.cat([p, x], 1)
    out, (hn, cn) = net.encoder(x)
    return out, torch.cat([hn[-1], hn[-2]], 1), torch.cat([cn[-1], cn[-2]], 1)


def edit_class(model: Model, h0):
    return model.net.edit_clf(h0).argmax(1).tolist()


def step(model: Model, ids, h, c, context, src, vext, suppress_unk, mask=None, limits=None):
    net = model.net
    ids = torch.where(ids >= model.V, torch.full_like(ids, UNK), ids)
    h, c = net.decoder.lstm_cell(net.embedding(ids), (h, c))
    att = net.decoder.attention_layer
    scores = torch.bmm(context, att.linear_in(h).unsqueeze(2)).squeeze(2)
    if mask is not None:
        scores = scores.masked_fill(mask, -1e12)
    log_attn = F.log_softmax(scores, 1)
    attn = log_attn.exp() if model.copy else F.softmax(scores, 1)
    weighted = torch.bmm(attn.unsqueeze(1), context).squeeze(1)
    h_tilde = torch.tanh(att.linear_out(torch.cat([weighted, h], 1)))
    result = F.log_softmax(net.dec2vocab(h_tilde), 1)
    if model.copy:
        gate = net.copy_gate(h_tilde)
        la = log_attn[:, 1:] if model.pos else log_attn
        la = F.log_softmax(la, -1)
        log_copy = F.logsigmoid(gate) + la
        m = log_copy.max(-1, keepdim=True).values
        copied = torch.zeros(ids.shape[0], vext, dtype=result.dtype).scatter_add(-1, src, (log_copy - m).exp())
        zero = copied == 0
        log_copied = torch.log(copied.masked_fill(zero, 1e-12)) + m
        log_copied = log_copied.masked_fill(zero, -1e12)
        scale = -torch.log(gate.exp() + 1)
        gen = result
        if vext > model.V:
            gen = torch.cat([gen, gen[:, 1:2].expand(-1, vext - model.V)], 1)
        result = torch.logsumexp(torch.stack([log_copied, gen + scale]), 0)
        if limits is not None:
            result = result.masked_fill(torch.arange(vext).unsqueeze(0) >= limits.unsqueeze(1), -1e12)
    if suppress_unk:
        result[:, UNK] = float("-inf")
    return result, h, c


def margin_of(row) -> float:
    top = torch.topk(row.double(), 2).values
    return float(top[0] - top[1])


def greedy(model: Model, enc, src, vext, suppress_unk):
    out, h, c = enc
    prev, tokens, margin = SOS, [], float("inf")
    for _ in range(model.max_dec_len):
        lp, h, c = step(model, torch.tensor([prev]), h, c, out, src, vext, suppress_unk)
        margin = min(margin, margin_of(lp[0]))
        prev = int(lp[0].argmax())
        if prev == EOS:
            break
        tokens.append(prev)
    return tokens, margin


def beam_search(model: Model, enc, src, vext, suppress_unk, k):
    out, h0, c0 = enc
    beam = [(0.0, [], h0, c0, SOS)]
    for _ in range(model.max_dec_len):
        K = len(beam)
        lp, h, c = step(model, torch.tensor([b[4] for b in beam]), torch.cat([b[2] for b in beam]),
                        torch.cat([b[3] for b in beam]), out.repeat(K, 1, 1), src.repeat(K, 1), vext, suppress_unk)
        W = lp.shape[1]
        total = lp + torch.tensor([[b[0]] for b in beam], dtype=lp.dtype)
        values, indices = torch.topk(total.reshape(-1), min(k, K * W))
        new = []
        for v, f in zip(values.tolist(), indices.tolist()):
            parent = f // W
            token = f - parent * W
            new.append((float(v), beam[parent][1] + [token], h[parent:parent + 1], c[parent:parent + 1], token))
        beam = new
        if beam[0][4] == EOS:
            break
    tokens = beam[0][1]
    return tokens[:tokens.index(EOS)] if EOS in tokens else tokens


@torch.no_grad()
def predict(model: Model, word: str, tag=None, beam=None, suppress_unk=False):
    """(text, edit class or None, margin); the margin is inf for beam search."""
    ids, oov = encode_source(model, word)
    enc = encode_one(model, ids, tag if model.pos else None)
    src = torch.tensor([ids])
    vext = max(model.V, max(ids) + 1) if model.copy else model.V
    edit = edit_class(model, enc[1])[0] if model.edit else None
    k = beam if beam is not None else model.beam_size
    if k < 1:
        raise ValueError("beam size must be positive")
    if k == 1:
        tokens, margin = greedy(model, enc, src, vext, suppress_unk)
    else:
        tokens, margin = beam_search(model, enc, src, vext, suppress_unk, k), float("inf")
    return output_text(model, tokens, oov), edit, margin


@torch.no_grad()
def predict_batched(model: Model, words, tags, suppress_unk=False):
    """Greedy decoding in length-sorted batches; [(text, edit, margin)] in input order."""
    sources = [encode_source(model, w) for w in words]
    order = sorted(range(len(words)), key=lambda i: -len(sources[i][0]))
    results = [None] * len(words)
    net = model.net
    for start in range(0, len(order), model.batch_size):
        rows = order[start:start + model.batch_size]
        L = len(sources[rows[0]][0])
        src = torch.zeros(len(rows), L, dtype=torch.long)
        for r, w in enumerate(rows):
            src[r, :len(sources[w][0])] = torch.tensor(sources[w][0])
        extra = 1 if model.pos else 0
        lengths = torch.tensor([len(sources[w][0]) + extra for w in rows])
        x = net.embedding(torch.where(src >= model.V, torch.full_like(src, UNK), src))
        if model.pos:
            p = net.pos_embedding(torch.tensor([pos_id(model, tags[w]) for w in rows]))
            x = torch.cat([p.unsqueeze(1), x], 1)
        packed = pack_padded_sequence(x, lengths, batch_first=True)
        out, (hn, cn) = net.encoder(packed)
        out, _ = pad_packed_sequence(out, batch_first=True, total_length=L + extra)
        h, c = torch.cat([hn[-1], hn[-2]], 1), torch.cat([cn[-1], cn[-2]], 1)
        mask = torch.arange(L + extra).unsqueeze(0) >= lengths.unsqueeze(1)
        limits = torch.tensor([max(model.V, max(sources[w][0]) + 1) if model.copy else model.V for w in rows])
        vext = int(limits.max())
        edits = edit_class(model, h) if model.edit else [None] * len(rows)
        prev = torch.full((len(rows),), SOS, dtype=torch.long)
        outputs = [[] for _ in rows]
        done = [False] * len(rows)
        margins = [float("inf")] * len(rows)
        for _ in range(model.max_dec_len):
            lp, h, c = step(model, prev, h, c, out, src, vext, suppress_unk, mask, limits)
            prev = lp.argmax(1)
            appended = False
            for r in range(len(rows)):
                if done[r]:
                    continue
                margins[r] = min(margins[r], margin_of(lp[r]))
                if int(prev[r]) == EOS:
                    done[r] = True
                else:
                    outputs[r].append(int(prev[r]))
                    appended = True
            if not appended:
                break
        for r, w in enumerate(rows):
            results[w] = (output_text(model, outputs[r], sources[w][1]), edits[r], margins[r])
    return results


# Multi-word-token expansion.

def clean_expansion(token: str, text: str) -> str:
    for marker in ("<PAD>", "<UNK>", "<SOS>", "<EOS>"):
        text = text.replace(marker, "")
    return text if " " in text else token


@torch.no_grad()
def classify_pieces(net, unit2id: dict, token: str) -> str:
    ids = [SOS] + [unit2id.get(ch, UNK) for ch in token] + [EOS]
    out, _ = net.encoder(net.embedding(torch.tensor([ids])))
    logits = net.output_layer(out)[0]
    breaks = (logits[:, 1] > logits[:, 0]).tolist()
    result = ""
    for i, ch in enumerate(token, start=1):
        if breaks[i]:
            result += " "
        result += ch
    return result.strip(" ")


# Lemmatization.

def lemma_of(assets: dict, model: Model | None, word: str, upos, predict_fn=None) -> str:
    config = assets["config"]
    caseless = assets.get("caseless")
    if caseless is None:
        caseless = bool(config.get("caseless"))
    lookup = word.lower() if caseless else word
    pos = upos if upos is not None else "_"
    table = assets["pos_dict"]

    def find():
        for key in (pos, "*"):
            entry = table.get(key, {})
            if lookup in entry and entry[lookup] is not None:
                return entry[lookup]
        return None

    if config.get("dict_only") or config.get("ensemble_dict"):
        hit = find()
        if hit is not None:
            return hit or "_"
        if config.get("dict_only"):
            return lookup or "_"
    if model is None:
        return lookup or "_"
    text, edit, _ = predict_fn(lookup, pos) if predict_fn else predict(model, lookup, pos)
    edit = edit or 0
    candidate = {0: text, 1: lookup, 2: lookup.lower()}[edit]
    if not candidate or "<UNK>" in candidate:
        candidate = lookup
    return candidate or "_"
