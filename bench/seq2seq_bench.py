"""Writes the seq2seq benchmark's bundle and words, and times the PyTorch reference on them.

Usage: seq2seq_bench.py OUT_DIR THREADS — writes OUT_DIR/bundle (a lemma bundle of realistic
dimensions), OUT_DIR/words.txt (one word and its UPOS per line) and OUT_DIR/reference.txt
(seconds for single-word greedy decoding and for batched decoding of every word).
"""

import pathlib
import sys
import time

import torch

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "support"))

import seq2seq_bundle  # noqa: E402
import seq2seq_reference as ref  # noqa: E402
import seq2seq_test_data as data  # noqa: E402

OPTIONS = {"emb": 50, "hidden": 200, "layers": 1, "copy": True, "edit": True, "pos": True}


def main(out: pathlib.Path, threads: int) -> None:
    torch.set_num_threads(threads)
    chars = data.units()
    bundle = seq2seq_bundle.write_seq2seq_bundle(out / "bundle", chars, processor="lemma", max_dec_len=20,
                                                 batch_size=50, **OPTIONS)
    corpus = data.find_corpus()
    pairs = data.corpus_words(corpus, 2000) if corpus else [(w, "NOUN") for w in data.EDGE_WORDS * 100]
    (out / "words.txt").write_text("".join(f"{w}\t{t}\n" for w, t in pairs), encoding="utf-8")
    import json
    assets = json.loads((bundle / "assets.json").read_text(encoding="utf-8"))
    shape = {k: OPTIONS[k] for k in ("hidden", "layers", "pos", "copy", "edit")}
    model = ref.Model(seq2seq_bundle.seq2seq_network(chars, emb=50, **shape), assets)
    words = [w for w, _ in pairs]
    tags = [t for _, t in pairs]
    start = time.perf_counter()
    for w, t in zip(words, tags):
        ref.predict(model, w, t)
    single = time.perf_counter() - start
    start = time.perf_counter()
    ref.predict_batched(model, words, tags)
    batched = time.perf_counter() - start
    (out / "reference.txt").write_text(f"{single} {batched}\n")


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1]), int(sys.argv[2]))
