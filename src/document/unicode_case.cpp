// Strict UTF-8 decoding and case mapping over the constant Unicode 15 case tables.

#include <algorithm>
#include <stdexcept>

#include "velmora/unicode.hpp"

namespace velmora::detail {

namespace {

[[noreturn]] void throw_invalid_utf8(std::size_t offset) {
  throw std::invalid_argument("invalid UTF-8 sequence at byte offset " + std::to_string(offset));
}

const CaseMapping* find_mapping(std::span<const CaseMapping> table, char32_t code_point) {
  const auto entry = std::lower_bound(table.begin(), table.end(), code_point,
                                      [](const CaseMapping& mapping, char32_t value) { return mapping.from < value; });
  return entry != table.end() && entry->from == code_point ? &*entry : nullptr;
}

const CaseExpansion* find_expansion(std::span<const CaseExpansion> table, char32_t code_point) {
  const auto entry = std::lower_bound(table.begin(), table.end(), code_point,
                                      [](const CaseExpansion& record, char32_t value) { return record.from < value; });
  return entry != table.end() && entry->from == code_point ? &*entry : nullptr;
}

bool in_ranges(std::span<const CodePointRange> ranges, char32_t code_point) {
  const auto after = std::upper_bound(ranges.begin(), ranges.end(), code_point,
                                      [](char32_t value, const CodePointRange& range) { return value < range.first; });
  return after != ranges.begin() && std::prev(after)->last >= code_point;
}

// True when the text has a cased code point and every cased code point is in `ranges`.
bool all_cased_in(std::string_view text, std::span<const CodePointRange> ranges) {
  const UnicodeCaseTables& tables = unicode_case_tables();
  bool any_cased = false;
  for (char32_t code_point : decode_utf8(text)) {
    if (!in_ranges(tables.cased_ranges, code_point)) continue;
    if (!in_ranges(ranges, code_point)) return false;
    any_cased = true;
  }
  return any_cased;
}

constexpr char32_t kCapitalIWithDotAbove = 0x0130;

}  // namespace

std::size_t decode_utf8_at(std::string_view bytes, std::size_t offset, char32_t& code_point) {
  const auto lead = static_cast<unsigned char>(bytes[offset]);
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  }
  std::size_t length;
  char32_t smallest;
  char32_t value;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, smallest = 0x80, value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, smallest = 0x800, value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, smallest = 0x10000, value = lead & 0x07;
  } else {
    throw_invalid_utf8(offset);  // a continuation byte or 0xF8-0xFF
  }
  if (length > bytes.size() - offset) throw_invalid_utf8(offset);
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[offset + i]);
    if ((byte & 0xC0) != 0x80) throw_invalid_utf8(offset + i);
    value = (value << 6) | (byte & 0x3F);
  }
  if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) throw_invalid_utf8(offset);
  code_point = value;
  return length;
}

std::vector<char32_t> decode_utf8(std::string_view bytes) {
  std::vector<char32_t> code_points;
  code_points.reserve(bytes.size());
  for (std::size_t offset = 0; offset < bytes.size();) {
    char32_t code_point;
    offset += decode_utf8_at(bytes, offset, code_point);
    code_points.push_back(code_point);
  }
  return code_points;
}

void append_utf8(std::string& out, char32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

std::string unicode_lower(std::string_view text) {
  const std::vector<char32_t> code_points = decode_utf8(text);
  const UnicodeCaseTables& tables = unicode_case_tables();
  std::string out;
  out.reserve(text.size());
  for (char32_t code_point : code_points) {
    if (const CaseMapping* mapping = find_mapping(tables.lowercase_map, code_point)) {
      append_utf8(out, mapping->to);
    } else if (code_point == kCapitalIWithDotAbove) {
      // The only unconditional one-to-many lowercase mapping: i followed by a combining dot.
      out += "i\xCC\x87";
    } else {
      append_utf8(out, code_point);
    }
  }
  return out;
}

std::string unicode_upper(std::string_view text) {
  const std::vector<char32_t> code_points = decode_utf8(text);
  const UnicodeCaseTables& tables = unicode_case_tables();
  std::string out;
  out.reserve(text.size());
  for (char32_t code_point : code_points) {
    if (const CaseMapping* mapping = find_mapping(tables.uppercase_map, code_point)) {
      append_utf8(out, mapping->to);
    } else if (const CaseExpansion* expansion = find_expansion(tables.uppercase_expansions, code_point)) {
      for (std::uint64_t i = 0; i < expansion->length; ++i) append_utf8(out, expansion->code_points[i]);
    } else {
      append_utf8(out, code_point);
    }
  }
  return out;
}

bool unicode_is_lower(std::string_view text) { return all_cased_in(text, unicode_case_tables().lowercase_ranges); }

bool unicode_is_upper(std::string_view text) { return all_cased_in(text, unicode_case_tables().uppercase_ranges); }

}  // namespace velmora::detail
