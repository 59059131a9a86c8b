"""Building documents from the dictionary form: ids, value rules, MISC spacing, failures."""

import pytest

from _velmora import Document


def one_sentence(*entries, text=None):
    return Document.from_dict([list(entries)], text)


def entries(*pairs):
    return [{"id": entry_id, "text": text} for entry_id, text in pairs]


@pytest.mark.parametrize("given, tokens, empty_words", [
    # One id in any form is a one-word token.
    (entries((1, "Hi")), [((1,), ["Hi"])], []),
    (entries(([5], "w")), [((5,), ["w"])], []),
    (entries(((5,), "w")), [((5,), ["w"])], []),
    (entries(("5", "w")), [((5,), ["w"])], []),
    # A range opens a multi-word token that its words join; "12" is the range 1-2.
    (entries(((1, 2), "don't"), (1, "do"), (2, "n't"), (3, "go")), [((1, 2), ["do", "n't"]), ((3,), ["go"])], []),
    (entries(("12", "ab"), (1, "a"), (2, "b")), [((1, 2), ["a", "b"])], []),
    # An open range takes lower ids and closes on its end.
    (entries(((3, 4), "ab"), (2, "a"), (5, "c")), [((3, 4), ["a"]), ((5,), ["c"])], []),
    # Pairs that do not increase are empty words.
    *[(entries((1, "a"), (2, "b"), (3, "c"), (pair, "E")), [((1,), ["a"]), ((2,), ["b"]), ((3,), ["c"])], [empty])
      for pair, empty in [((2, 1), (2, 1)), ((3, 3), (3, 3)), ([2, 2], (2, 2))]],
    # A range always precedes its first word, and the build refuses a range starting at 0, so
    # an increasing pair after its first word can only be an empty word (0.2 and 2.3 here).
    (entries(((0, 2), "E"), (1, "a"), (2, "b"), ((2, 3), "F"), (3, "c")),
     [((1,), ["a"]), ((2,), ["b"]), ((3,), ["c"])], [(0, 2), (2, 3)]),
])
def test_ids_make_tokens_multi_word_tokens_and_empty_words(given, tokens, empty_words):
    sentence = Document.from_dict([given]).sentences[0]
    assert [(t.id, [w.text for w in t.words]) for t in sentence.tokens] == tokens
    assert [w.id for w in sentence.empty_words] == empty_words


@pytest.mark.parametrize(
    "misc,before,after,kept",
    [
        ("SpaceAfter=No|Gloss=x", "", "", "Gloss=x"),
        ("SpaceAfter=No", "", "", None),
        ("SpacesAfter=\\s\\n", "", " \n", None),
        ("SpacesBefore=\\u00A0", "\u00a0", " ", None),
        ("SpacesAfter=\\u3000\\u2028\\u000B\\u001F", "", "\u3000\u2028\x0b\x1f", None),
        ("SpacesAfter=\\u200a\\u0041\\u202", "", "\\u200a\\u0041\\u202", None),  # only escapes that are written
        ("SpaceAfter=No~", "", "", None),
        ("SpaceAfter=No|SpaceAfter=Yes", "", " ", None),
        ("SpacesAfter=\\t\\r\\p\\\\\\x", "", "\t\r|\\\\x", None),
        ("SpacesAfter=a\\", "", "a\\", None),
        ("a||b|", "", " ", "a|b"),
    ],
)
def test_misc_spacing_is_read_the_last_piece_wins_and_the_rest_stays(misc, before, after, kept):
    token = one_sentence({"id": 1, "text": "x", "misc": misc}).sentences[0].tokens[0]
    assert (token.spaces_before, token.spaces_after) == (before, after)
    assert token.misc == token.words[0].misc == kept


def test_misc_wins_over_the_spacing_keys():
    token = one_sentence({"id": 1, "text": "x", "spaces_after": "  ", "spaces_before": "\t",
                          "misc": "SpaceAfter=No"}).sentences[0].tokens[0]
    assert token.spaces_after == "" and token.spaces_before == "\t"


def test_words_of_a_multi_word_token_keep_their_misc():
    doc = one_sentence({"id": (1, 2), "text": "ab", "misc": "SpaceAfter=No"},
                       {"id": 1, "text": "a", "misc": "SpaceAfter=No"}, {"id": 2, "text": "b"})
    token = doc.sentences[0].tokens[0]
    assert token.spaces_after == "" and token.misc is None
    assert token.words[0].misc == "SpaceAfter=No"


