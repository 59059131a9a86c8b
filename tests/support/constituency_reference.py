"""A PyTorch reference of the constituency parser: the word encoder, the two stack LSTMs, MAX
composition and transition scoring, the in-order transition system with its legality rules,
and greedy parsing. Trees are (label, children) tuples; a leaf has no children.

``Parser(model, assets, transformer=None).parse(words, tags)`` returns a ``Result`` with the
tree text (or the error message), the transitions applied, the smallest score margin between
the chosen transition and the next legal one, and the scores of the first step.
"""

from __future__ import annotations

import dataclasses
import math

import torch

from charlm_reference import reference_encode

SHIFT, CLOSE, OPEN = "shift", "close", "open"


class ParseError(Exception):
    pass


def tree_text(tree):
    label, children = tree
    if not children:
        return label
    return "(" + label + "".join(" " + tree_text(child) for child in children) + ")"


def too_unary(tree, limit):
    steps = 0
    while len(tree[1]) == 1:
        if steps >= limit:
            return True
        steps += 1
        tree = tree[1][0]
    return False


def build(labels, children):
    if not labels:
        raise ParseError("cannot build a constituent without a label")
    tree = (labels[-1], tuple(children))
    for label in reversed(labels[:-1]):
        tree = (label, (tree,))
    return tree


@dataclasses.dataclass
class Node:
    h: torch.Tensor
    c: torch.Tensor
    out: torch.Tensor
    tree: tuple | None = None        # constituent stack: the finished subtree
    hidden: torch.Tensor | None = None
    labels: tuple = ()
    marker: bool = False
    transition: int | None = None    # transition stack
    sentinel: bool = False


@dataclasses.dataclass
class State:
    vectors: list
    queue: list
    transitions: list
    constituents: list
    position: int = 0
    open: int = 0
    steps: int = 0

    @property
    def words(self):
        return len(self.queue)


@dataclasses.dataclass
class Result:
    tree: str | None
    error: str | None
    applied: list
    margin: float
    first_scores: list


class TransitionSystem:
    """Legality and effects of the transitions, independent of any network (``net`` supplies
    vectors and stack pushes)."""

    def __init__(self, table, root_labels, unary_limit):
        self.table = table
        self.roots = set(root_labels)
        self.unary_limit = unary_limit

    def last_was_open(self, state):
        top = state.transitions[-1]
        return not top.sentinel and self.table[top.transition]["kind"] == OPEN

    def legal(self, state, index):
        entry = self.table[index]
        empty = len(state.constituents) == 1
        if entry["kind"] == SHIFT:
            if state.position == state.words:
                return False
            return state.open > 0 or empty
        if entry["kind"] == OPEN:
            if state.open > state.words + 10 or empty or self.last_was_open(state):
                return False
            if entry["labels"][0] in self.roots:
                return state.open == 0 and state.position == state.words
            if state.open == 0 and state.position < state.words:
                return True
            top = state.constituents[-1]
            return top.tree is None or not too_unary(top.tree, self.unary_limit)
        if state.open == 0:
            return False
        if not self.last_was_open(state):
            return True
        if state.open > 1 or state.position == state.words:
            return True
        if len(state.constituents) < 3:
            return False
        second = state.constituents[-2]
        return second.tree is None or not too_unary(second.tree, self.unary_limit)

    def apply(self, state, index, net):
        entry = self.table[index]
        if entry["kind"] == SHIFT:
            tree = state.queue[state.position]
            hidden = state.vectors[state.position + 1][: net.hidden].unsqueeze(0)
            state.position += 1
            state.constituents.append(net.push_constituent(state.constituents[-1], tree=tree, hidden=hidden))
        elif entry["kind"] == OPEN:
            hidden = net.dummy(entry["open_index"])
            state.constituents.append(net.push_constituent(state.constituents[-1], hidden=hidden,
                                                           labels=tuple(entry["labels"]), marker=True))
            state.open += 1
        else:
            children = []
            while len(state.constituents) > 1 and not state.constituents[-1].marker:
                children.append(state.constituents.pop())
            if len(state.constituents) == 1:
                raise ParseError("constituency Close has no matching Open")
            labels = state.constituents.pop().labels
            if len(state.constituents) == 1:
                raise ParseError("in-order constituency Close has no left child")
            children.append(state.constituents.pop())
            children.reverse()
            if any(child.tree is None for child in children):
                raise ParseError("constituency child is a dummy marker")
            hidden = net.compose([child.hidden for child in children])
            tree = build(list(labels), [child.tree for child in children])
            state.constituents.append(net.push_constituent(state.constituents[-1], tree=tree, hidden=hidden))
            state.open -= 1
        state.transitions.append(net.push_transition(state.transitions[-1], index))
        state.steps += 1

    def finished(self, state):
        if state.position != state.words or len(state.constituents) != 2:
            return None
        top = state.constituents[-1]
        if top.tree is None or top.tree[0] not in self.roots:
            return None
        return top.tree


