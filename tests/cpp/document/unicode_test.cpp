// Case mapping and case tests over the constant case tables, the strict UTF-8 decoding they
// share, agreement with ICU on every character assigned by Unicode 15.0, and NFKC case folding.
//
// ICU of a newer Unicode version (ICU 76 has Unicode 16.0) gives some older characters a
// mapping onto a character assigned later, e.g. U+019B and U+0264 uppercase to U+A7DC and
// U+A7CB; our Unicode 15 tables leave those unchanged, so such mappings are only checked
// to leave the character as it is.
#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

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

// Single code points are compared with ICU below; these are strings, context and characters
// assigned after Unicode 15.0.
TEST(UnicodeCase, LowerMapsContextFreeWithoutLanguageRules) {
  struct Case {
    std::u32string in, out;
  };
  const std::vector<Case> cases = {
      {U"", U""},
      {U"Hello, World 42", U"hello, world 42"},
      {U"\u0130", U"i\u0307"},                              // capital I with dot above expands
      {U"\u039F\u0394\u039F\u03A3", U"\u03BF\u03B4\u03BF\u03C3"},  // no final sigma
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
      {U"\u0390", U"\u0399\u0308\u0301"},
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

std::size_t code_point_count(std::span<const CodePointRange> ranges) {
  std::size_t count = 0;
  for (const CodePointRange& range : ranges) count += range.last - range.first + 1;
  return count;
}

// The lookups binary-search these tables; a misordered or overlapping one shows up in the ICU
// comparison below, so only their size is pinned to Unicode 15.0 here.
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

bool assigned_by_unicode_15(UChar32 code_point) {
  if (U_IS_SURROGATE(code_point)) return false;
  UVersionInfo age;
  u_charAge(code_point, age);
  return age[0] != 0 && (age[0] < 15 || (age[0] == 15 && age[1] == 0));
}

bool all_assigned_by_unicode_15(const icu::UnicodeString& text) {
  for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
    if (!assigned_by_unicode_15(text.char32At(i))) return false;
  }
  return true;
}

bool icu_unicode_is_15_0() {
  UVersionInfo version;
  u_getUnicodeVersion(version);
  return version[0] == 15 && version[1] == 0;
}

std::string hex(UChar32 code_point) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(code_point));
  return buffer;
}

// Collects disagreements so that a fault reports a few code points, not a million lines.
struct Mismatches {
  std::vector<std::string> found;
  void add(UChar32 code_point, const char* what) {
    if (found.size() < 20) {
      found.push_back(hex(code_point) + " " + what);
    } else if (found.size() == 20) {
      found.push_back("...");
    }
  }
};

void check_mapping(Mismatches& mismatches, UChar32 code_point, const std::string& ours, icu::UnicodeString icu_mapping,
                   const std::string& original, const char* what, std::size_t& newer) {
  if (all_assigned_by_unicode_15(icu_mapping)) {
    std::string expected;
    icu_mapping.toUTF8String(expected);
    if (ours != expected) mismatches.add(code_point, what);
  } else {
    ++newer;
    if (ours != original) mismatches.add(code_point, what);
  }
}

TEST(UnicodeCaseAgainstIcu, EveryUnicode15CharacterMapsAndTestsLikeIcu) {
  Mismatches mismatches;
  std::size_t checked = 0;
  std::size_t mapped_to_newer = 0;
  for (UChar32 code_point = 0; code_point <= 0x10FFFF; ++code_point) {
    if (!assigned_by_unicode_15(code_point)) continue;
    ++checked;
    std::string text;
    append_utf8(text, static_cast<char32_t>(code_point));

    icu::UnicodeString lower(code_point);
    lower.toLower(icu::Locale::getRoot());
    check_mapping(mismatches, code_point, unicode_lower(text), lower, text, "lower", mapped_to_newer);
    icu::UnicodeString upper(code_point);
    upper.toUpper(icu::Locale::getRoot());
    check_mapping(mismatches, code_point, unicode_upper(text), upper, text, "upper", mapped_to_newer);

    const bool is_lowercase = u_hasBinaryProperty(code_point, UCHAR_LOWERCASE);
    const bool is_uppercase = u_hasBinaryProperty(code_point, UCHAR_UPPERCASE);
    const bool is_cased = u_hasBinaryProperty(code_point, UCHAR_CASED);
    if (unicode_is_lower(text) != is_lowercase) mismatches.add(code_point, "is_lower");
    if (unicode_is_upper(text) != is_uppercase) mismatches.add(code_point, "is_upper");
    // Next to a lowercase letter, only a cased character that is not Lowercase matters.
    if (unicode_is_lower("a" + text) != (!is_cased || is_lowercase)) mismatches.add(code_point, "cased");
  }
  EXPECT_GT(checked, 280000u);
  EXPECT_TRUE(mismatches.found.empty()) << ::testing::PrintToString(mismatches.found);
  if (icu_unicode_is_15_0()) {
    EXPECT_EQ(mapped_to_newer, 0u);
  }
}

using velmora::detail::unicode_nfkc_casefold_nfc;

TEST(UnicodeNfkcCasefold, FoldsCompatibilityFormsAndCase) {
  struct Case {
    std::string in, out;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"\uFB01", "fi"},                 // ligature
      {"\uFF21", "a"},                  // full-width capital A
      {"\u00DF", "ss"},                 // full case folding
      {"\u00C9t\u00C9", "\u00E9t\u00E9"},  // precomposed letters stay composed
      {"E\u0301", "\u00E9"},            // decomposed input comes back composed
      {"\u2460", "1"},                  // circled digit
      {"\u0130", "i\u0307"},            // no Turkic special case
      {"\u03A3\u039F\u03A3", "\u03C3\u03BF\u03C3"},
      {"\u1E9E", "ss"},
  };
  for (const Case& c : cases) EXPECT_EQ(unicode_nfkc_casefold_nfc(c.in), c.out) << c.in;
}

TEST(UnicodeNfkcCasefold, ReplacesIllFormedInput) {
  EXPECT_EQ(unicode_nfkc_casefold_nfc("A\x80" "B"), "a\uFFFDb");
  EXPECT_EQ(unicode_nfkc_casefold_nfc("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(unicode_nfkc_casefold_nfc(std::string("a\0B", 3)), std::string("a\0b", 3));
}

}  // namespace
