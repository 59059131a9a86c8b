"""Test bundles for the neural tokenizer: a PyTorch module with the bundle's tensor names,
seeded random weights, classifier biases calibrated so that every label occurs, written with
the test bundle writer.

``write_tokenizer_bundle(directory, size="tiny", calibration_texts=...)`` returns the bundle
path; sizes are "tiny" (unit tests) and "realistic" (benchmark dimensions).
"""

from __future__ import annotations

import json
import pathlib
import string

import torch
from torch import nn

from bundle_writer import write_bundle

FEATURES = ["space_before", "capitalized", "numeric", "end_of_para", "start_of_para",
            "labeled_field", "phone_id", "date_pattern", "currency"]

SIZES = {
    # name: (emb_dim, hidden_dim, num_dict_feat)
    "tiny": (8, 6, 2),
    "realistic": (32, 64, 4),
}

DEFAULT_LEXICON = ["the", "and", "of", "to", "in", "is", "that", "it", "for", "was", "on", "are", "with", "as",
                   "be", "at", "by", "this", "have", "from", "or", "an", "they", "which", "you", "one", "we",
                   "all", "were", "her", "would", "there", "their", "will", "when", "who", "him", "been",
                   "has", "more", "if", "no", "out", "so", "said", "what", "up", "its", "about", "into",
                   "than", "them", "can", "only", "other", "new", "some", "could", "time", "these", "two",
                   "may", "then", "do", "first", "any", "my", "now", "such", "like", "our", "over", "man",
                   "me", "even", "most", "made", "after", "also", "did", "many", "before", "must", "through",
                   "don't", "can't", "e-mail", "U.S.", "Mr.", "Dr.", "etc.", "café", "naïve", "a", "I"]


class TokenizerNetwork(nn.Module):
    def __init__(self, vocab_size: int, emb_dim: int, hidden_dim: int, feat_dim: int, use_mwt: bool):
        super().__init__()
        self.embeddings = nn.Embedding(vocab_size, emb_dim, padding_idx=0)
        self.rnn = nn.LSTM(emb_dim + feat_dim, hidden_dim, num_layers=1, bidirectional=True, batch_first=True)
        self.tok_clf = nn.Linear(2 * hidden_dim, 1)
        self.sent_clf = nn.Linear(2 * hidden_dim, 1)
        if use_mwt:
            self.mwt_clf = nn.Linear(2 * hidden_dim, 1)
        self.rnn2 = nn.LSTM(2 * hidden_dim, hidden_dim, num_layers=1, bidirectional=True, batch_first=True)
        self.tok_clf2 = nn.Linear(2 * hidden_dim, 1, bias=False)
        self.sent_clf2 = nn.Linear(2 * hidden_dim, 1, bias=False)
        if use_mwt:
            self.mwt_clf2 = nn.Linear(2 * hidden_dim, 1, bias=False)
        self.pad_id = 0


def load_network(bundle_dir: pathlib.Path) -> TokenizerNetwork:
    """The network of a written bundle, its weights read back from the tensor file."""
    manifest = json.loads((bundle_dir / "manifest.json").read_text())
    assets = json.loads((bundle_dir / manifest["assets"]["path"]).read_text(encoding="utf-8"))
    config = assets["config"]
    raw = (bundle_dir / manifest["tensor_file"]["path"]).read_bytes()
    state = {}
    for entry in manifest["tensors"]:
        count = 1
        for d in entry["shape"]:
            count *= d
        data = torch.frombuffer(bytearray(raw[entry["offset"]:entry["offset"] + 4 * count]), dtype=torch.float32)
        state[entry["name"]] = data.reshape(entry["shape"]).clone()
    vocab_size = state["embeddings.weight"].shape[0]
    net = TokenizerNetwork(vocab_size, config["emb_dim"], config["hidden_dim"], config["feat_dim"], config["use_mwt"])
    net.load_state_dict(state)
    net.eval()
    return net


