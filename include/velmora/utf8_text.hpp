#pragma once

// The text of a document: validated UTF-8 addressed by code point. Every character offset of
// the system counts code points; this table turns them into byte offsets in constant time.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class Utf8Text {
 public:
  /// Validates `text` as UTF-8; throws std::invalid_argument naming the first bad byte offset.
  explicit Utf8Text(std::string text);

  const std::string& bytes() const noexcept { return text_; }
  std::uint64_t codepoint_count() const noexcept { return count_; }

  /// Byte offset of code point `index`; `index == codepoint_count()` gives the byte length.
  std::uint64_t byte_offset(unsigned long index) const;

  /// The bytes of code points [start, end).
  std::string slice(unsigned long start, unsigned long end) const;
  /// The same bytes as `slice`, without copying them.
  std::string_view slice_view(unsigned long start, unsigned long end) const;

 private:
  std::uint64_t offset_unchecked(std::uint64_t index) const noexcept {
    return offsets_.empty() ? index : offsets_[index];
  }

  std::string text_;
  // Byte offset of every code point plus a final entry equal to the byte length. Left empty
  // when the text is pure ASCII, where code point index and byte offset coincide.
  std::vector<std::uint64_t> offsets_;
  std::uint64_t count_ = 0;
};

}  // namespace velmora