def _lstm(weights, prefix, input_size, hidden, layers, bidirectional):
    lstm = torch.nn.LSTM(input_size, hidden, num_layers=layers, bidirectional=bidirectional)
    lstm.load_state_dict({name[len(prefix):]: value for name, value in weights.items() if name.startswith(prefix)})
    return lstm.eval()


class Parser:
    def __init__(self, model, assets, transformer=None):
        """``model`` is the ConstituencyModel whose tensors the bundle holds; ``transformer`` a
        function of (words, keep_endpoints) giving the transformer rows."""
        self.weights = model.tensors()
        self.model = model
        self.transformer = transformer
        config = assets["config"]
        self.everything = config["sentence_boundary_vectors"] == "EVERYTHING"
        self.hidden = config["hidden_size"]
        self.layers = config["num_lstm_layers"]
        self.tag_dim = config["tag_embedding_dim"] or 0
        self.pretrain = assets["pretrain_vocab"]["_unit2id"]
        self.lower = bool(assets["pretrain_vocab"].get("lower"))
        self.delta = {}
        for k, word in enumerate(assets["delta_words"]):
            self.delta.setdefault(word, k + 2)
        self.tags = {}
        for k, tag in enumerate(assets["tags"]):
            self.tags.setdefault(tag, k + 2)
        self.system = TransitionSystem(assets["transitions"], assets["root_labels"], assets["unary_limit"])
        w = self.weights
        self.word_lstm = _lstm(w, "word_lstm.", w["word_lstm.weight_ih_l0"].shape[1], self.hidden, self.layers, True)
        self.transition_width = config["transition_hidden_size"]
        self.transition_lstm = _lstm(w, "transition_stack.lstm.", w["transition_stack.lstm.weight_ih_l0"].shape[1],
                                     self.transition_width, self.layers, False)
        self.constituent_lstm = _lstm(w, "constituent_stack.lstm.", self.hidden, self.hidden, self.layers, False)
        self.outputs = [(w[f"output_layers.{i}.weight"], w[f"output_layers.{i}.bias"])
                        for i in range(config["num_output_layers"])]

    # Word encoder.
    def _key(self, word):
        return (word.lower() if self.lower else word).replace(" ", "\u00a0")

    def pretrain_id(self, word):
        first = self.pretrain.get(self._key(word), 1)
        if first != 1:
            return first
        return self.pretrain.get(self._key(word.lower()), 1)

    def word_vectors(self, words, tags):
        w = self.weights
        features = [w["embedding.weight"][[self.pretrain_id(word) for word in words]],
                    w["delta_embedding.weight"][[self.delta.get(word, 1) for word in words]]]
        if self.tag_dim > 0:
            features.append(w["tag_embedding.weight"][[self.tags.get(tag, 1) for tag in tags]])
        if hasattr(self.model, "forward_charlm"):
            features.append(reference_encode(self.model.forward_charlm, True, words))
            features.append(reference_encode(self.model.backward_charlm, False, words))
        rows = torch.cat(features, 1)
        if self.everything:
            rows = torch.cat([w["word_start_embedding"].view(1, -1), rows, w["word_end_embedding"].view(1, -1)])
        if self.transformer is not None:
            rows = torch.cat([rows, self.transformer(words, self.everything)], 1)
        encoded, _ = self.word_lstm(rows.unsqueeze(1))
        projected = torch.relu(torch.nn.functional.linear(encoded[:, 0], w["word_to_constituent.weight"],
                                                          w["word_to_constituent.bias"]))
        vectors = list(projected)
        if not self.everything:
            zero = torch.zeros(self.hidden)
            vectors = [zero] + vectors + [zero]
        return vectors

    # Stacks.
    def _step(self, lstm, x, h, c):
        out, (h, c) = lstm(x.reshape(1, 1, -1), (h.unsqueeze(1), c.unsqueeze(1)))
        return h[:, 0], c[:, 0], out.reshape(-1)

    def _sentinel(self, lstm, width, start):
        zeros = torch.zeros(self.layers, width)
        if not self.everything:
            return Node(h=zeros, c=zeros, out=torch.zeros(width), sentinel=True)
        h, c, out = self._step(lstm, self.weights[start], zeros, zeros)
        return Node(h=h, c=c, out=out, sentinel=True)

    def push_constituent(self, top, *, hidden, tree=None, labels=(), marker=False):
        h, c, out = self._step(self.constituent_lstm, hidden[-1], top.h, top.c)
        return Node(h=h, c=c, out=out, tree=tree, hidden=hidden, labels=labels, marker=marker)

    def push_transition(self, top, index):
        h, c, out = self._step(self.transition_lstm, self.weights["transition_embedding.weight"][index], top.h, top.c)
        return Node(h=h, c=c, out=out, transition=index)

    def dummy(self, index):
        table = self.weights["dummy_embedding.weight"]
        if index >= table.shape[0]:
            raise ParseError("constituency Open index is outside dummy embeddings")
        return table[index].unsqueeze(0)

    def compose(self, hiddens):
        pooled = torch.stack([h[0] for h in hiddens]).max(0).values
        w = self.weights
        return torch.relu(torch.nn.functional.linear(pooled, w["reduce_linear.weight"],
                                                     w["reduce_linear.bias"])).unsqueeze(0)

    def scores(self, state):
        x = torch.cat([state.vectors[state.position + 1], state.transitions[-1].out, state.constituents[-1].out])
        for weight, bias in self.outputs:
            x = torch.nn.functional.linear(torch.relu(x), weight, bias)
        if x.dim() != 1 or x.shape[0] != len(self.system.table):
            raise ParseError("constituency output layer has the wrong shape")
        return [float(v) for v in x.double()]

    # Greedy parsing.
    def parse(self, words, tags):
        applied = []
        margin = float("inf")
        first_scores = []
        try:
            with torch.no_grad():
                if not words:
                    raise ParseError("constituency parser cannot parse an empty sentence")
                vectors = self.word_vectors(words, tags)
                state = State(vectors=vectors,
                              queue=[(tag, ((word, ()),)) for word, tag in zip(words, tags)],
                              transitions=[self._sentinel(self.transition_lstm, self.transition_width,
                                                          "transition_stack.start_embedding")],
                              constituents=[self._sentinel(self.constituent_lstm, self.hidden,
                                                           "constituent_stack.start_embedding")])
                system = self.system
                while True:
                    tree = system.finished(state)
                    if tree is not None:
                        return Result(tree_text(tree), None, applied, margin, first_scores)
                    scores = self.scores(state)
                    if not first_scores:
                        first_scores = scores
                    # Highest first, table order among equals; a NaN ranks below every number.
                    order = sorted(range(len(scores)),
                                   key=lambda i: (math.isnan(scores[i]), 0.0 if math.isnan(scores[i]) else -scores[i]))
                    legal = [i for i in order if system.legal(state, i)]
                    if not legal:
                        raise ParseError("constituency parser could not find a legal transition")
                    if len(legal) > 1:
                        margin = min(margin, scores[legal[0]] - scores[legal[1]])
                    if state.steps >= 20 * (len(words) + 2):
                        raise ParseError("constituency parser exceeded its transition limit")
                    system.apply(state, legal[0], self)
                    applied.append(legal[0])
        except ParseError as error:
            return Result(None, str(error), applied, margin, first_scores)
