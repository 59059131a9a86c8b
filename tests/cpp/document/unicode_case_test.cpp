// Case mapping and case tests over the constant case tables, and the strict UTF-8
// decoding they share.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "velmora/unicode.hpp"

namespace {

using namespace velmora::detail;

std::string utf8(std::u32string_view code_points) {
  std::string out;
  for (char32_t code_point : code_points) append_utf8(out, code_point);
  return out;
}

std::string decode_error(std::string_view bytes) {
  try {
    decode_utf8(bytes);
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "decoded";
}

TEST(UnicodeCase, LowerMapsContextFreeWithoutLanguageRules) {
  struct Case {
    std::u32string in, out;
  };
  const std::vector<Case> cases = {
      {U"", U""},
      {U"Hello, World 42", U"hello, world 42"},
      {U"\u0130", U"i\u0307"},                              // capital I with dot above expands
      {U"I", U"i"},                                         // no Turkic dotless i
      {U"\u039F\u0394\u039F\u03A3", U"\u03BF\u03B4\u03BF\u03C3"},  // no final sigma
      {U"\u1E9E", U"\u00DF"},                               // capital sharp s
      {U"\u01C5", U"\u01C6"},                               // titlecase Dz
      {U"\U0001E921", U"\U0001E943"},                       // Adlam, four-byte form
      {U"\u2160\u24B6", U"\u2170\u24D0"},                   // Roman numeral, circled letter
      {U"\u00DF\u0131", U"\u00DF\u0131"},                   // already lower
      {U"\U00010D50\uA7CB", U"\U00010D50\uA7CB"},           // assigned after Unicode 15.0: unchanged
  };
  for (const Case& c : cases) EXPECT_EQ(unicode_lower(utf8(c.in)), utf8(c.out)) << utf8(c.in);
}

TEST(UnicodeCase, UpperExpandsToSeveralCodePoints) {
  struct Case {
    std::u32string in, out;
  };
  const std::vector<Case> cases = {
      {U"", U""},
      {U"straße", U"STRASSE"},
      {U"\uFB03", U"FFI"},
      {U"\u0131", U"I"},
      {U"\u0149", U"\u02BCN"},
      {U"\u0390", U"\u0399\u0308\u0301"},
      {U"\u1FB3", U"\u0391\u0399"},
      {U"\uFB17", U"\u0544\u053D"},
      {U"\u01C5", U"\u01C4"},
      {U"\u03C2", U"\u03A3"},
      {U"\U0001E943x", U"\U0001E921X"},
      {U"\u019B\u0264", U"\u019B\u0264"},  // their capitals came after Unicode 15.0
  };
  for (const Case& c : cases) EXPECT_EQ(unicode_upper(utf8(c.in)), utf8(c.out)) << utf8(c.in);
}

TEST(UnicodeCase, CaseTestsNeedACasedCodePointAndIgnoreUncased) {
  struct Case {
    std::u32string text;
    bool lower, upper;
  };
  const std::vector<Case> cases = {
      {U"", false, false},
      {U"123 !?", false, false},
      {U"a1", true, false},
      {U"A1", false, true},
      {U"\u01C5", false, false},     // titlecase is cased but neither
      {U"a\u01C5", false, false},
      {U"A\u00AA", false, false},    // feminine ordinal is Lowercase
      {U"\u00AA", true, false},
      {U"\u2160", false, true},      // Roman numeral one is Uppercase
      {U"\u02B0", true, false},      // modifier letter h is Lowercase
      {U"\u3042", false, false},     // hiragana is uncased
      {U"\u0345", true, false},      // combining ypogegrammeni: Lowercase
      {U"Ab", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(unicode_is_lower(utf8(c.text)), c.lower) << utf8(c.text);
    EXPECT_EQ(unicode_is_upper(utf8(c.text)), c.upper) << utf8(c.text);
  }
}

TEST(UnicodeCase, IllFormedInputIsRefusedAtTheOffendingByte) {
  struct Case {
    std::string bytes;
    std::size_t offset;
  };
  const std::vector<Case> cases = {
      {"\x80", 0},                  // lone continuation byte
      {"\xC3\x28", 1},              // bad continuation byte
      {"\xC0\xAF", 0},              // overlong
      {"\xC1\xBF", 0},              // overlong
      {"\xE0\x80\x80", 0},          // overlong three-byte
      {"\xF0\x80\x80\x80", 0},      // overlong four-byte
      {"\xED\xA0\x80", 0},          // surrogate
      {"ab\xE2", 2},                // cut off at the end
      {"\xE2\x82", 0},              // cut off at the end
      {"\xE2\x28\xA1", 1},          // bad second byte
      {"\xF0\x9F\x98\x28", 3},      // bad last byte
      {"\xF4\x90\x80\x80", 0},      // above U+10FFFF
      {"\xF5\x80\x80\x80", 0},      // lead above U+10FFFF
      {"\xF8\x88\x80\x80\x80", 0},  // five-byte lead
      {"\xFF", 0},
      {"ok\xC3\xA9\x80", 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decode_error(c.bytes), "invalid UTF-8 sequence at byte offset " + std::to_string(c.offset));
    EXPECT_THROW(unicode_lower(c.bytes), std::invalid_argument);
    EXPECT_THROW(unicode_upper(c.bytes), std::invalid_argument);
    EXPECT_THROW(unicode_is_lower(c.bytes), std::invalid_argument);
    EXPECT_THROW(unicode_is_upper(c.bytes), std::invalid_argument);
  }
}

TEST(UnicodeCase, DecodingAndEncodingRoundTripEveryScalarValue) {
  std::string text;
  std::vector<char32_t> expected;
  for (char32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
    if (code_point >= 0xD800 && code_point <= 0xDFFF) continue;
    append_utf8(text, code_point);
    expected.push_back(code_point);
  }
  EXPECT_EQ(decode_utf8(text), expected);
  EXPECT_EQ(decode_utf8(std::string("a\0b", 3)), (std::vector<char32_t>{U'a', 0, U'b'}));
}

// ---------------------------------------------------------------- tables

template <class Entry, class Key>
bool strictly_ascending(std::span<const Entry> table, Key key) {
  return std::adjacent_find(table.begin(), table.end(),
                            [&](const Entry& a, const Entry& b) { return key(a) >= key(b); }) == table.end();
}

std::size_t code_point_count(std::span<const CodePointRange> ranges) {
  std::size_t count = 0;
  for (const CodePointRange& range : ranges) count += range.last - range.first + 1;
  return count;
}

bool has_range(std::span<const CodePointRange> ranges, char32_t first, char32_t last) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [&](const CodePointRange& range) { return range.first == first && range.last == last; });
}

bool maps(std::span<const CaseMapping> table, char32_t from, char32_t to) {
  return std::any_of(table.begin(), table.end(),
                     [&](const CaseMapping& mapping) { return mapping.from == from && mapping.to == to; });
}

std::u32string expansion_of(const UnicodeCaseTables& tables, char32_t from) {
  for (const CaseExpansion& record : tables.uppercase_expansions) {
    if (record.from == from) return std::u32string(record.code_points, record.length);
  }
  return U"";
}

TEST(UnicodeCaseTables, HoldTheUnicode15CaseData) {
  const UnicodeCaseTables& tables = unicode_case_tables();
  EXPECT_EQ(tables.lowercase_map.size(), 1432u);
  EXPECT_EQ(tables.uppercase_map.size(), 1423u);
  EXPECT_EQ(tables.uppercase_expansions.size(), 102u);
  EXPECT_EQ(tables.lowercase_ranges.size(), 671u);
  EXPECT_EQ(tables.uppercase_ranges.size(), 651u);
  EXPECT_EQ(tables.cased_ranges.size(), 157u);
  EXPECT_EQ(code_point_count(tables.lowercase_ranges), 2544u);
  EXPECT_EQ(code_point_count(tables.uppercase_ranges), 1951u);
  EXPECT_EQ(code_point_count(tables.cased_ranges), 4526u);
}

TEST(UnicodeCaseTables, AreSortedWithoutDuplicatesOrOverlap) {
  const UnicodeCaseTables& tables = unicode_case_tables();
  const auto from = [](const auto& entry) { return entry.from; };
  EXPECT_TRUE(strictly_ascending(tables.lowercase_map, from));
  EXPECT_TRUE(strictly_ascending(tables.uppercase_map, from));
  EXPECT_TRUE(strictly_ascending(tables.uppercase_expansions, from));
  for (auto ranges : {tables.lowercase_ranges, tables.uppercase_ranges, tables.cased_ranges}) {
    // Ranges are disjoint and not adjacent (adjacent ones would have been merged).
    EXPECT_TRUE(strictly_ascending(ranges, [](const CodePointRange& r) { return r.first; }));
    for (std::size_t i = 0; i < ranges.size(); ++i) {
      EXPECT_LE(ranges[i].first, ranges[i].last);
      if (i > 0) {
        EXPECT_GT(ranges[i].first, ranges[i - 1].last + 1);
      }
    }
  }
  for (const CaseExpansion& record : tables.uppercase_expansions) {
    EXPECT_TRUE(record.length == 2 || record.length == 3);
    EXPECT_FALSE(maps(tables.uppercase_map, record.from, record.from));
    EXPECT_TRUE(std::none_of(tables.uppercase_map.begin(), tables.uppercase_map.end(),
                             [&](const CaseMapping& m) { return m.from == record.from; }));
  }
}

TEST(UnicodeCaseTables, HoldTheTellingRows) {
  const UnicodeCaseTables& tables = unicode_case_tables();
  EXPECT_EQ(tables.lowercase_map.front().from, U'\u0041');
  EXPECT_EQ(tables.lowercase_map.front().to, U'\u0061');
  EXPECT_TRUE(maps(tables.lowercase_map, 0x1E9E, 0x00DF));
  EXPECT_TRUE(maps(tables.lowercase_map, 0x03A3, 0x03C3));
  EXPECT_TRUE(maps(tables.lowercase_map, 0x01C5, 0x01C6));
  EXPECT_EQ(tables.lowercase_map.back().from, U'\U0001E921');
  EXPECT_EQ(tables.lowercase_map.back().to, U'\U0001E943');
  EXPECT_FALSE(std::any_of(tables.lowercase_map.begin(), tables.lowercase_map.end(),
                           [](const CaseMapping& m) { return m.from == 0x0130; }));

  EXPECT_EQ(tables.uppercase_map.front().from, U'\u0061');
  EXPECT_EQ(tables.uppercase_map.front().to, U'\u0041');
  EXPECT_TRUE(maps(tables.uppercase_map, 0x0131, 0x0049));
  EXPECT_TRUE(maps(tables.uppercase_map, 0x01C5, 0x01C4));
  EXPECT_EQ(tables.uppercase_map.back().from, U'\U0001E943');
  EXPECT_EQ(tables.uppercase_map.back().to, U'\U0001E921');

  EXPECT_EQ(tables.uppercase_expansions.front().from, U'\u00DF');
  EXPECT_EQ(expansion_of(tables, 0x00DF), U"SS");
  EXPECT_EQ(expansion_of(tables, 0x0149), U"\u02BCN");
  EXPECT_EQ(expansion_of(tables, 0x0390), U"\u0399\u0308\u0301");
  EXPECT_EQ(expansion_of(tables, 0x1FB3), U"\u0391\u0399");
  EXPECT_EQ(expansion_of(tables, 0xFB04), U"FFL");
  EXPECT_EQ(tables.uppercase_expansions.back().from, U'\uFB17');
  EXPECT_EQ(expansion_of(tables, 0xFB17), U"\u0544\u053D");

  const auto begins = [](std::span<const CodePointRange> ranges, std::vector<CodePointRange> expected) {
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (ranges[i].first != expected[i].first || ranges[i].last != expected[i].last) return false;
    }
    return true;
  };
  EXPECT_TRUE(begins(tables.lowercase_ranges, {{0x61, 0x7A}, {0xAA, 0xAA}, {0xB5, 0xB5}, {0xBA, 0xBA}, {0xDF, 0xF6}}));
  EXPECT_TRUE(has_range(tables.lowercase_ranges, 0x1E030, 0x1E06D));
  EXPECT_TRUE(begins(tables.uppercase_ranges, {{0x41, 0x5A}, {0xC0, 0xD6}, {0xD8, 0xDE}}));
  EXPECT_EQ(tables.uppercase_ranges.back().first, U'\U0001F170');
  EXPECT_EQ(tables.uppercase_ranges.back().last, U'\U0001F189');
  EXPECT_TRUE(begins(tables.cased_ranges, {{0x41, 0x5A}, {0x61, 0x7A}}));
}

}  // namespace
