#pragma once

// Byte-level text helpers of the subword tokenizers: the strict UTF-8 decoder with its
// 16-byte all-ASCII fast path, and ASCII lower-casing, both vectorised with Highway.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::detail {

/// One decoded code point and the bytes [begin, end) it occupies in the decoded text.
struct CodePointSpan {
  std::uint32_t code_point;
  std::uint64_t begin;
  std::uint64_t end;
};

/// True when no byte of the text is 0x80 or above.
bool is_ascii(std::string_view text) noexcept;

/// Copies ASCII text with 'A'-'Z' mapped to 'a'-'z'.
std::string ascii_lower(std::string_view text);

/// Decodes well-formed UTF-8 into `out` (cleared first). On a malformed sequence returns false
/// and sets `error_offset` to the offending byte: the lead byte of a cut-off, overlong,
/// surrogate or out-of-range sequence, or the first bad continuation byte.
bool try_decode_utf8_code_points(std::string_view text, std::vector<CodePointSpan>& out,
                                 std::uint64_t& error_offset);

/// "invalid UTF-8 sequence at byte offset N", shared by SubwordError and WordPieceError.
std::string invalid_utf8_message(std::uint64_t offset);

/// Throws SubwordError with invalid_utf8_message.
[[noreturn]] void throw_invalid_utf8(std::uint64_t offset);

/// The code points of the text; malformed input throws SubwordError (throw_invalid_utf8).
std::vector<CodePointSpan> decode_utf8_code_points(std::string_view text);

}  // namespace velmora::detail