def test_underscore_means_none_except_for_text():
    word = one_sentence({"id": 1, "text": "_", "lemma": "_", "misc": "_", "head": "_"}).sentences[0].words[0]
    assert word.text == "_" and word.lemma is None and word.misc is None and word.head is None


def test_values_and_defaults_of_word_keys():
    word = one_sentence({
        "id": 1, "text": "dogs", "lemma": "dog", "upos": "NOUN", "xpos": "NNS", "feats": "Number=Plur",
        "head": "4", "deprel": "nsubj", "deps": "4:nsubj", "manual_expansion": True, "morphemes": ("dog", "s"),
        "start_char": 0, "end_char": 4, "unknown_key": object(),
    }, text="dogs").sentences[0].words[0]
    assert (word.lemma, word.upos, word.xpos, word.feats, word.head, word.deprel, word.deps) == (
        "dog", "NOUN", "NNS", "Number=Plur", 4, "nsubj", "4:nsubj")
    assert word.manual_expansion is True and word.morphemes == ["dog", "s"]
    assert (word.start_char, word.end_char) == (0, 4)


def test_token_keys_of_a_single_word_entry():
    token = one_sentence({"id": 1, "text": "Bob", "ner": "S-PER", "multi_ner": "S-PER", "lemma": None}).sentences[0].tokens[0]
    assert token.ner == "S-PER" and token.multi_ner == ["S-PER"]
    assert token.words[0].lemma is None


def test_an_open_range_takes_lower_ids_and_closes_on_its_end():
    doc = one_sentence({"id": (3, 4), "text": "ab"}, {"id": 2, "text": "a"}, {"id": 5, "text": "c"})
    tokens = doc.sentences[0].tokens
    assert [t.id for t in tokens] == [(3, 4), (5,)]
    assert [w.text for w in tokens[0].words] == ["a"]


def test_empty_inputs():
    assert len(Document.from_dict([]).sentences) == 0
    doc = Document.from_dict([[]], "")
    assert len(doc.sentences) == 1 and len(doc.sentences[0].tokens) == 0
    assert Document.from_dict((), "text").text == "text"


@pytest.mark.parametrize(
    "sentences,message",
    [
        (["not a sentence"], "each document sentence must be a sequence"),
        ([{"id": 1}], "each document sentence must be a sequence"),
        ([[("id", 1)]], "each sentence entry must be a dictionary"),
        ([[{"text": "x"}]], "every token entry must contain an id"),
        ([[{"id": None, "text": "x"}]], "every token entry must contain an id"),
        ([[{"id": (1, 2, 3), "text": "x"}]], "an id must be an int or a one/two-element sequence"),
        ([[{"id": [], "text": "x"}]], "an id must be an int or a one/two-element sequence"),
        ([[{"id": 1, "text": "x", "start_char": -1}]], "start_char cannot be negative"),
        ([[{"id": 1, "text": "x", "end_char": -5}]], "end_char cannot be negative"),
        ([[{"id": 1, "text": ""}]], "a token must have non-empty text"),
        ([[{"id": 0, "text": "x"}]], "a token has an invalid ID range"),
    ],
)
def test_malformed_entries_are_refused_with_value_error(sentences, message):
    with pytest.raises(ValueError, match=f"^{message}"):
        Document.from_dict(sentences)


@pytest.mark.parametrize("offset", [2**31, 2**32 - 1, 2**32 + 5])
def test_offsets_beyond_32_bits_are_refused_not_truncated(offset):
    # Cut to its low bits, 2**32 - 1 would read as "no offset" and 2**32 + 5 as 5.
    with pytest.raises(ValueError, match="start_char"):
        Document.from_dict([[{"id": 1, "text": "x", "start_char": offset}]])


@pytest.mark.parametrize(
    "arguments, error",
    [
        *[(([[entry]],), RuntimeError) for entry in [
            {"id": 1, "text": 5},
            {"id": 1, "text": "x", "lemma": 3},
            {"id": 1, "text": "x", "head": 1.5},
            {"id": 1, "text": "x", "manual_expansion": 1},
            {"id": 1, "text": "x", "morphemes": ["a", 2]},
            {"id": (1.0, 2), "text": "x"},
            {"id": 2**40, "text": "x"},
        ]],
        (([[{"id": 1.0, "text": "x"}]],), TypeError),  # the interpreter's length error
        ((5,), TypeError),
        (([], 5), RuntimeError),
    ],
)
def test_values_of_the_wrong_type_fail_the_conversion(arguments, error):
    with pytest.raises(error):
        Document.from_dict(*arguments)


