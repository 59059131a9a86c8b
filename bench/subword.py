"""Baseline of subword_bench: the plain-Python reference tokenizers encoding every sentence of
a CoNLL-U corpus with the vocabularies that tests/support/subword_test_data.py wrote.

Usage: subword.py DATA_DIR CONLLU [SENTENCES]   (prints "name seconds ids" per tokenizer; with
SENTENCES, only that many of the corpus's first sentences are encoded)
"""

import json
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "support"))

import subword_reference as ref  # noqa: E402
import subword_test_data  # noqa: E402


def build(name, a):
    if name.startswith("wordpiece"):
        return ref.WordPiece(a["vocabulary"], a["lowercase"], a["strip_accents"], a["unknown_token"], a["cls_token"],
                             a["sep_token"], a["continuing_subword_prefix"], a["max_input_characters_per_word"])
    if name.startswith("bpe"):
        return ref.ByteBPE(a["vocabulary"], [tuple(m) for m in a["merges"]], a["unknown_token"], a["cls_token"],
                           a["sep_token"], a["add_prefix_space"])
    return ref.Unigram(a["vocabulary"], a["scores"], ref.CharsMap(subword_test_data.CHARSMAP), a["unknown_id"],
                       a["cls_token"], a["sep_token"])


def main(data_dir: pathlib.Path, conllu: pathlib.Path, limit: int | None) -> None:
    sentences, _ = subword_test_data.read_corpus(conllu)
    sentences = sentences[:limit]
    for name in ("wordpiece_medium", "bpe_medium", "unigram_medium"):
        arguments = json.loads((data_dir / f"{name}.json").read_text(encoding="utf-8"))["arguments"]
        tokenizer = build(name, arguments)
        start = time.perf_counter()
        ids = sum(len(tokenizer.encode(words, True)["input_ids"]) for words in sentences)
        print(name, time.perf_counter() - start, ids, flush=True)


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), int(sys.argv[3]) if len(sys.argv) > 3 else None)