def default_units(texts: list[str]) -> list[str]:
    """Unit vocabulary: printable ASCII plus every character of the texts but a few, so that
    unknown units occur too."""
    units = set(string.printable) - set("\t\n\r\x0b\x0c")
    for text in texts:
        units.update(text)
    units -= set("~^\x0b\x0c\t\n\r")
    return ["<PAD>", "<UNK>"] + sorted(units)


def calibrate(net: TokenizerNetwork, config: dict, vocab: dict, lexicon: list[str], texts: list[str]) -> None:
    """Sets the classifier biases so that about a third of the units end a token, and a few of
    those a sentence or a multi-word token."""
    import tokenizer_reference as ref

    lex = ref.Lexicon(lexicon) if config.get("use_dictionary") else None
    paragraphs = [p for t in texts for p in ref.split_paragraphs(t, config["skip_newline"])][:24]
    paragraphs = [p[:ref.WINDOW] for p in paragraphs]
    ids = [torch.tensor([vocab.get(u.text, vocab["<UNK>"]) for u in p]) for p in paragraphs]
    feats = [ref.unit_features(config, lex, p) for p in paragraphs]

    def scores(clf, clf2) -> torch.Tensor:
        """First- plus second-stage scores of one classifier over every calibration unit."""
        totals = []
        with torch.no_grad():
            for i, f in zip(ids, feats):
                x = torch.cat([net.embeddings(i.unsqueeze(0)), f.unsqueeze(0)], -1)
                out = net.rnn(x)[0]
                gate = 1 - torch.sigmoid(-net.tok_clf(out) * config["hier_invtemp"])
                out2 = net.rnn2(out * gate)[0]
                totals.append((clf(out) + clf2(out2)).flatten())
        return torch.cat(totals)

    with torch.no_grad():
        for _ in range(2):  # the token bias moves the gate, so settle it in two rounds
            net.tok_clf.bias -= torch.quantile(scores(net.tok_clf, net.tok_clf2), 0.66)
        net.sent_clf.bias -= torch.quantile(scores(net.sent_clf, net.sent_clf2), 0.92)
        if config["use_mwt"]:
            net.mwt_clf.bias -= torch.quantile(scores(net.mwt_clf, net.mwt_clf2), 0.95)


def write_tokenizer_bundle(directory: str | pathlib.Path, *, size: str = "tiny", seed: int = 1,
                           calibration_texts: list[str] | None = None, use_mwt: bool = True,
                           use_dictionary: bool = True, config_overrides: dict | None = None,
                           lexicon: list[str] | None = None, language: str = "en", alignment: int = 64,
                           corrupt=()) -> pathlib.Path:
    emb_dim, hidden_dim, window = SIZES[size]
    texts = calibration_texts or ["The quick brown Fox jumps over the lazy dog. It costs $1,200.50 today!",
                                  "Call (555) 123-4567 now.\n\nName: Jo wrote to jo@example.com on March 3, 2020."]
    units = default_units(texts)
    vocab = {unit: k for k, unit in enumerate(units)}
    lexicon = DEFAULT_LEXICON if lexicon is None else lexicon
    feat_dim = len(FEATURES) + (2 * window if use_dictionary else 0)
    config = {
        "emb_dim": emb_dim, "hidden_dim": hidden_dim, "feat_dim": feat_dim, "rnn_layers": 1,
        "hierarchical": True, "use_mwt": use_mwt, "hier_invtemp": 0.5, "skip_newline": False,
        "shorthand": "en_test", "lang": language, "batch_size": 32, "feat_funcs": FEATURES,
        "use_dictionary": use_dictionary, "conv_res": None, "charlm_forward_file": None,
    }
    if use_dictionary:
        config["num_dict_feat"] = window
    torch.manual_seed(seed)
    net = TokenizerNetwork(len(units), emb_dim, hidden_dim, feat_dim, use_mwt)
    with torch.no_grad():
        # Strong enough weights that the labels depend on the characters around each unit.
        net.embeddings.weight.normal_(0.0, 1.0)
        for clf in [net.tok_clf, net.sent_clf, net.tok_clf2, net.sent_clf2] + (
                [net.mwt_clf, net.mwt_clf2] if use_mwt else []):
            clf.weight.normal_(0.0, 2.0)
    net.eval()
    calibrate(net, config, vocab, lexicon, texts)
    if config_overrides:
        config.update(config_overrides)
    assets = {"config": config, "vocab": {"_unit2id": vocab, "_id2unit": units}}
    if use_dictionary:
        assets["lexicon"] = lexicon
    tensors = {name: tensor.detach().contiguous() for name, tensor in net.state_dict().items()}
    return write_bundle(directory, tensors, assets, processor="tokenize", language=language,
                        alignment=alignment, corrupt=corrupt)