class Dropping:
    """A value that removes itself from its entry when the reader first calls back into it, so
    that the reader's own reference is the last one. A reader that borrowed the value from the
    dictionary would go on with a freed object (its attributes gone, or a crash)."""

    def __init__(self, entry, key, values, drop_in):
        self.entry, self.key, self.values, self.drop_in = entry, key, values, drop_in

    def drop(self, method):
        if method == self.drop_in:
            self.entry.pop(self.key, None)

    def __len__(self):
        self.drop("__len__")
        return len(self.values)

    def __getitem__(self, index):
        self.drop("__getitem__")
        return self.values[index]

    def __index__(self):
        self.drop("__index__")
        return self.values


class DroppingIndex:
    """An id element whose __index__ removes the id, a plain list, from the entry."""

    def __init__(self, entry, value):
        self.entry, self.value = entry, value

    def __index__(self):
        self.entry.pop("id", None)
        return self.value


def entry_holding(key, make):
    entry = {"id": 1, "text": "w"}
    entry[key] = make(entry)  # the entry holds the only reference
    return entry


@pytest.mark.parametrize("key, make, check", [
    ("id", lambda e: Dropping(e, "id", (2, 1), "__len__"), lambda s: s.empty_words[0].id == (2, 1)),
    ("id", lambda e: Dropping(e, "id", (2, 1), "__getitem__"), lambda s: s.empty_words[0].id == (2, 1)),
    ("id", lambda e: Dropping(e, "id", [3], "__getitem__"), lambda s: s.words[2].id == 3),
    ("id", lambda e: [DroppingIndex(e, 2), 1], lambda s: s.empty_words[0].id == (2, 1)),
    ("head", lambda e: Dropping(e, "head", 3, "__index__"), lambda s: s.words[0].head == 3),
    ("start_char", lambda e: Dropping(e, "start_char", 4, "__index__"), lambda s: s.words[0].start_char == 4),
    ("morphemes", lambda e: Dropping(e, "morphemes", ["a", "b"], "__len__"),
     lambda s: s.words[0].morphemes == ["a", "b"]),
    ("morphemes", lambda e: Dropping(e, "morphemes", ["a", "b"], "__getitem__"),
     lambda s: s.words[0].morphemes == ["a", "b"]),
    ("multi_ner", lambda e: Dropping(e, "multi_ner", ["O", "S-X"], "__getitem__"),
     lambda s: s.tokens[0].multi_ner == ["O", "S-X"]),
])
def test_a_value_that_removes_itself_from_its_entry_is_read_whole(key, make, check):
    for _ in range(50):  # freed memory is soon reused: repeating makes a dangling read show
        entries = [{"id": 1, "text": "a"}, {"id": 2, "text": "b"}, entry_holding(key, make)]
        if key != "id":
            entries = entries[2:]
        assert check(Document.from_dict([entries]).sentences[0])


class Refusing(Exception):
    pass


class Raises:
    """A number or sequence whose conversion hook raises its own error."""

    def __index__(self):
        raise Refusing("from __index__")

    def __len__(self):
        return 2

    def __getitem__(self, index):
        raise Refusing("from __getitem__")


class IntOnly:
    def __int__(self):
        raise Refusing("from __int__")


@pytest.mark.parametrize("entry, message", [
    ({"id": [Raises(), 1]}, "__index__"),
    ({"id": (2, IntOnly())}, "__int__"),
    ({"id": Raises()}, "__getitem__"),
    ({"id": 1, "head": Raises()}, "__index__"),
    ({"id": 1, "start_char": IntOnly()}, "__int__"),
    ({"id": 1, "end_char": Raises()}, "__index__"),
    ({"id": 1, "morphemes": Raises()}, "__getitem__"),
    ({"id": 1, "multi_ner": Raises()}, "__getitem__"),
])
def test_an_error_raised_by_a_conversion_hook_reaches_the_caller_as_itself(entry, message):
    with pytest.raises(Refusing, match=message):
        Document.from_dict([[{"text": "w", **entry}]])


def test_a_string_that_is_no_number_fails_with_the_parsers_error():
    with pytest.raises(ValueError, match="invalid literal"):
        Document.from_dict([[{"id": 1, "text": "w", "head": "x"}]])
