"""PyTorch reference of the dependency parser, computed from a ``DepparseNetwork``.

``reference_parse(network, words)`` returns the arc and relation log-probabilities and the
predictions (head, relation) of one sentence; words are dicts with ``text`` and optional
``lemma``, ``upos``, ``xpos``. Decoding (``decode_single_root``, ``decode_with_head_constraints``)
works on plain Python lists of floats, so tests can also feed it hand-made matrices.
"""

from __future__ import annotations

import math

import torch

import charlm_reference
import transformer_reference

QUESTION = {"?", "\uff1f", "\ufe16", "\ufe56", "\u2047"}
EXCLAMATION = {"!", "\uff01", "\ufe15", "\ufe57", "\u203c"}
UNKNOWN, ABSENT, ROOT = 1, 2, 3


def fold(text):
    if len(text) >= 2 and all(ch in QUESTION | EXCLAMATION for ch in text):
        return "?" if text[0] in QUESTION else "!"
    return text


def char_vector(network, key):
    model = network.charmodel
    ids = [network.char_vocab.get(ch, UNKNOWN) for ch in key] if isinstance(key, str) else key
    embedded = model.char_emb(torch.tensor([ids]))
    hidden, _ = model.charlstm.lstm(embedded, (model.charlstm_h_init, model.charlstm_c_init))
    weights = torch.sigmoid(model.char_attn(hidden))
    return (hidden * weights).sum(1)[0]


def xpos_component_ids(network, xpos):
    separator = network.settings.xpos_separator
    pieces = [] if xpos == "_" else (list(xpos) if separator == "" else xpos.split(separator))
    return [network.xpos_component_vocabs[c].get(pieces[c], UNKNOWN) if c < len(pieces) else ABSENT
            for c in range(len(network.xpos_component_vocabs))]


def embed(network, words):
    s = network.settings
    keys = [fold(word["text"]) for word in words]
    word_ids = [ROOT] + [network.word_vocab.get(k.lower() if s.word_lower else k, UNKNOWN) for k in keys]
    lemma_ids = [ROOT]
    upos_ids = [ROOT]
    xpos_rows = []
    for word in words:
        lemma = word.get("lemma") or "_"
        lemma_ids.append(network.lemma_vocab.get(lemma.lower() if s.lemma_lower else lemma, UNKNOWN))
        upos_ids.append(network.upos_vocab.get(word.get("upos") or "_", UNKNOWN))
        xpos = word.get("xpos") or "_"
        if s.composite_xpos:
            xpos_rows.append(xpos_component_ids(network, xpos))
        elif xpos == "_" and s.xpos_ignore:
            xpos_rows.append(ABSENT)
        else:
            xpos_rows.append(network.xpos_vocab.get(xpos, UNKNOWN))
    pretrained_ids = [ROOT] + [network.pretrain_vocab.get(k.lower().replace(" ", "\u00a0"), UNKNOWN) for k in keys]

    pos = network.upos_emb(torch.tensor(upos_ids))
    if s.composite_xpos:
        for c, table in enumerate(network.xpos_emb):
            pos = pos + table(torch.tensor([ROOT] + [row[c] for row in xpos_rows]))
    else:
        pos = pos + network.xpos_emb(torch.tensor([ROOT] + xpos_rows))
    parts = [network.trans_pretrained(network.pretrained_emb(torch.tensor(pretrained_ids))),
             network.word_emb(torch.tensor(word_ids)), network.lemma_emb(torch.tensor(lemma_ids)), pos, pos]
    if s.charlm:
        texts = ["\n"] + [word["text"] for word in words]
        forward, backward = network.charlms
        parts.append(charlm_reference.reference_encode(forward, True, texts))
        parts.append(charlm_reference.reference_encode(backward, False, texts))
    else:
        vectors = [char_vector(network, [ROOT])] + [char_vector(network, k) for k in keys]
        parts.append(network.trans_char(torch.stack(vectors)))
    if s.transformer:
        from aoti_packages import TinyEncoder

        texts = [word["text"] for word in words]
        block = network.transformer_block
        rows = transformer_reference.encode(TinyEncoder().eval(), texts, block["model_max_length"], True)
        parts.append(rows[:len(words) + 1])
    return torch.cat(parts, 1)


