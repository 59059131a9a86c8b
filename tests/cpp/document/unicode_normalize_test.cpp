// NFKC case folding through ICU.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "velmora/unicode.hpp"

namespace {

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
