// Character units and paragraphs: UTF-8 decoding, paragraph breaks, whitespace folding and
// trailing-whitespace cuts.

#include <gtest/gtest.h>

#include "tokenize/units.hpp"
#include "velmora/errors.hpp"

namespace {

using velmora::detail::decode_tokenizer_units;
using velmora::detail::split_tokenizer_paragraphs;
using velmora::detail::TokenizerParagraph;

// A paragraph as "text@offset" items, e.g. "a@0 ' '@1 b@2".
std::string describe(const TokenizerParagraph& paragraph) {
  std::string out;
  for (const auto& unit : paragraph) {
    if (!out.empty()) out += ' ';
    out += (unit.code_point == 0x20 ? std::string("' '") : unit.text) + "@" + std::to_string(unit.offset);
  }
  return out;
}

std::vector<std::string> describe_all(std::string_view text, bool skip_newline) {
  std::vector<std::string> out;
  for (const auto& paragraph : split_tokenizer_paragraphs(text, skip_newline)) out.push_back(describe(paragraph));
  return out;
}

struct SplitCase {
  const char* name;
  std::string text;
  bool skip_newline;
  std::vector<std::string> paragraphs;
};

TEST(TokenizerParagraphs, SplitAtBlankLinesAndFoldWhitespace) {
  const std::vector<SplitCase> cases = {
      {"blank line", "a\n\nb", false, {"a@0", "b@3"}},
      {"blank line with spaces and tab", "a\n \t\nb", false, {"a@0", "b@5"}},
      {"carriage returns", "a\r\n\r\nb", false, {"a@0", "b@5"}},
      {"single newline stays inside", "a\nb", false, {"a@0 ' '@1 b@2"}},
      {"single newline skipped", "a\nb", true, {"a@0 b@2"}},
      {"space before a skipped newline", "ab \ncd", true, {"a@0 b@1 ' '@2 c@4 d@5"}},
      {"leading space after a break", "a \n\n  b", false, {"a@0", "' '@4 b@6"}},
      {"mixed whitespace folds to the first", "x\u00A0\u3000 y", false, {"x@0 ' '@1 y@4"}},
      {"only trim-set whitespace", " \t\n\r\u3000", false, {}},
      {"empty text", "", false, {}},
      {"C1 control alone is a space unit", "\u0081", false, {"' '@0"}},
      {"trailing blank lines", "a\n\n", false, {"a@0"}},
      {"NEL is trimmed", "ab\u0085", false, {"a@0 b@1"}},
      {"other C1 control is kept", "ab\u0081", false, {"a@0 b@1 ' '@2"}},
      {"three paragraphs", "a\n\nb\n\n\nc", false, {"a@0", "b@3", "c@7"}},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(describe_all(test.text, test.skip_newline), test.paragraphs) << test.name;
  }
}

TEST(TokenizerParagraphs, DecodeOneUnitPerCodePoint) {
  const auto units = decode_tokenizer_units("\xC3\xA9\xF0\x9F\x98\x80z");
  ASSERT_EQ(units.size(), 3U);
  EXPECT_EQ(units[0].code_point, 0xE9U);
  EXPECT_EQ(units[0].text, "\xC3\xA9");
  EXPECT_EQ(units[1].code_point, 0x1F600U);
  EXPECT_EQ(units[1].offset, 1U);
  EXPECT_EQ(units[2].offset, 2U);
}

TEST(TokenizerParagraphs, RefuseInvalidUtf8AtTheFaultyByte) {
  const std::vector<std::pair<std::string, std::size_t>> cases = {
      {"\xC0\x80", 0}, {"\xED\xA0\x80", 0}, {"\xF4\x90\x80\x80", 0}, {"\x80", 0},
      {"a\xC3", 1},    {"\xE2\x82\x41", 2}, {"ab\xFF", 2},
  };
  for (const auto& [bytes, offset] : cases) {
    try {
      split_tokenizer_paragraphs(bytes, false);
      ADD_FAILURE() << "accepted invalid UTF-8 failing at " << offset;
    } catch (const velmora::TokenizerModelError& error) {
      EXPECT_EQ(std::string(error.what()), "invalid UTF-8 sequence at byte offset " + std::to_string(offset));
    }
  }
}

}  // namespace