def encode(network, words):
    x = embed(network, words).unsqueeze(0)
    p = network.parserlstm
    for layer in range(network.settings.num_layers):
        state = (network.parserlstm_h_init[2 * layer:2 * layer + 2], network.parserlstm_c_init[2 * layer:2 * layer + 2])
        output, _ = p.lstm[layer].lstm(x, state)
        x = output + torch.sigmoid(p.gate[layer](x)) * torch.tanh(p.highway[layer](x))
    return x


def biaffine(scorer, x):
    dep = torch.relu(scorer.W1(x))
    head = torch.relu(scorer.W2(x))
    ones = torch.ones(*dep.shape[:-1], 1)
    dep, head = torch.cat([dep, ones], -1), torch.cat([head, ones], -1)
    return torch.einsum("bip,pqo,bjq->bijo", dep, scorer.scorer.W_bilin.weight, head) + scorer.scorer.W_bilin.bias


def scores(network, x):
    n = x.shape[1]
    arcs = biaffine(network.unlabeled, x)[..., 0]
    offsets = torch.arange(n).view(1, 1, n) - torch.arange(n).view(1, n, 1)
    if network.settings.linearization:
        arcs = arcs + torch.nn.functional.logsigmoid(biaffine(network.linearization, x)[..., 0] * torch.sign(offsets).float())
    if network.settings.distance:
        predicted = 1 + torch.nn.functional.softplus(biaffine(network.distance, x)[..., 0])
        arcs = arcs - torch.log((offsets.abs().float() - predicted) ** 2 / 2 + 1)
    arcs = arcs.masked_fill(torch.eye(n, dtype=torch.bool).unsqueeze(0), float("-inf"))
    return torch.log_softmax(arcs, 2), torch.log_softmax(biaffine(network.deprel, x), 3)


# ----------------------------------------------------------------------------------------------
# Decoding over Python lists.

class DecodeError(Exception):
    pass


def argmax_first(values):
    best, best_value = 0, -math.inf
    for index, value in enumerate(values):
        if value > best_value:
            best, best_value = index, value
    return best


def strongly_connected_cycles(tree):
    n = len(tree)
    index, low, on_stack, stack, cycles = [-1] * n, [-1] * n, [False] * n, [], []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack[v] = True
        for j in range(n):
            if tree[j] != v:
                continue
            if index[j] == -1:
                visit(j)
                low[v] = min(low[v], low[j])
            elif on_stack[j]:
                low[v] = min(low[v], index[j])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack[w] = False
                component.append(w)
                if w == v:
                    break
            if len(component) >= 2:
                cycles.append(component)

    for v in range(n):
        if index[v] == -1:
            visit(v)
    return cycles


def chu_liu_edmonds(s):
    s = [list(row) for row in s]
    n = len(s)
    for i in range(n):
        s[i][i] = -math.inf
    s[0] = [-math.inf] * n
    s[0][0] = 0.0
    tree = [argmax_first(row) for row in s]
    cycles = strongly_connected_cycles(tree)
    if not cycles:
        return tree
    cycle = sorted(cycles[-1])
    rest = [i for i in range(n) if i not in cycle]
    own = [s[m][tree[m]] for m in cycle]
    total = 0.0
    for value in own:
        total += value
    r = len(rest)
    best_member, best_head = [], []
    z = [[0.0] * (r + 1) for _ in range(r + 1)]
    for q in range(r):
        enter = [total + (s[m][rest[q]] - own[k]) for k, m in enumerate(cycle)]
        leave = [s[rest[q]][m] for m in cycle]
        best_member.append(argmax_first(enter))
        best_head.append(argmax_first(leave))
        for p in range(r):
            z[q][p] = s[rest[q]][rest[p]]
        z[q][r] = leave[best_head[q]]
        z[r][q] = enter[best_member[q]]
    contracted = chu_liu_edmonds(z)
    heads = [-1] * n
    for q in range(r):
        heads[rest[q]] = rest[contracted[q]] if contracted[q] < r else cycle[best_head[q]]
    for m in cycle:
        heads[m] = tree[m]
    h = contracted[r]
    heads[cycle[best_member[h]]] = rest[h]
    return heads


