"""Writes everything the tokenizer's C++ tests read, once per test run:

- ``bundles/<name>``: the tiny bundle changed as each entry of ``tokenizer_variants.json`` says
  (see ``tokenizer_bundle.write_variant``);
- ``comparison/``: the texts, the two comparison bundles and the PyTorch reference's labels and
  documents (see ``tokenizer_reference.write_comparison``), over the English dev corpus when
  ``shared/data/en_ewt-ud-dev.conllu`` is found above this directory (``corpus.txt`` names it,
  or says "none");
- ``complete``: written last, so a reader never sees half the data.

Usage: tokenizer_test_data.py OUT_DIR
"""

import json
import pathlib
import shutil
import sys

import torch

HERE = pathlib.Path(__file__).resolve().parent


def find_corpus() -> pathlib.Path | None:
    for directory in [HERE, *HERE.parents]:
        candidate = directory / "shared" / "data" / "en_ewt-ud-dev.conllu"
        if candidate.exists():
            return candidate
    return None


def main(out: pathlib.Path) -> None:
    import tokenizer_bundle
    import tokenizer_reference

    torch.set_num_threads(1)
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    variants = json.loads((HERE / "tokenizer_variants.json").read_text(encoding="utf-8"))
    for name, variant in variants.items():
        tokenizer_bundle.write_variant(out / "bundles" / name, variant)
    corpus = find_corpus()
    (out / "comparison").mkdir()
    tokenizer_reference.write_comparison(out / "comparison", corpus)
    (out / "corpus.txt").write_text(str(corpus) if corpus else "none")
    (out / "complete").write_text("")


if __name__ == "__main__":
    sys.path.insert(0, str(HERE))
    main(pathlib.Path(sys.argv[1]))
