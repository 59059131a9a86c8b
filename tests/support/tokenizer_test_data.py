"""Writes everything the tokenizer's C++ tests read (see write_cpp_test_data.py):

- ``bundles/<name>``: the tiny bundle changed as each entry of ``tokenizer_variants.json`` says
  (see ``tokenizer_bundle.write_variant``);
- ``comparison/``: the texts, the two comparison bundles and the PyTorch reference's labels and
  documents (see ``tokenizer_reference.write_comparison``), over the English dev corpus when
  ``shared/data/en_ewt-ud-dev.conllu`` is found above this directory (``corpus.txt`` names it,
  or says "none").
"""

import json
import pathlib

import ud_corpus

HERE = pathlib.Path(__file__).resolve().parent


def write(out: pathlib.Path) -> None:
    import tokenizer_bundle
    import tokenizer_reference

    variants = json.loads((HERE / "tokenizer_variants.json").read_text(encoding="utf-8"))
    for name, variant in variants.items():
        tokenizer_bundle.write_variant(out / "bundles" / name, variant)
    corpus = ud_corpus.find_dev_corpus()
    (out / "comparison").mkdir()
    tokenizer_reference.write_comparison(out / "comparison", corpus)
    (out / "corpus.txt").write_text(str(corpus) if corpus else "none")
