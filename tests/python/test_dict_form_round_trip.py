"""Whatever the dictionary reader accepts, the writer gives back in a form that reads back as
the same document: seeded random dictionary forms (ids in and out of order, ranges, empty
words, MISC spacing, "_" values) either fail to read or survive a round trip unchanged."""

import random

import pytest

from _velmora import Document

TOKEN_FIELDS = ("id", "text", "misc", "ner", "multi_ner", "start_char", "end_char", "manual_expansion",
                "spaces_before", "spaces_after")
WORD_FIELDS = ("id", "text", "lemma", "upos", "xpos", "feats", "head", "deprel", "deps", "misc", "start_char",
               "end_char", "manual_expansion", "morphemes")

MISC_PIECES = ["Gloss=x", "a=1", "zeta=2", "\u00e9=1", "_", "", "SpaceAfter=No", "SpaceAfter=Yes", "SpaceAfter=No~",
               "SpacesAfter=\\s\\n", "SpacesBefore=\\t", "SpacesAfter=x\\p", "SpacesBefore=\\u00A0", "SpacesAfter=\\u2028\\u3000"]
SPACES = [None, "", " ", "  ", "\n", "\u00a0", "x|y", "\\s", "\u3000\u2028\x0b"]
TEXTS = ["a", "bc", "_", "d e", "f|g", "\u00e9", "h\\s"]


def snapshot(doc):
    """Every field of every token, word and empty word, as the views read them."""
    def word(w):
        return tuple(getattr(w, name) for name in WORD_FIELDS)
    return [(s.text, [(tuple(getattr(t, name) for name in TOKEN_FIELDS), [word(w) for w in t.words])
                      for t in s.tokens], [word(w) for w in s.empty_words])
            for s in doc.sentences]


def id_form(rng, first, second=None):
    """One of the forms that name a word or a pair."""
    if second is None:
        forms = [first, [first], (first,)] + ([str(first)] if 0 <= first <= 9 else [])
    else:
        forms = [(first, second), [first, second]] + ([f"{first}{second}"] if 0 <= min(first, second) and
                                                      max(first, second) <= 9 else [])
    return rng.choice(forms)


def maybe(rng, values, chance=0.3):
    return rng.choice(values) if rng.random() < chance else None


def entry(rng, entry_id):
    result = {"id": entry_id, "text": rng.choice(TEXTS) if rng.random() > 0.01 else ""}
    misc = maybe(rng, ["|".join(rng.choice(MISC_PIECES) for _ in range(rng.randint(1, 3))), "_"], 0.5)
    optional = {
        "misc": misc, "lemma": maybe(rng, ["_", "", "cat"]), "upos": maybe(rng, ["NOUN", "_"]),
        "feats": maybe(rng, ["A=B|C=D"]), "head": maybe(rng, ["_", 0, 3, "2"]), "deprel": maybe(rng, ["nsubj"]),
        "start_char": maybe(rng, [0, 5]), "end_char": maybe(rng, [2, 7]),
        "manual_expansion": maybe(rng, [True, False]), "ner": maybe(rng, ["O", "S-PER", "_"]),
        "multi_ner": maybe(rng, [["O", "B-X"], "O", []]), "morphemes": maybe(rng, [["a", "b"], "ab", []]),
        "spaces_before": maybe(rng, SPACES), "spaces_after": maybe(rng, SPACES),
    }
    result.update((key, value) for key, value in optional.items() if value is not None or rng.random() < 0.05)
    return result


def random_sentence(rng):
    """Words 1..n, now and then out of order; ranges before their words; empty words anywhere."""
    count = rng.randint(1, 5)
    entries, word_id = [], 1
    while word_id <= count:
        if rng.random() < 0.2:
            last = min(count, word_id + rng.randint(1, 2))
            entries.append(entry(rng, id_form(rng, word_id, last)))
        if rng.random() < 0.25:
            entries.append(entry(rng, id_form(rng, rng.randint(0, count + 1), rng.randint(1, count + 2))))
        entries.append(entry(rng, id_form(rng, rng.randint(1, count + 1) if rng.random() < 0.1 else word_id)))
        word_id += 1
    if rng.random() < 0.1:
        rng.shuffle(entries)
    return entries


def test_random_dictionary_forms_read_back_as_the_same_document():
    rng = random.Random(20261207)
    accepted = 0
    for case in range(3000):
        given = [random_sentence(rng) for _ in range(rng.randint(1, 2))]
        try:
            first = Document.from_dict(given)
        except (ValueError, TypeError, RuntimeError):
            continue
        accepted += 1
        written = first.to_dict()
        second = Document.from_dict(written)
        assert snapshot(second) == snapshot(first), (case, given, written)
        assert second.to_dict() == written, (case, given)
        assert second.to_conll() == first.to_conll(), (case, given)
    assert accepted > 1500  # most forms are valid, so the round trip is what is tested


@pytest.mark.parametrize("entries, message", [
    # Written back, 1.2 goes before token 2, where it would read as the range 1-2.
    ([{"id": 2, "text": "b"}, {"id": (1, 2), "text": "E"}], "the empty word 1.2 must follow word 1"),
    # With word ids 1 and 5, 3.4 is written before token 5, after word 1 only.
    ([{"id": 1, "text": "a"}, {"id": 5, "text": "b"}, {"id": [3, 4], "text": "E"}],
     "the empty word 3.4 must follow word 3 in word order; otherwise it reads back as the range 3-4"),
])
def test_an_empty_word_that_would_read_back_as_a_range_is_refused(entries, message):
    with pytest.raises(ValueError, match=f"^{message}"):
        Document.from_dict([entries])


def test_misc_pieces_keep_their_order_when_spacing_joins_them():
    doc = Document.from_dict([[{"id": 1, "text": "a", "misc": "zeta=2|alpha=1|SpaceAfter=No"},
                               {"id": 2, "text": "b", "misc": "alpha=1|zeta=2|SpaceAfter=No"}]])
    written = doc.to_dict()[0]
    assert [entry["misc"] for entry in written] == ["zeta=2|alpha=1|SpaceAfter=No", "SpaceAfter=No|alpha=1|zeta=2"]
    assert [t.misc for t in Document.from_dict([written]).sentences[0].tokens] == ["zeta=2|alpha=1", "alpha=1|zeta=2"]


def test_the_words_of_a_multi_word_token_keep_their_misc_as_stored():
    doc = Document.from_dict([[{"id": (1, 2), "text": "ab"}, {"id": 1, "text": "a", "misc": "x=1||y=2|"},
                               {"id": 2, "text": "b", "misc": "|"}]])
    assert [entry.get("misc") for entry in doc.to_dict()[0]] == [None, "x=1||y=2|", "|"]


def test_a_token_misc_left_as_an_underscore_reads_as_none():
    doc = Document.from_dict([[{"id": 1, "text": "a", "misc": "_|SpaceAfter=No"}]])
    assert doc.sentences[0].tokens[0].misc is None
