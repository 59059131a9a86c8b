"""Model directories of the C++ pipeline tests, one folder each under the suite's folder:

- ``empty``: no index at all;
- ``tokenize_entries``: an English index with two tokenizer packages and an mwt entry, no bundles;
- ``another_language``: the same entries in an index that says it is French;
- ``pos_without_package``: a pos entry that names no package;
- ``loaded_tokenizer``: an English tokenizer bundle in the index, and a German index whose
  tokenizer entry names a directory that does not exist;
- ``seq2seq_stages``: English and German tokenizer, expander (seq2seq with a dictionary) and
  lemmatizer bundles; the English lemmatizer does not read POS tags, the German one does.
"""

import pathlib

from bundle_writer import write_index
from tokenizer_bundle import write_tokenizer_bundle

import seq2seq_bundle
import seq2seq_test_data

TOKENIZE_ENTRIES = [
    {"processor": "tokenize", "package": "ewt", "path": "tokenize/ewt"},
    {"processor": "tokenize", "package": "gum", "path": "tokenize/gum"},
    {"processor": "mwt", "package": "ewt", "path": "mwt/ewt"},
]


def write(out: pathlib.Path) -> None:
    (out / "empty").mkdir()
    write_index(out / "tokenize_entries", TOKENIZE_ENTRIES)
    write_index(out / "another_language", TOKENIZE_ENTRIES,
                edit_index=lambda index: index.update(language="fr"))
    write_index(out / "pos_without_package", [{"processor": "pos", "path": "pos"}])

    loaded = out / "loaded_tokenizer"
    write_tokenizer_bundle(loaded / "1.14.0" / "en" / "tokenize_default")
    write_index(loaded, [{"processor": "tokenize", "package": "default", "path": "tokenize_default"}])
    write_index(loaded, [{"processor": "tokenize", "package": "default", "path": "missing"}], language="de")

    stages = out / "seq2seq_stages"
    chars = seq2seq_test_data.units()
    for lang in ("en", "de"):
        base = stages / "1.14.0" / lang
        write_tokenizer_bundle(base / "tokenize_default", language=lang)
        seq2seq_bundle.write_seq2seq_bundle(
            base / "mwt_default", chars, processor="mwt", copy=True, flat_vocab=True,
            extra_assets={"expansion_dict": seq2seq_test_data.MWT_DICT},
            extra_config={"dict_only": False, "ensemble_dict": True})
        seq2seq_bundle.write_seq2seq_bundle(
            base / "lemma_default", chars, processor="lemma", copy=True, edit=True, pos=(lang == "de"),
            extra_assets={"pos_dict": seq2seq_test_data.POS_DICT}, extra_config={"ensemble_dict": True})
        write_index(stages, [{"processor": p, "package": "default", "path": p + "_default"}
                             for p in ("tokenize", "mwt", "lemma")], language=lang)
