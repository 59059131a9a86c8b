"""A word-level coreference model in PyTorch with seeded random weights, its bundle, and a
reference resolver written from the model's description.

The model's parameter names are the bundle's tensor names. The word encoder is the tiny test
transformer of aoti_packages.py behind the WordPiece block of transformer_reference.py; the
bundle's artifact is that encoder's compiled package.

The resolver: words become subword ids (the bundle's own table first, otherwise the encoder's
WordPiece tokenizer of subword_reference.py, which splits punctuation off as its own pieces); the
subwords run through the encoder in windows of at most `bert_window_size` - 2 ids framed by two
special ids, each window ending where a sentence starts when one starts inside it; a word's
vector is the attention-weighted mean of its subword rows. Every word picks its antecedent among
the `rough_k` earlier words that a bilinear scorer ranks best, rescored by a feed-forward scorer
over (word, candidate, product, distance bucket [, same speaker]) against a dummy score of 1e-7;
linked words form clusters (with singletons, a start column may also make an unlinked word a
cluster of its own). Each clustered head gets the span whose start (at or before the head) and
end (at or after it) score best among the words of its sentence, and heads whose zero-anaphora
logit is positive are the cluster's zero words.
"""

import json
import math

import torch
from torch import nn

import subword_reference
import transformer_reference
from aoti_packages import TinyEncoder
from bundle_writer import write_bundle

DUMMY_SCORE = 1e-7


class CorefNetwork(nn.Module):
    def __init__(self, *, hidden=16, hidden_layers=1, rough_k=5, singletons=False, full_pairwise=False,
                 distance_width=4, speaker_width=3, position_width=5, scorer_width=12, span_widths=(12, 10, 8),
                 conv_channels=6, zero_width=7, link_bias=-2.0, seed=0):
        super().__init__()
        torch.manual_seed(seed)
        self.we = nn.Module()
        self.we.attn = nn.Linear(hidden, 1)
        self.rough_scorer = nn.Module()
        self.rough_scorer.bilinear = nn.Linear(hidden, hidden)
        self.pw = nn.Module()
        if full_pairwise:
            self.pw.speaker_emb = nn.Embedding(2, speaker_width)
        self.pw.distance_emb = nn.Embedding(9, distance_width)
        pair_width = distance_width + (speaker_width if full_pairwise else 0)
        self.a_scorer = nn.Module()
        layers, width = [], 3 * hidden + pair_width
        for _ in range(hidden_layers):
            layers += [nn.Linear(width, scorer_width), nn.LeakyReLU(), nn.Dropout(0.0)]
            width = scorer_width
        self.a_scorer.hidden = nn.Sequential(*layers)
        self.a_scorer.out = nn.Linear(width, 1)
        with torch.no_grad():
            self.a_scorer.out.bias.fill_(link_bias)
        if singletons:
            self.a_scorer.start_map = nn.Linear(rough_k, 1, bias=False)
            with torch.no_grad():
                # Weights that sum to zero make the start column's sign depend on the scores.
                self.a_scorer.start_map.weight.copy_(torch.linspace(-0.8, 0.8, rough_k).unsqueeze(0))
        self.sp = nn.Module()
        first, second, third = span_widths
        self.sp.ffnn = nn.Sequential(nn.Linear(2 * hidden + position_width, first), nn.ReLU(), nn.Dropout(0.0),
                                     nn.Linear(first, second), nn.ReLU(), nn.Dropout(0.0), nn.Linear(second, third))
        self.sp.conv = nn.Sequential(nn.Conv1d(third, conv_channels, 3, padding=1),
                                     nn.Conv1d(conv_channels, 2, 3, padding=1))
        self.sp.emb = nn.Embedding(128, position_width)
        self.zeros_predictor = nn.Sequential(nn.Linear(hidden, zero_width), nn.ReLU(), nn.Linear(zero_width, 1))
        self.hidden = hidden
        self.hidden_layers = hidden_layers
        self.rough_k = rough_k
        self.singletons = singletons
        self.full_pairwise = full_pairwise
        self.eval()


