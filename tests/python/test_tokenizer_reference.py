"""The PyTorch reference of the tokenizer is the oracle of the native comparison tests, so its
own steps are checked here against the documented edge cases."""

import pytest

torch = pytest.importorskip("torch")

import tokenizer_reference as ref  # noqa: E402


def describe(paragraphs):
    return [[(" " if u.text == " " else u.text, u.offset) for u in p] for p in paragraphs]


@pytest.mark.parametrize(
    "text, skip_newline, expected",
    [
        ("a\n\nb", False, [[("a", 0)], [("b", 3)]]),
        ("a\n \t\nb", False, [[("a", 0)], [("b", 5)]]),
        ("a\r\n\r\nb", False, [[("a", 0)], [("b", 5)]]),
        ("a\nb", False, [[("a", 0), (" ", 1), ("b", 2)]]),
        ("a\nb", True, [[("a", 0), ("b", 2)]]),
        ("a \n\n  b", False, [[("a", 0)], [(" ", 4), ("b", 6)]]),
        ("x\u00a0\u3000 y", False, [[("x", 0), (" ", 1), ("y", 4)]]),
        ("\u0081", False, [[(" ", 0)]]),
        ("ab\u0085", False, [[("a", 0), ("b", 1)]]),
        ("", False, []),
        (" \t\n", False, []),
    ],
)
def test_paragraphs_follow_the_documented_examples(text, skip_newline, expected):
    assert describe(ref.split_paragraphs(text, skip_newline)) == expected


def test_feature_columns_and_lexicon_windows():
    config = {"feat_funcs": ["currency", "numeric", "labeled_field", "space_before"], "feat_dim": 4}
    units = ref.split_paragraphs("Pay: $5 x", False)[0]
    columns = ref.unit_features(config, None, units).t().tolist()
    as_bits = ["".join(str(int(v)) for v in column) for column in columns]
    assert as_bits == ["000000100", "000010010", "111100000", "000001100"]

    config = {"feat_funcs": [], "feat_dim": 6, "use_dictionary": True, "num_dict_feat": 3}
    rows = ref.unit_features(config, ref.Lexicon(["abc"]), ref.split_paragraphs("abc", False)[0]).tolist()
    assert rows == [[0, 1, 0, 0, 0, 0], [0, 0, 0, 0, 0, 0], [0, 0, 0, 0, 1, 0]]
    assert [ref.is_digit(ord(c)) for c in "0\u0663\uff15\u00b2\u2160"] == [True, True, True, False, False]


def test_address_runs_become_one_token():
    units = ref.split_paragraphs("hi jo@ex.com ok", False)[0]
    labels = [0, 1, 0, 0, 1, 2, 0, 1, 0, 2, 0, 2, 0, 1, 2]
    ref.repair_addresses(units, labels)
    assert labels == [0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 2]
