"""Dictionary form to CoNLL-U: Velmora against the ``conllu`` package, over one treebank.

Velmora: ``Document.from_dict`` on the dictionary form of the whole file, then ``to_conll()``.
Baseline: ``conllu.parse`` of the file text, then ``serialize()`` of every sentence.
The dictionary form is built once beforehand (with ``conllu``) and not timed. Each side is
run several times and the best time is printed.

Usage: PYTHONPATH=build/release/src/python python3 bench/dict_conllu.py [--tiny] [--native-only] [file.conllu]
(--tiny: the first 50 sentences, one run each; --native-only: the baseline is not timed)
"""

import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "support"))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import conllu  # noqa: E402
import report  # noqa: E402
import ud_corpus  # noqa: E402
from _velmora import Document  # noqa: E402

def best_time(run, repeats):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = report.arguments()
    parser.add_argument("file", nargs="?")
    args = parser.parse_args()
    if args.file:
        path = pathlib.Path(args.file)
    else:
        path = ud_corpus.find_shared_data(__file__, "en_ewt-ud-dev.conllu")
        if path is None:
            sys.exit("no treebank given and shared/data/en_ewt-ud-dev.conllu not found")
    text = path.read_text(encoding="utf-8")
    if args.tiny:
        text = "\n\n".join(text.split("\n\n")[:50]) + "\n\n"
    entries = ud_corpus.to_dict_form(ud_corpus.parse(text))
    words = sum(len(sentence) for sentence in entries)

    def velmora():
        return Document.from_dict(entries).to_conll()

    def baseline():
        return "\n".join(sentence.serialize() for sentence in conllu.parse(text))

    repeats = 1 if args.tiny else 5
    ours = best_time(velmora, repeats)
    print(f"{path.name}: {len(entries)} sentences, {words} lines of tokens, words and empty words")
    print(f"velmora from_dict + to_conll : {ours * 1000:8.1f} ms")
    report.emit("dict_conllu", "dict form to CoNLL-U", 1, "native", ours, words, "words")
    if not args.native_only:
        theirs = best_time(baseline, repeats)
        print(f"conllu parse + serialize     : {theirs * 1000:8.1f} ms")
        print(f"speed-up                     : {theirs / ours:8.1f}x")
        report.emit("dict_conllu", "dict form to CoNLL-U", 1, "baseline", theirs, words, "words")


if __name__ == "__main__":
    main()
