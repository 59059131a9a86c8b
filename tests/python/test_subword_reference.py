"""The subword reference's own fixtures: the serialized character map is a double-array trie
that the documented walk reads back key by key, and the UTF-8 decoder reports the faulty byte."""

import struct

import pytest

import subword_reference as ref


def walk(serialized: bytes, key: bytes):
    """The exact-key walk: label test per byte, has-leaf on the last unit, leaf value = blob offset."""
    (size,) = struct.unpack_from("<I", serialized)
    units = struct.unpack_from(f"<{size // 4}I", serialized, 4)
    blob = serialized[4 + size:]

    def offset(unit):
        return (unit >> 10) << ((unit & (1 << 9)) >> 6)

    node, unit = offset(units[0]), 0
    for c in key:
        nxt = node ^ c
        if nxt >= len(units) or units[nxt] & 0x800000FF != c:
            return None
        unit = units[nxt]
        node = nxt ^ offset(unit)
    if not unit & 0x100:
        return None
    value = units[node] & 0x7FFFFFFF
    return blob[value:blob.index(b"\0", value)]


def test_character_map_reads_back_every_key_and_nothing_else():
    mapping = {"e\u0301": "é", "ｅ": "e", "ﬁ": "fi", "\u200b": "", "ab": "x", "abc": "y", "b": "z"}
    serialized = ref.CharsMap(mapping).serialize()
    for key, value in mapping.items():
        assert walk(serialized, key.encode()) == value.encode(), key
    for absent in ["e", "a", "abcd", "c", "\u0301", "é"]:
        assert walk(serialized, absent.encode()) is None, absent


@pytest.mark.parametrize("data, offset", [
    (b"a\xc3", 1), (b"a\xc3(", 2), (b"\xc0\x80", 0), (b"\xed\xa0\x80", 0), (b"\xf4\x90\x80\x80", 0),
    (b"x" * 16 + b"\xc3", 16),
])
def test_decoder_reports_the_faulty_byte(data, offset):
    with pytest.raises(ref.InvalidUtf8) as error:
        ref.decode(data)
    assert error.value.offset == offset
