"""A PyTorch reference of language identification, for comparison with the native code.

Each text is run on its own (a batch of one): its characters are looked up in the character
vocabulary (unknown characters take the id of "UNK"), embedded, run through the bidirectional
LSTM, scored per character by the output layer, and the scores are summed over the text. The
answer is the best tag among those allowed by the subset (all tags for an empty subset); among
equal scores the lowest tag id wins. It shares no code with the native implementation.
"""

from __future__ import annotations

import torch


class ReferenceIdentifier:
    def __init__(self, network: torch.nn.Module, assets: dict):
        self.network = network.eval()
        self.char_to_idx = assets["char_to_idx"]
        self.tags = [tag for tag, _ in sorted(assets["tag_to_idx"].items(), key=lambda item: item[1])]

    def scores(self, text: str) -> torch.Tensor:
        """The summed tag scores of one non-empty text, [T] float32."""
        ids = [self.char_to_idx.get(character, self.char_to_idx["UNK"]) for character in text]
        with torch.no_grad():
            embedded = self.network.char_embeds(torch.tensor([ids]))
            output, _ = self.network.lstm(embedded)
            return self.network.hidden_to_tag(output)[0].sum(0)

    def identify(self, text: str, subset=()) -> tuple[str, float]:
        """The tag and its lead over the next allowed tag (infinite when it is the only one)."""
        scores = self.scores(text).tolist()
        allowed = [k for k, tag in enumerate(self.tags) if not subset or tag in subset]
        if not allowed:
            raise ValueError("no known language in the subset")
        ranked = sorted(allowed, key=lambda k: (-scores[k], k))
        margin = scores[ranked[0]] - scores[ranked[1]] if len(ranked) > 1 else float("inf")
        return self.tags[ranked[0]], margin
