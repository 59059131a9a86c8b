#pragma once

// The white-space characters that can stand between tokens, as line readers and the CoNLL-U
// validator see them: Unicode White_Space plus U+001C..U+001F, which is exactly the set that
// Python's str.isspace accepts and that the tokenizer folds into spacing. Raw in a MISC column
// they end it in white space, and the line breaks among them split a line for
// str.splitlines() and other line readers.

#include <cstddef>
#include <string_view>

namespace velmora::detail {

struct SpaceCharacter {
  std::string_view utf8;
  std::string_view misc_escape;  // how MISC spacing pieces write it
  bool breaks_lines;             // str.splitlines() ends a line at it
};

inline constexpr SpaceCharacter kSpaceCharacters[] = {
    {"\t", "\\t", false},
    {"\n", "\\n", true},
    {"\x0B", "\\u000B", true},
    {"\x0C", "\\u000C", true},
    {"\r", "\\r", true},
    {"\x1C", "\\u001C", true},
    {"\x1D", "\\u001D", true},
    {"\x1E", "\\u001E", true},
    {"\x1F", "\\u001F", false},
    {" ", "\\s", false},
    {"\xC2\x85", "\\u0085", true},
    {"\xC2\xA0", "\\u00A0", false},
    {"\xE1\x9A\x80", "\\u1680", false},
    {"\xE2\x80\x80", "\\u2000", false},
    {"\xE2\x80\x81", "\\u2001", false},
    {"\xE2\x80\x82", "\\u2002", false},
    {"\xE2\x80\x83", "\\u2003", false},
    {"\xE2\x80\x84", "\\u2004", false},
    {"\xE2\x80\x85", "\\u2005", false},
    {"\xE2\x80\x86", "\\u2006", false},
    {"\xE2\x80\x87", "\\u2007", false},
    {"\xE2\x80\x88", "\\u2008", false},
    {"\xE2\x80\x89", "\\u2009", false},
    {"\xE2\x80\x8A", "\\u200A", false},
    {"\xE2\x80\xA8", "\\u2028", true},
    {"\xE2\x80\xA9", "\\u2029", true},
    {"\xE2\x80\xAF", "\\u202F", false},
    {"\xE2\x81\x9F", "\\u205F", false},
    {"\xE3\x80\x80", "\\u3000", false},
};

/// Whether `byte` can start one of the characters above; every other byte is none of them.
constexpr bool may_start_space_character(unsigned char byte) {
  return byte <= 0x20 || byte == 0xC2 || byte == 0xE1 || byte == 0xE2 || byte == 0xE3;
}

/// The character of the table that `text` starts with, or null.
inline const SpaceCharacter* space_character_at(std::string_view text) {
  if (text.empty() || !may_start_space_character(static_cast<unsigned char>(text[0]))) return nullptr;
  for (const SpaceCharacter& c : kSpaceCharacters) {
    if (text.starts_with(c.utf8)) return &c;
  }
  return nullptr;
}

}  // namespace velmora::detail
