"""Reads CoNLL-U treebanks with the ``conllu`` package into the dictionary form.

Every column is kept as the text of the file (no feature or MISC parsing), so that a
document built from the entries can be compared line for line with the file. Columns
holding "_" are left out of the entries, as the dictionary form writes them.
"""

from __future__ import annotations

import pathlib

import conllu

_RAW = {field: (lambda line, i: line[i]) for field in ("xpos", "feats", "head", "deps", "misc")}
_COLUMNS = ("lemma", "upos", "xpos", "feats", "head", "deprel", "deps", "misc")


def find_shared_data(start: str | pathlib.Path, name: str) -> pathlib.Path | None:
    """The file ``shared/data/<name>`` next to one of the directories above ``start``."""
    for parent in pathlib.Path(start).resolve().parents:
        candidate = parent / "shared" / "data" / name
        if candidate.is_file():
            return candidate
    return None


def find_dev_corpus() -> pathlib.Path | None:
    """The English dev treebank that document and model tests read, when it is present."""
    return find_shared_data(__file__, "en_ewt-ud-dev.conllu")


def parse(text: str) -> list:
    """The ``conllu`` token lists of a CoNLL-U text, every column as written."""
    return conllu.parse(text, field_parsers=_RAW)


def entry(token: dict) -> dict:
    """The dictionary-form entry of one ``conllu`` token (word, range or empty word)."""
    token_id = token["id"]
    if isinstance(token_id, tuple):  # (1, "-", 2) or (8, ".", 1)
        token_id = (token_id[0], token_id[2])
    result = {"id": token_id, "text": token["form"]}
    for column in _COLUMNS:
        value = token[column]
        if value is None or value == "_":
            continue
        result[column] = int(value) if column == "head" else value
    return result


def to_dict_form(sentences: list) -> list[list[dict]]:
    return [[entry(token) for token in sentence] for sentence in sentences]
