"""Writes the seq2seq benchmark's bundle and words, and times the PyTorch reference on them.

Usage: seq2seq.py OUT_DIR THREADS [--tiny] [--native-only] — writes OUT_DIR/bundle (a lemma
bundle of realistic dimensions, with an empty dictionary; --tiny: the test widths and 20 words),
OUT_DIR/words.txt (one word and its UPOS per line, 2000 distinct pairs of the English dev
corpus), OUT_DIR/reference.txt (seconds for single-word greedy decoding, for batched decoding of
every word, and for batched decoding of each document of DOCUMENT_WORDS words in turn; zeros
with --native-only) and OUT_DIR/flops.txt (the network's floating-point operations for
decoding every word once).
"""

import json
import pathlib
import sys
import time

import torch

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "support"))

import seq2seq_bundle  # noqa: E402
import seq2seq_reference as ref  # noqa: E402
import seq2seq_test_data as data  # noqa: E402
import ud_corpus  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import report  # noqa: E402

DOCUMENT_WORDS = 100  # words of one document in the lemmatizer's cases
OPTIONS = {"emb": 50, "hidden": 200, "layers": 1, "copy": True, "edit": True, "pos": True}
TINY_OPTIONS = {"emb": 8, "hidden": 10, "layers": 1, "copy": True, "edit": True, "pos": True}


def main(out: pathlib.Path, threads: int, tiny: bool, native_only: bool) -> None:
    torch.set_num_threads(threads)
    options = TINY_OPTIONS if tiny else OPTIONS
    chars = data.units()
    bundle = seq2seq_bundle.write_seq2seq_bundle(out / "bundle", chars, processor="lemma", max_dec_len=20,
                                                 batch_size=50, extra_assets={"pos_dict": {}}, **options)
    corpus = ud_corpus.find_dev_corpus()
    count = 20 if tiny else 2000
    pairs = data.corpus_words(corpus, count) if corpus else [(w, "NOUN") for w in data.EDGE_WORDS * 100][:count]
    (out / "words.txt").write_text("".join(f"{w}\t{t}\n" for w, t in pairs), encoding="utf-8")
    assets = json.loads((bundle / "assets.json").read_text(encoding="utf-8"))
    shape = {k: options[k] for k in ("hidden", "layers", "pos", "copy", "edit")}
    network = seq2seq_bundle.seq2seq_network(chars, emb=options["emb"], **shape)
    (out / "flops.txt").write_text(f"{report.seq2seq_flops(network, [w for w, _ in pairs])}\n")
    if native_only:
        (out / "reference.txt").write_text("0 0 0\n")
        return
    model = ref.Model(network, assets)
    words = [w for w, _ in pairs]
    tags = [t for _, t in pairs]
    start = time.perf_counter()
    for w, t in zip(words, tags):
        ref.predict(model, w, t)
    single = time.perf_counter() - start
    start = time.perf_counter()
    ref.predict_batched(model, words, tags)
    batched = time.perf_counter() - start
    start = time.perf_counter()
    for first in range(0, len(words), DOCUMENT_WORDS):
        ref.predict_batched(model, words[first:first + DOCUMENT_WORDS], tags[first:first + DOCUMENT_WORDS])
    documents = time.perf_counter() - start
    (out / "reference.txt").write_text(f"{single} {batched} {documents}\n")


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1]), int(sys.argv[2]), "--tiny" in sys.argv[3:], "--native-only" in sys.argv[3:])
