#include "tokenize/patterns.hpp"

namespace velmora::detail {

const FeaturePatterns& feature_patterns() {
  static const FeaturePatterns patterns;
  return patterns;
}

const BytePattern& address_pattern() {
  static const BytePattern pattern(kAddressPattern);
  return pattern;
}

const BytePattern& email_pattern() {
  static const BytePattern pattern(kEmailPattern);
  return pattern;
}

const BytePattern& web_pattern() {
  static const BytePattern pattern(kWebPattern);
  return pattern;
}

void mark_regex_matches(std::string_view text, const BytePattern& pattern, std::vector<float>& marks) {
  mark_matches(text, pattern.find_all(text), marks);
}

void mark_matches(std::string_view text, const std::vector<ByteMatch>& matches, std::vector<float>& marks) {
  if (matches.empty()) return;
  // Unit index of every byte, from the UTF-8 lead bytes; the end of the text maps past the last
  // unit.
  std::vector<std::size_t> unit_of(text.size() + 1);
  std::size_t unit = 0;
  for (std::size_t p = 0; p < text.size(); ++unit) {
    const auto lead = static_cast<unsigned char>(text[p]);
    const std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 4;
    for (std::size_t k = 0; k < length && p < text.size(); ++k) unit_of[p++] = unit;
  }
  unit_of[text.size()] = unit;
  for (const ByteMatch& match : matches) {
    if (match.end <= match.begin) continue;
    for (std::size_t u = unit_of[match.begin]; u < unit_of[match.end] && u < marks.size(); ++u) marks[u] = 1.0F;
  }
}

}  // namespace velmora::detail
