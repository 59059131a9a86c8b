#include "tokenize/units.hpp"

#include <utility>

#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

[[noreturn]] void fail_utf8(std::size_t offset) {
  throw TokenizerModelError("invalid UTF-8 sequence at byte offset " + std::to_string(offset));
}

// Whitespace whose trailing occurrences are cut from a paragraph.
bool in_trim_set(std::uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

// Whitespace that folds into a space unit and may separate paragraphs: the trim set plus the
// C1 controls.
bool in_unit_space_set(std::uint32_t c) { return in_trim_set(c) || (c >= 0x80 && c <= 0x9F); }

constexpr std::uint32_t kNewline = 0x0A;
constexpr std::uint32_t kSpace = 0x20;

}  // namespace

std::vector<TokenizerUnit> decode_tokenizer_units(std::string_view text) {
  std::vector<TokenizerUnit> units;
  units.reserve(text.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t p = 0;
  while (p < size) {
    const unsigned char lead = bytes[p];
    std::size_t length = 0;
    std::uint32_t code_point = 0;
    std::uint32_t smallest = 0;
    if (lead < 0x80) {
      length = 1;
      code_point = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      code_point = lead & 0x1F;
      smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      code_point = lead & 0x0F;
      smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      code_point = lead & 0x07;
      smallest = 0x10000;
    } else {
      fail_utf8(p);
    }
    if (length > size - p) fail_utf8(p);
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char c = bytes[p + k];
      if ((c & 0xC0) != 0x80) fail_utf8(p + k);
      code_point = (code_point << 6) | (c & 0x3F);
    }
    if (code_point < smallest || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
      fail_utf8(p);
    }
    units.push_back(TokenizerUnit{std::string(text.substr(p, length)), code_point,
                                  static_cast<std::uint32_t>(units.size())});
    p += length;
  }
  return units;
}

std::vector<TokenizerParagraph> split_tokenizer_paragraphs(std::string_view text, bool skip_newline) {
  const std::vector<TokenizerUnit> units = decode_tokenizer_units(text);
  const std::size_t n = units.size();

  // A break is a newline followed by unit-space whitespace holding at least one more newline;
  // the paragraph ends before the first newline and the next begins after the last one.
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  std::size_t start = 0;
  std::size_t i = 0;
  while (true) {
    while (i < n && units[i].code_point != kNewline) ++i;
    if (i >= n) break;
    const std::size_t j = i;
    std::size_t last_newline = n;
    for (std::size_t k = j + 1; k < n && in_unit_space_set(units[k].code_point); ++k) {
      if (units[k].code_point == kNewline) last_newline = k;
    }
    if (last_newline == n) {
      i = j + 1;
      continue;
    }
    ranges.emplace_back(start, j);
    start = last_newline + 1;
    i = last_newline + 1;
  }
  ranges.emplace_back(start, n);

  std::vector<TokenizerParagraph> paragraphs;
  for (auto [begin, end] : ranges) {
    while (end > begin && in_trim_set(units[end - 1].code_point)) --end;
    if (end == begin) continue;
    TokenizerParagraph paragraph;
    paragraph.reserve(end - begin);
    for (std::size_t k = begin; k < end; ++k) {
      const TokenizerUnit& unit = units[k];
      if (skip_newline && unit.code_point == kNewline) continue;
      if (in_unit_space_set(unit.code_point)) {
        if (paragraph.empty() || paragraph.back().code_point != kSpace) {
          paragraph.push_back(TokenizerUnit{" ", kSpace, unit.offset});
        }
      } else {
        paragraph.push_back(unit);
      }
    }
    if (!paragraph.empty()) paragraphs.push_back(std::move(paragraph));
  }
  return paragraphs;
}

std::string paragraph_text(const TokenizerParagraph& units) {
  std::size_t bytes = 0;
  for (const auto& unit : units) bytes += unit.text.size();
  std::string text;
  text.reserve(bytes);
  for (const auto& unit : units) text += unit.text;
  return text;
}

}  // namespace velmora::detail
