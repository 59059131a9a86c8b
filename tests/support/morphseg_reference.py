"""A PyTorch reference of morphological segmentation, for comparison with the native code.

Each word is run on its own: it is normalised (NFKC, full case folding, NFC), its characters are
looked up in the source vocabulary (unknown ones take id 1), the network predicts the best action
of every character, and the actions rewrite the word: "DELETE" drops the character, any other
action is cut at "+" into steps, each writing the character ("COPY") or its own text. The
rewritten word is split at " @@" into morphemes. It shares no code with the native implementation.
"""

from __future__ import annotations

import unicodedata

import torch
import torch.nn.functional as F

MARKER = " @@"


def normalise(word: str) -> str:
    return unicodedata.normalize("NFC", unicodedata.normalize("NFKC", word).casefold())


def rewrite(characters: str, actions: list[str]) -> str:
    out = []
    for character, action in zip(characters, actions):
        if action == "DELETE":
            continue
        for step in action.split("+"):
            out.append(character if step == "COPY" else step)
    return "".join(out)


class ReferenceSegmenter:
    def __init__(self, network: torch.nn.Module, assets: dict):
        self.network = network.eval()
        self.source = {character: k for k, character in enumerate(assets["source_vocabulary"])}
        self.target = assets["target_vocabulary"]

    def actions(self, word: str) -> tuple[list[int], float]:
        """The action id of every character of the normalised word, and the smallest lead of a
        chosen action over the runner-up (infinite for an empty word)."""
        characters = normalise(word)
        if not characters:
            return [], float("inf")
        ids = torch.tensor([[self.source.get(character, 1) for character in characters]])
        net = self.network
        with torch.no_grad():
            embedded = net.embedding(ids)
            state = (net.encoder.h_0.expand(-1, 1, -1).contiguous(), net.encoder.c_0.expand(-1, 1, -1).contiguous())
            encoded, _ = net.encoder.lstm(embedded, state)
            hidden = F.gelu(net.encoder.reduce_dim(encoded))
            scores = net.classifier[1](hidden)[0]
        top = scores.topk(2, dim=-1).values
        return scores.argmax(-1).tolist(), float((top[:, 0] - top[:, 1]).min())

    def segment(self, word: str) -> tuple[list[str], float]:
        ids, margin = self.actions(word)
        if not ids:
            return [], margin
        if any(k == 0 for k in ids):
            raise ValueError("padding action predicted")
        return rewrite(normalise(word), [self.target[k] for k in ids]).split(MARKER), margin
