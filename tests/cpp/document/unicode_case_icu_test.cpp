// The case functions agree with ICU on every character assigned by Unicode 15.0.
//
// ICU of a newer Unicode version (ICU 76 has Unicode 16.0) gives some older characters a
// mapping onto a character assigned later, e.g. U+019B and U+0264 uppercase to U+A7DC and
// U+A7CB; our Unicode 15 tables leave those unchanged, so such mappings are only checked
// to leave the character as it is.
#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <string>
#include <vector>

#include "velmora/unicode.hpp"

namespace {

using namespace velmora::detail;

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

}  // namespace
