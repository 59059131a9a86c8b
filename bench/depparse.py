"""Writes the parser benchmark's bundle and sentences, and times the PyTorch reference on them.

Usage: depparse.py OUT_DIR THREADS [--tiny] [--native-only] — writes OUT_DIR/bundle (a depparse
bundle of realistic dimensions; --tiny: the test widths and 5 sentences), OUT_DIR/sentences.txt
(one word per line as text, lemma, UPOS and XPOS separated by tabs, an empty line after each
sentence), OUT_DIR/reference.txt (seconds for the reference's network alone and with its
decoding, one sentence at a time; zeros with --native-only) and OUT_DIR/flops.txt (the
network's floating-point operations over all sentences).
"""

import pathlib
import sys
import time

import torch

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "support"))

import depparse_bundle  # noqa: E402
import depparse_reference as ref  # noqa: E402
import ud_corpus  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import report  # noqa: E402

SETTINGS = depparse_bundle.Settings(word_emb_dim=75, tag_emb_dim=50, transformed_dim=125, char_emb_dim=100,
                                    char_hidden_dim=400, hidden_dim=400, num_layers=3, deep_biaff_hidden_dim=400,
                                    pretrain_dim=100, seed=1)


def sentences(limit=200):
    corpus = ud_corpus.find_dev_corpus()
    if corpus is None:
        words = "the dog saw a big cat and the cat runs".split()
        return [[{"text": w, "lemma": w, "upos": "NOUN", "xpos": "NN"} for w in words[: 3 + i % 8]]
                for i in range(limit)]
    result = []
    for tokens in ud_corpus.parse(corpus.read_text(encoding="utf-8"))[:limit]:
        result.append([{"text": t["form"], "lemma": t["lemma"], "upos": t["upos"], "xpos": t["xpos"]}
                       for t in tokens if isinstance(t["id"], int)])
    return result


def main(out: pathlib.Path, threads: int, tiny: bool, native_only: bool) -> None:
    torch.set_num_threads(threads)
    network = depparse_bundle.make_network(depparse_bundle.Settings(seed=1) if tiny else SETTINGS)
    depparse_bundle.write_depparse_bundle(out / "bundle", network)
    data = sentences(5 if tiny else 200)
    flops = report.depparse_flops(network, [[w["text"] for w in s] for s in data])
    (out / "flops.txt").write_text(f"{flops}\n")
    (out / "sentences.txt").write_text(
        "".join("".join(f"{w['text']}\t{w['lemma']}\t{w['upos']}\t{w['xpos']}\n" for w in s) + "\n" for s in data),
        encoding="utf-8")
    if native_only:
        (out / "reference.txt").write_text("0 0\n")
        return
    start = time.perf_counter()
    with torch.no_grad():
        for words in data:
            ref.scores(network, ref.encode(network, words))
    network_only = time.perf_counter() - start
    start = time.perf_counter()
    for words in data:
        ref.reference_parse(network, words)
    with_decoding = time.perf_counter() - start
    (out / "reference.txt").write_text(f"{network_only} {with_decoding}\n")


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1]), int(sys.argv[2]), "--tiny" in sys.argv[3:], "--native-only" in sys.argv[3:])
