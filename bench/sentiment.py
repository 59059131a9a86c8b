"""Runs bench/sentiment_bench next to the PyTorch baseline on the same bundle and sentences.

    python bench/sentiment.py [--binary build/release/bench/sentiment_bench] [--threads 1] [--tiny]

A classifier of a common size (10000-word 100-wide pretrained embedding, a 2-layer BiLSTM of 300
units, filters of 3, 4 and 5 words with 100 channels each, pooled in pairs, hidden layers of 400
and 100 units) and 500 seeded sentences of 3 to 40 words are written to a temporary directory.
The baseline is the PyTorch reference of tests/support with the same length-ordered batches
(--native-only: not timed).
--tiny: 1000 words, a 20-unit BiLSTM, 10 channels, 5 sentences.
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

import sentiment_reference  # noqa: E402
from sentiment_bundle import SentimentModel, SentimentSettings, write_sentiment_bundle  # noqa: E402


def vocabulary(size, seed=3):
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyz"
    words = set()
    while len(words) < size:
        words.add("".join(rng.choice(letters) for _ in range(rng.randint(2, 9))))
    return sorted(words)


def sentences(words, count, seed=5):
    rng = random.Random(seed)
    return [[rng.choice(words) for _ in range(rng.randint(3, 40))] for _ in range(count)]


def main():
    parser = report.arguments("sentiment_bench")
    parser.add_argument("--sentences", type=int, default=500)
    parser.add_argument("--bilstm-hidden", type=int, default=300, help="0: no BiLSTM")
    args = parser.parse_args()
    gemm = report.gemm_rate(args.threads)

    words = vocabulary(1000 if args.tiny else 10000)
    settings = SentimentSettings(embedding=100, pretrain_words=tuple(words),
                                 bilstm_hidden=20 if args.tiny else args.bilstm_hidden, filters=(3, 4, 5),
                                 channels=10 if args.tiny else 100, maxpool=2, fc_shapes=(400, 100))
    model = SentimentModel(settings, seed=1).eval()
    batch = sentences(words + ["unseen", "Other"], 5 if args.tiny else args.sentences)
    # The dense layers run once per sentence, the rest once per word.
    flops = report.network_flops(model, sum(map(len, batch)), {"fc_layers": len(batch)})
    with tempfile.TemporaryDirectory() as directory:
        bundle = write_sentiment_bundle(pathlib.Path(directory) / "sentiment", model)
        sentence_file = pathlib.Path(directory) / "sentences.json"
        sentence_file.write_text(json.dumps(batch))

        print(f"{len(batch)} sentences, {sum(map(len, batch))} words, {args.threads} thread(s)")
        if not args.native_only:
            sentiment_reference.classify(model, batch[:1])  # warm-up
            wall, cpu = time.perf_counter(), time.process_time()
            sentiment_reference.classify(model, batch, 5000)
            wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
            print(f"{'PyTorch reference (budget 5000)':40} {wall:8.3f} s wall {cpu:8.3f} s cpu  "
                  f"{len(batch) / cpu:8.0f} sentences/cpu s")
            report.emit("sentiment", "whole list", args.threads, "baseline", wall, len(batch), "sentences", flops,
                        gemm)
        report.run_native([args.binary, bundle, sentence_file, args.threads], flops, gemm)


if __name__ == "__main__":
    main()