class CorefReference:
    """A network, its settings and the test encoder: everything a bundle holds."""

    def __init__(self, network, *, window=64, batch_size=4, use_zeros=False, special_ids=(2, 3, 0, 3),
                 word_table=None):
        self.network = network
        self.window = window
        self.batch_size = batch_size
        self.use_zeros = use_zeros
        self.cls_id, self.sep_id, self.pad_id, self.eos_id = special_ids
        self.word_table = dict(word_table or {})
        self.encoder = TinyEncoder().eval()
        tokenizer = transformer_reference.wordpiece_block()["tokenizer"]
        self.tokenizer = subword_reference.WordPiece(
            tokenizer["vocabulary"], lowercase=tokenizer["lowercase"], strip_accents=tokenizer["strip_accents"],
            unknown_token=tokenizer["unknown_token"], cls_token=tokenizer["cls_token"],
            sep_token=tokenizer["sep_token"], prefix=tokenizer["continuing_subword_prefix"],
            max_chars=tokenizer["max_input_characters_per_word"])

    def assets(self, **config_changes):
        network = self.network
        block = transformer_reference.wordpiece_block(hidden_size=network.hidden)
        block["tokenizer"].update(cls_id=self.cls_id, sep_id=self.sep_id, pad_id=self.pad_id, eos_id=self.eos_id)
        config = {
            "hidden_size": network.hidden,
            "embedding_size": 20,
            "sp_embedding_size": network.sp.emb.weight.shape[1],
            "a_scoring_batch_size": self.batch_size,
            "n_hidden_layers": network.hidden_layers,
            "rough_k": network.rough_k,
            "bert_window_size": self.window,
            "singletons": network.singletons,
            "full_pairwise": network.full_pairwise,
            "use_zeros": self.use_zeros,
        }
        config.update(config_changes)
        return {"config": config, "transformer": block,
                "runtime_contract": {"tokenizer_map_ids": self.word_table}}

    def tensors(self):
        return {name: value.detach().clone() for name, value in self.network.state_dict().items()}

    def write(self, directory, package_bytes, *, assets=None, tensors=None, processor="coref"):
        return write_bundle(directory, self.tensors() if tensors is None else tensors,
                            self.assets() if assets is None else assets, processor=processor,
                            artifacts={"model.pt2": package_bytes})

    # -- the resolver -------------------------------------------------------------------------

    def subword_ids(self, word):
        if word in self.word_table:
            return list(self.word_table[word])
        return self.tokenizer.encode_word(word)

    def windows(self, owners_sentence):
        room, total, start, windows = self.window - 2, len(owners_sentence), 0, []
        while start < total:
            if total - start <= room:
                end = total
            else:
                starts = [b for b in range(start + 1, start + room + 1) if owners_sentence[b - 1] != owners_sentence[b]]
                end = starts[-1] if starts else start + room
            windows.append((start, end))
            start = end
        return windows

    def word_vectors(self, words, sentence_ids):
        ids, owners, spans = [], [], []
        for index, word in enumerate(words):
            pieces = self.subword_ids(word)
            spans.append((len(ids), len(ids) + len(pieces)))
            ids += pieces
            owners += [sentence_ids[index]] * len(pieces)
        first = self.eos_id if self.cls_id < 0 else self.cls_id
        last = self.eos_id if self.sep_id < 0 else self.sep_id
        rows = [transformer_reference.run(self.encoder, [first] + ids[a:b] + [last])[1:-1]
                for a, b in self.windows(owners)]
        subwords = torch.cat(rows)
        scores = self.network.we.attn(subwords).squeeze(-1)
        return torch.stack([torch.softmax(scores[a:b], 0) @ subwords[a:b] for a, b in spans])

    def antecedents(self, vectors, speakers):
        net, n = self.network, vectors.shape[0]
        k = min(n, net.rough_k)
        earlier = torch.tril(torch.ones(n, n, dtype=torch.bool), diagonal=-1)
        rough = net.rough_scorer.bilinear(vectors) @ vectors.T
        rough = rough.masked_fill(~earlier, float("-inf"))
        top_scores, top = torch.topk(rough, k, dim=1, sorted=False)
        distance = (torch.arange(n).unsqueeze(1) - top).clamp(min=1)
        log_bucket = torch.log2(distance.double()).floor().long().clamp(max=6) + 2
        buckets = torch.where(distance < 5, distance - 1, log_bucket)
        pair = net.pw.distance_emb(buckets)
        if net.full_pairwise:
            same = torch.tensor([[int(speakers[i] == speakers[j]) for j in row] for i, row in enumerate(top.tolist())],
                                dtype=torch.long).reshape(n, k)
            pair = torch.cat([net.pw.speaker_emb(same), pair], dim=2)
        mention = vectors.unsqueeze(1).expand(n, k, -1)
        candidate = vectors[top]
        scores = net.a_scorer.out(net.a_scorer.hidden(torch.cat([mention, candidate, mention * candidate, pair], 2)))
        scores = scores.squeeze(-1)
        dummy = torch.full((n, 1), DUMMY_SCORE)
        choice = torch.cat([dummy, scores + top_scores], 1).argmax(1) - 1
        antecedent = [top[i, c].item() if c >= 0 else -1 for i, c in enumerate(choice.tolist())]
        if net.singletons:
            start_column = scores @ net.a_scorer.start_map.weight[:, :k].T
            alone = (start_column.squeeze(1) >= DUMMY_SCORE).tolist()
        else:
            alone = [False] * n
        return antecedent, alone

    @staticmethod
    def clusters(antecedent, alone):
        parent = list(range(len(antecedent)))

        def root(word):
            while parent[word] != word:
                word = parent[word]
            return word

        linked = set()
        for word, other in enumerate(antecedent):
            if other >= 0:
                parent[root(word)] = root(other)
                linked |= {word, other}
        groups = {}
        for word in sorted(linked):
            groups.setdefault(root(word), []).append(word)
        clusters = list(groups.values()) + [[word] for word, flag in enumerate(alone) if flag and word not in linked]
        return sorted(clusters)

    def span(self, vectors, sentence_ids, head):
        net = self.network
        members = [w for w in range(len(sentence_ids)) if sentence_ids[w] == sentence_ids[head]]
        offsets = torch.tensor([head - w for w in members])
        positions = torch.where(offsets.abs() <= 63, offsets + 63, torch.full_like(offsets, 127))
        features = torch.cat([vectors[head].expand(len(members), -1), vectors[members], net.sp.emb(positions)], 1)
        scores = net.sp.conv(net.sp.ffnn(features).T.unsqueeze(0)).squeeze(0)  # [2, L]
        member = torch.tensor(members)
        start_scores = scores[0].masked_fill(member > head, float("-inf"))
        end_scores = scores[1].masked_fill(member < head, float("-inf"))
        return members[start_scores.argmax().item()], members[end_scores.argmax().item()] + 1

    @torch.no_grad()
    def resolve(self, words, sentence_ids, speakers=None):
        """{"word_clusters", "span_clusters", "zero_words"} of one document."""
        speakers = speakers or ["_"] * len(words)
        if not words:
            return {"word_clusters": [], "span_clusters": [], "zero_words": []}
        vectors = self.word_vectors(words, sentence_ids)
        clusters = self.clusters(*self.antecedents(vectors, speakers))
        spans = [[list(self.span(vectors, sentence_ids, head)) for head in cluster] for cluster in clusters]
        zeros = [[] for _ in clusters]
        if self.use_zeros and clusters:
            heads = [head for cluster in clusters for head in cluster]
            logits = self.network.zeros_predictor(vectors[heads]).squeeze(-1).tolist()
            marked = {head for head, logit in zip(heads, logits) if logit > 0}
            zeros = [[head for head in cluster if head in marked] for cluster in clusters]
        return {"word_clusters": clusters, "span_clusters": spans, "zero_words": zeros}


def document_words(sentences):
    """Flat words and per-word sentence ids of a list of sentences (lists of words)."""
    words = [word for sentence in sentences for word in sentence]
    ids = [index for index, sentence in enumerate(sentences) for _ in sentence]
    return words, ids


def prediction_json(prediction):
    return json.dumps(prediction)
