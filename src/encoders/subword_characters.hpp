#pragma once

// Character classes of the subword tokenizers, by Unicode general category (ICU's character
// database, with the code points that Unicode 15.1 added over it), plus the fixed whitespace
// table and BERT's accent stripping.

#include <cstdint>
#include <vector>

namespace velmora::detail {

/// The fixed whitespace set: U+0009-000D, U+001C-0020, U+0085, U+00A0, U+1680, U+2000-200A,
/// U+2028-2029, U+202F, U+205F, U+3000.
bool is_subword_whitespace(std::uint32_t code_point) noexcept;
/// General category M (Mn, Mc, Me).
bool is_mark(std::uint32_t code_point) noexcept;
/// General category L or M: letters and combining marks form one class.
bool is_letter_or_mark(std::uint32_t code_point) noexcept;
/// General category N.
bool is_number(std::uint32_t code_point) noexcept;
/// General category P.
bool is_punctuation(std::uint32_t code_point) noexcept;
/// General category C (Cc, Cf, Cs, Co, Cn).
bool is_control(std::uint32_t code_point) noexcept;
/// The CJK ideograph blocks that WordPiece splits into single characters.
bool is_cjk_ideograph(std::uint32_t code_point) noexcept;

/// Appends the code point with its accents removed: its full canonical decomposition without
/// the nonspacing marks (Mn). A nonspacing mark itself vanishes; Hangul syllables become jamo.
void append_without_accents(std::uint32_t code_point, std::vector<std::uint32_t>& out);

}  // namespace velmora::detail