def write_variant(directory: pathlib.Path, variant: dict) -> pathlib.Path:
    """A tiny bundle changed as `variant` says; the keys (all optional) are:
    "bundle": keyword arguments of write_tokenizer_bundle; "config": config keys to set (a
    value "<delete>" removes the key); "assets": top-level assets members to set or delete;
    "vocab": units to add or remove in the vocabulary; "drop_tensors": names to leave out;
    "extra_tensors": name -> dtype of additional tensors; "reshape_tensors": name -> shape of a
    random float32 tensor put in its place; "processor": the bundle's processor;
    "misalign": true to store the last tensor one byte off its dtype's alignment."""
    import bundle_writer

    kwargs = dict(variant.get("bundle", {}))
    directory = write_tokenizer_bundle(directory, **kwargs)
    manifest = json.loads((directory / "manifest.json").read_text())
    assets = json.loads((directory / manifest["assets"]["path"]).read_text(encoding="utf-8"))

    def apply(target: dict, edits: dict) -> None:
        for key, value in edits.items():
            if value == "<delete>":
                target.pop(key, None)
            else:
                target[key] = value

    apply(assets["config"], variant.get("config", {}))
    apply(assets, variant.get("assets", {}))
    apply(assets["vocab"]["_unit2id"], variant.get("vocab", {}))
    net = load_network(directory)
    tensors = {name: t.contiguous() for name, t in net.state_dict().items()
               if name not in variant.get("drop_tensors", [])}
    for name, dtype in variant.get("extra_tensors", {}).items():
        tensors[name] = torch.zeros(3, dtype=getattr(torch, dtype))
    generator = torch.Generator().manual_seed(5)
    for name, shape in variant.get("reshape_tensors", {}).items():
        tensors[name] = torch.randn(shape, generator=generator)
    misalign = variant.get("misalign", False)
    directory = bundle_writer.write_bundle(directory, tensors, assets, processor=variant.get("processor", "tokenize"),
                                           language=manifest["language"], alignment=1 if misalign else 64)
    if misalign:
        _shift_last_tensor(directory)
    return directory


def _shift_last_tensor(directory: pathlib.Path) -> None:
    """Moves the last tensor one byte further into the tensor file (digests are not refreshed;
    the bundle is opened without verification)."""
    manifest = json.loads((directory / "manifest.json").read_text())
    path = directory / manifest["tensor_file"]["path"]
    data = bytearray(path.read_bytes())
    last = manifest["tensors"][-1]
    data[last["offset"]:last["offset"]] = b"\0"
    last["offset"] += 1
    manifest["tensor_file"]["size"] = len(data)
    path.write_bytes(bytes(data))
    (directory / "manifest.json").write_text(json.dumps(manifest, indent=2))


if __name__ == "__main__":
    import sys

    # Usage: tokenizer_bundle.py VARIANTS_JSON OUT_DIR — writes OUT_DIR/<name> for every
    # named variant of the JSON object.
    variants = json.loads(pathlib.Path(sys.argv[1]).read_text(encoding="utf-8"))
    out = pathlib.Path(sys.argv[2])
    for name, variant in variants.items():
        write_variant(out / name, variant)