def decode_single_root(scores_matrix):
    finite = [v for row in scores_matrix for v in row if math.isfinite(v)]
    if not finite:
        raise DecodeError("dependency scores contain no finite value")
    smallest = min(finite)
    n = len(scores_matrix)
    s = [list(row) for row in scores_matrix]
    for row in s:
        row[0] = math.fma(smallest, float(n), row[0]) if hasattr(math, "fma") else smallest * n + row[0]
    heads = chu_liu_edmonds(s)
    if sum(1 for h in heads[1:] if h == 0) != 1:
        raise DecodeError("single-root dependency decoding did not produce one root")
    return heads


UNIQUE_CLASSES = {"obj": "obj", "nsubj": "subj", "csubj": "subj", "nsubj:pass": "subj", "csubj:pass": "subj",
                  "nsubj:outer": "subj_outer", "csubj:outer": "subj_outer"}


def best_allowed(labels, classes, d, h, forbidden, extra=None):
    best, best_score = 0, -math.inf
    banned = forbidden.get((h, d), set())
    for c, score in enumerate(labels[d][h]):
        cls = classes[c]
        if cls is not None and (cls == extra or cls in banned):
            continue
        if score > best_score:
            best, best_score = c, score
    if not math.isfinite(best_score):
        raise DecodeError("head constraints excluded every dependency relation")
    return best, best_score


def label_arcs(heads, labels, classes, forbidden):
    return [best_allowed(labels, classes, d, heads[d], forbidden)[0] for d in range(1, len(heads))]


def conflicts_of(heads, label_ids, classes):
    groups = []
    for d in range(1, len(heads)):
        cls = classes[label_ids[d - 1]]
        if cls is None:
            continue
        for group in groups:
            if group[0] == heads[d] and group[1] == cls:
                group[2].append(d)
                break
        else:
            groups.append((heads[d], cls, [d]))
    return [g for g in groups if len(g[2]) >= 2]


def decode_with_head_constraints(deprels, arcs, labels, heads):
    n = len(arcs)
    classes = [UNIQUE_CLASSES.get(deprels[c + 4]) for c in range(len(labels[0][0]))]
    forbidden = {}
    label_ids = label_arcs(heads, labels, classes, forbidden)
    for _ in range(5):
        conflicts = conflicts_of(heads, label_ids, classes)
        if not conflicts:
            break
        head, cls, members = conflicts[0]
        kept = None
        for keeper in range(len(members)):
            s = [list(row) for row in arcs]
            for u, d in enumerate(members):
                if u == keeper:
                    continue
                for h in range(n):
                    s[d][h] = arcs[d][h] + best_allowed(labels, classes, d, h, forbidden, cls if h == head else None)[1]
            cand_heads = decode_single_root(s)
            cand_labels = label_arcs(cand_heads, labels, classes, forbidden)
            for u, d in enumerate(members):
                if u != keeper and cand_heads[d] == head:
                    cand_labels[d - 1] = best_allowed(labels, classes, d, head, forbidden, cls)[0]
            total = 0.0
            for i in range(1, n):
                total += arcs[i][cand_heads[i]] + labels[i][cand_heads[i]][cand_labels[i - 1]]
            if kept is None or total > kept[0]:
                kept = (total, keeper, cand_heads, cand_labels)
        _, keeper, heads, label_ids = kept
        for u, d in enumerate(members):
            if u != keeper:
                forbidden.setdefault((head, d), set()).add(cls)
    return heads, label_ids


def decode(deprels, arc_scores, relation_scores):
    """Predictions [(head, relation name)] from [n, n] and [n, n, C] score tensors."""
    arcs = arc_scores.double().tolist()
    labels = relation_scores.double().tolist()
    heads, label_ids = decode_with_head_constraints(deprels, arcs, labels, decode_single_root(arcs))
    return [(heads[i], deprels[label_ids[i - 1] + 4]) for i in range(1, len(arcs))]


def reference_parse(network, words):
    with torch.no_grad():
        arc_scores, relation_scores = scores(network, encode(network, words))
    return arc_scores[0], relation_scores[0], decode(network.deprels, arc_scores[0], relation_scores[0])
