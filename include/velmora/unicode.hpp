#pragma once

// Locale-independent Unicode helpers shared by the models: case mapping and case tests
// over the system's own constant Unicode 15 case tables, NFKC case folding through ICU,
// and the strict UTF-8 decoding they rest on. None of them has state.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::detail {

// ---------------------------------------------------------------- UTF-8

/// Decodes the one code point that starts at `offset` (below the byte length) into
/// `code_point` and returns its byte length. Ill-formed input (a stray continuation or
/// invalid lead byte, a cut-off sequence, a bad continuation byte, an overlong form, a
/// surrogate or a value above U+10FFFF) throws std::invalid_argument "invalid UTF-8
/// sequence at byte offset N", N being the offending byte (the lead byte for cut-off,
/// overlong and out-of-range sequences).
std::size_t decode_utf8_at(std::string_view bytes, std::size_t offset, char32_t& code_point);

/// All code points of well-formed UTF-8; throws like decode_utf8_at at the first fault.
std::vector<char32_t> decode_utf8(std::string_view bytes);

/// Appends the UTF-8 form of a code point.
void append_utf8(std::string& out, char32_t code_point);

// ---------------------------------------------------------------- case

/// Full lowercase mapping, context-free and language-independent: no final-sigma rule,
/// no Turkic rule; U+0130 becomes U+0069 U+0307. Throws on ill-formed UTF-8.
std::string unicode_lower(std::string_view text);

/// Full uppercase mapping, including the one-to-many expansions (U+00DF becomes "SS").
/// Throws on ill-formed UTF-8.
std::string unicode_upper(std::string_view text);

/// True when the text holds at least one cased code point and every cased code point has
/// the Lowercase property. Throws on ill-formed UTF-8.
bool unicode_is_lower(std::string_view text);

/// True when the text holds at least one cased code point and every cased code point has
/// the Uppercase property. Throws on ill-formed UTF-8.
bool unicode_is_upper(std::string_view text);

/// NFKC, then full default case folding, then NFC, through ICU. Ill-formed UTF-8 is not
/// refused: each ill-formed sequence becomes U+FFFD. ICU failures throw
/// std::runtime_error naming ICU's status.
std::string unicode_nfkc_casefold_nfc(std::string_view text);

// ---------------------------------------------------------------- tables

struct CaseMapping {
  char32_t from;
  char32_t to;
};

struct CaseExpansion {
  char32_t from;
  const char32_t* code_points;
  std::uint64_t length;
};

/// Inclusive range of code points.
struct CodePointRange {
  char32_t first;
  char32_t last;
};

/// The constant Unicode 15 case tables, each sorted ascending by its first field with no
/// duplicates. Characters assigned after Unicode 15.0 have no entry.
struct UnicodeCaseTables {
  /// Code points whose full lowercase mapping is one other code point.
  std::span<const CaseMapping> lowercase_map;
  /// Code points whose full uppercase mapping is one other code point.
  std::span<const CaseMapping> uppercase_map;
  /// Code points whose full uppercase mapping is two or three code points.
  std::span<const CaseExpansion> uppercase_expansions;
  /// The derived properties Lowercase, Uppercase and Cased.
  std::span<const CodePointRange> lowercase_ranges;
  std::span<const CodePointRange> uppercase_ranges;
  std::span<const CodePointRange> cased_ranges;
};

const UnicodeCaseTables& unicode_case_tables() noexcept;

}  // namespace velmora::detail
