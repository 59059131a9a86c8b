"""Runs bench/ner_bench next to the PyTorch reference tagger on the same bundle and sentences.

    python bench/ner.py [--binary build/release/bench/ner_bench] [--threads 1] [--tiny]

A tagger of the usual size with its own character BiLSTM (100-wide word and character
embeddings, 100-unit character LSTM, one 256-unit tagger BiLSTM layer, 4 + 17 tags) and 200
seeded sentences of 5 to 30 tokens are written to a temporary directory (--tiny: the test widths,
5 sentences). The reference tags sentence by sentence, which is also how it tags a document or a
list of documents, so its time stands beside each native case (--native-only: not timed).
"""

import json
import pathlib
import random
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))
sys.path.insert(0, str(ROOT / "bench"))

import report  # noqa: E402

import ner_reference  # noqa: E402
from ner_bundle import NERSettings, NERTestModel, write_ner_bundle  # noqa: E402


def sentences(count, seed=5):
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    return [["".join(rng.choice(letters) for _ in range(rng.randint(1, 9))) for _ in range(rng.randint(5, 30))]
            for _ in range(count)]


def main():
    args = report.arguments("ner_bench").parse_args()
    gemm = report.gemm_rate(args.threads)
    settings = NERSettings() if args.tiny else NERSettings(word_emb_dim=100, char_emb_dim=100, char_hidden_dim=100,
                                                           hidden_dim=256)
    model = NERTestModel(settings, seed=3).eval()
    batch = sentences(5 if args.tiny else 200)
    tokens = [token for sentence in batch for token in sentence]
    flops = report.network_flops(model, len(tokens), {"charmodel": sum(len(token) + 1 for token in tokens)})
    with tempfile.TemporaryDirectory() as directory:
        directory = pathlib.Path(directory)
        write_ner_bundle(directory / "bundle", model)
        (directory / "sentences.json").write_text(json.dumps(batch))
        print(f"{len(batch)} sentences, {args.threads} thread(s)")
        if not args.native_only:
            start = time.perf_counter()
            for tokens in batch:
                ner_reference.tag(model, tokens)
            reference = time.perf_counter() - start
            print(f"PyTorch reference, sentence by sentence {reference:8.3f} s  "
                  f"{len(batch) / reference:8.0f} sentences/s")
            for case in ("sentence by sentence", "one document", "ten per document"):
                report.emit("ner", case, args.threads, "baseline", reference, len(batch), "sentences", flops, gemm)
        report.run_native([args.binary, directory / "bundle", directory / "sentences.json", args.threads], flops, gemm)


if __name__ == "__main__":
    main()
