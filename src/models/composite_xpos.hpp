#pragma once

// Component keys of a composite XPOS vocabulary, shared by every model that reads one (the
// tagger and the parser), so that the same broken key is refused with the same words.

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::detail {

inline constexpr std::string_view kCompositeXposKeysNotIntegers = "composite XPOS component keys must be integers";
inline constexpr std::string_view kCompositeXposKeysNotContiguous =
    "composite XPOS component keys must be contiguous";

/// The component index a key names when it is made only of decimal digits; false otherwise.
/// A key too large for 64 bits saturates: it is still a number, just never a position, so it
/// fails later as not contiguous rather than wrapping onto a small position.
bool parse_composite_xpos_key(std::string_view key, std::uint64_t& index);

/// The index of a component key, or `Error` (the model's own error type) with the shared
/// message when the key is not an integer.
template <class Error>
std::uint64_t composite_xpos_index(std::string_view key) {
  std::uint64_t index = 0;
  if (!parse_composite_xpos_key(key, index)) throw Error(std::string(kCompositeXposKeysNotIntegers));
  return index;
}

}  // namespace velmora::detail
