"""Building documents from the dictionary form: ids, value rules, MISC spacing, failures."""

import pytest

from _velmora import Document


def one_sentence(*entries, text=None):
    return Document.from_dict([list(entries)], text)


def test_one_word_entry_makes_a_single_word_token_with_default_spacing():
    doc = one_sentence({"id": 1, "text": "Hi"})
    token = doc.sentences[0].tokens[0]
    assert token.id == (1,)
    assert [w.id for w in token.words] == [1]
    assert token.spaces_after == " " and token.spaces_before == ""


def test_range_entry_opens_a_multi_word_token_that_its_words_join():
    doc = one_sentence({"id": (1, 2), "text": "don't"}, {"id": 1, "text": "do"}, {"id": 2, "text": "n't"},
                       {"id": 3, "text": "go"})
    tokens = doc.sentences[0].tokens
    assert [t.id for t in tokens] == [(1, 2), (3,)]
    assert [w.text for w in tokens[0].words] == ["do", "n't"]
    assert tokens[0].is_mwt() and not tokens[1].is_mwt()


@pytest.mark.parametrize("entry_id,empty", [((2, 1), (2, 1)), ((3, 3), (3, 3)), ([2, 2], (2, 2))])
def test_pairs_that_do_not_increase_are_empty_words(entry_id, empty):
    doc = one_sentence({"id": 1, "text": "a"}, {"id": 2, "text": "b"}, {"id": 3, "text": "c"},
                       {"id": entry_id, "text": "E"})
    sentence = doc.sentences[0]
    assert len(sentence.tokens) == 3
    assert [w.id for w in sentence.empty_words] == [empty]


def test_an_increasing_pair_after_its_first_word_is_an_empty_word():
    # A range always precedes its first word, and the build refuses a range starting at 0,
    # so these pairs can only be the empty words 0.2 and 2.3 that the writer produces.
    doc = one_sentence({"id": (0, 2), "text": "E"}, {"id": 1, "text": "a"}, {"id": 2, "text": "b"},
                       {"id": (2, 3), "text": "F"}, {"id": 3, "text": "c"})
    sentence = doc.sentences[0]
    assert [t.id for t in sentence.tokens] == [(1,), (2,), (3,)]
    assert [w.id for w in sentence.empty_words] == [(0, 2), (2, 3)]


@pytest.mark.parametrize("entry_id", [5, [5], (5,), "5"])
def test_id_forms_naming_the_same_word(entry_id):
    word = one_sentence({"id": entry_id, "text": "w"}).sentences[0].words[0]
    assert word.id == 5


def test_a_two_character_string_id_is_a_range():
    doc = one_sentence({"id": "12", "text": "ab"}, {"id": 1, "text": "a"}, {"id": 2, "text": "b"})
    assert doc.sentences[0].tokens[0].id == (1, 2)


def test_misc_spacing_pieces_move_to_the_token_and_the_rest_stays():
    token = one_sentence({"id": 1, "text": "x", "misc": "SpaceAfter=No|Gloss=x"}).sentences[0].tokens[0]
    assert token.spaces_after == ""
    assert token.misc == "Gloss=x" and token.words[0].misc == "Gloss=x"


def test_misc_of_only_spacing_leaves_no_misc():
    token = one_sentence({"id": 1, "text": "x", "misc": "SpaceAfter=No"}).sentences[0].tokens[0]
    assert token.misc is None and token.words[0].misc is None


@pytest.mark.parametrize(
    "misc,before,after",
    [
        ("SpacesAfter=\\s\\n", "", " \n"),
        ("SpacesBefore=\\u00A0", "\u00a0", " "),
        ("SpaceAfter=No~", "", ""),
        ("SpaceAfter=No|SpaceAfter=Yes", "", " "),
        ("SpacesAfter=\\t\\r\\p\\\\\\x", "", "\t\r|\\\\x"),
        ("SpacesAfter=a\\", "", "a\\"),
        ("a||b|", "", " "),
    ],
)
def test_spacing_escapes_are_read_and_the_last_piece_wins(misc, before, after):
    token = one_sentence({"id": 1, "text": "x", "misc": misc}).sentences[0].tokens[0]
    assert (token.spaces_before, token.spaces_after) == (before, after)


def test_empty_misc_pieces_are_dropped():
    assert one_sentence({"id": 1, "text": "x", "misc": "a||b|"}).sentences[0].tokens[0].misc == "a|b"


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
    "entry",
    [
        {"id": 1, "text": 5},
        {"id": 1, "text": "x", "lemma": 3},
        {"id": 1, "text": "x", "head": 1.5},
        {"id": 1, "text": "x", "manual_expansion": 1},
        {"id": 1, "text": "x", "morphemes": ["a", 2]},
        {"id": (1.0, 2), "text": "x"},
        {"id": 2**40, "text": "x"},
    ],
)
def test_values_of_the_wrong_type_fail_the_conversion(entry):
    with pytest.raises(RuntimeError):
        Document.from_dict([[entry]])


def test_a_float_id_fails_with_the_interpreters_length_error():
    with pytest.raises(TypeError):
        Document.from_dict([[{"id": 1.0, "text": "x"}]])


def test_sentences_and_text_arguments_are_checked():
    with pytest.raises(TypeError):
        Document.from_dict(5)
    with pytest.raises(RuntimeError):
        Document.from_dict([], 5)


def test_a_failed_conversion_makes_no_document_and_keeps_the_input():
    entries = [{"id": 1, "text": "a"}, {"id": 2, "text": ""}]
    with pytest.raises(ValueError):
        Document.from_dict([entries])
    assert entries == [{"id": 1, "text": "a"}, {"id": 2, "text": ""}]


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
