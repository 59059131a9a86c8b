#pragma once

// Character units: the tokenizer network reads one unit per code point, and a paragraph is a
// run of units in which every whitespace run has been folded into one space unit.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::detail {

struct TokenizerUnit {
  std::string text;          // UTF-8 bytes of the code point; " " for a folded whitespace run
  std::uint32_t code_point;  // U+0020 for a folded whitespace run
  std::uint32_t offset;      // code points from the start of the decoded text
};

using TokenizerParagraph = std::vector<TokenizerUnit>;

/// One unit per code point of `text`; invalid UTF-8 fails with TokenizerModelError.
std::vector<TokenizerUnit> decode_tokenizer_units(std::string_view text);

/// The paragraphs of `text` (blank-line separated), trailing whitespace cut, whitespace runs
/// folded into one space unit, newlines dropped when `skip_newline` is set.
std::vector<TokenizerParagraph> split_tokenizer_paragraphs(std::string_view text, bool skip_newline);

/// The concatenated unit texts of a paragraph.
std::string paragraph_text(const TokenizerParagraph& units);

}  // namespace velmora::detail
