#pragma once

// The tokenizer's fixed regular expressions: four unit-feature patterns and the web-address and
// e-mail pattern of the label repair. Each is compiled once per process, on first use.

#include <array>
#include <string_view>

#include "tokenize/byte_regex.hpp"

namespace velmora::detail {

inline constexpr std::string_view kLabeledFieldPattern = R"re(\b[A-Z][a-zA-Z]*(?:\s[A-Z][a-zA-Z]*){0,2}\s*:)re";
inline constexpr std::string_view kPhoneIdPattern =
    R"re((?:\([0-9]{3}\)\s?[0-9]{3}-[0-9]{4})|(?:\b[0-9]{3}-[0-9]{3}-[0-9]{4}\b)|(?:\bx[0-9]{3,5}\b))re";
inline constexpr std::string_view kDatePattern =
    R"re((?:\b[0-9]{1,2}/[0-9]{1,2}/[0-9]{2,4}\b)|(?:\b(?:January|February|March|April|May|June|July|August|September|October|November|December)\s+[0-9]{1,2},?\s+[0-9]{4}\b))re";
inline constexpr std::string_view kCurrencyPattern = R"re(\$\s?[0-9][0-9,]*(?:\.[0-9]+)?)re";

// The web-address and e-mail pattern has two top-level alternatives, e-mail addresses first; the
// address search runs them one at a time (see address_search.hpp).
//
// The e-mail alternative never backtracks over a run, and matches what its plain form
//   (?:L+(?:\.L+)*|"(?:Q|\\E)*")@(?:<domain>|\[(?:<octet>\.){3}(?:<octet>|T*[a-z0-9]:(?:A|\\E)+)\])
// matches, with L, Q, E and A the byte classes below and T = [a-z0-9-]. In the plain form a
// backslash in an address literal may stand alone or open an escape, so k backslashes (or "\x"
// pairs) can be read in about 1.6^k ways: a hundred of them after the literal's last "]" exhaust
// the engine's match limit. Here:
// - the local parts are possessive: giving back any of their bytes leaves a local-part byte, a
//   full stop or an escape's backslash where the at-sign or the closing quote must follow;
// - an address literal is read a byte at a time: A holds every byte an escape may name except
//   tab and space, so the literal's bytes are those of A and tabs or spaces right after a
//   backslash, and the match ends at the last "]" before the first other byte, unless that "]"
//   is the literal's first byte.
inline constexpr std::string_view kEmailPattern =
    R"re((?:[a-z0-9!#$%&'*+/=?^_`{|}~-]++(?:\.[a-z0-9!#$%&'*+/=?^_`{|}~-]++)*+|"(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21\x23-\x5b\x5d-\x7f]++|\\[\x01-\x09\x0b\x0c\x0e-\x7f])*+")@(?:(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+[a-z0-9](?:[a-z0-9-]*[a-z0-9])?|\[(?:(?:(?:2(?:5[0-5]|[0-4][0-9])|1[0-9][0-9]|[1-9]?[0-9]))\.){3}(?:(?:2(?:5[0-5]|[0-4][0-9])|1[0-9][0-9]|[1-9]?[0-9])\]|[a-z0-9-]*[a-z0-9]:[\x01-\x08\x0b\x0c\x0e-\x1f\x21-\x7f](?:(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21-\x5c\x5e-\x7f]++|(?<=\\)[\t ])*+\])++)))re";
inline constexpr std::string_view kWebPattern =
    R"re((?:https?:\/\/(?:www\.|(?!www))[a-zA-Z0-9][a-zA-Z0-9-]+[a-zA-Z0-9]\.[^\s"]{2,}|www\.[a-zA-Z0-9][a-zA-Z0-9-]+[a-zA-Z0-9]\.[^\s"]{2,}|https?:\/\/(?:www\.|(?!www))[a-zA-Z0-9]+\.[^\s"]{2,}|www\.[a-zA-Z0-9]+\.[^\s"]{2,})|[a-zA-Z0-9]+\.(?:gov|org|edu|net|com|co)(?:\.[^\s"]{2,}))re";
inline constexpr auto kAddressPatternText = [] {
  std::array<char, kEmailPattern.size() + kWebPattern.size() + 9> text{};
  std::size_t at = 0;
  for (std::string_view part : {std::string_view("(?:"), kEmailPattern, std::string_view(")|(?:"), kWebPattern,
                                std::string_view(")")}) {
    for (char c : part) text[at++] = c;
  }
  return text;
}();
inline constexpr std::string_view kAddressPattern(kAddressPatternText.data(), kAddressPatternText.size());

/// The four unit-feature patterns, compiled together on first use.
struct FeaturePatterns {
  BytePattern labeled_field{kLabeledFieldPattern};
  BytePattern phone_id{kPhoneIdPattern};
  BytePattern date{kDatePattern};
  BytePattern currency{kCurrencyPattern};
};

const FeaturePatterns& feature_patterns();
const BytePattern& address_pattern();
const BytePattern& email_pattern();
const BytePattern& web_pattern();

/// Sets marks[u] = 1 for every unit u covered by a match of `pattern` in `text`, the
/// concatenated texts of the units that `marks` indexes; other entries are left alone.
void mark_regex_matches(std::string_view text, const BytePattern& pattern, std::vector<float>& marks);
/// The same for matches already found in `text`.
void mark_matches(std::string_view text, const std::vector<ByteMatch>& matches, std::vector<float>& marks);

}  // namespace velmora::detail
