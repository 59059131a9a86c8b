#include "velmora/utf8_text.hpp"

#include <cstring>
#include <stdexcept>

#include "velmora/unicode.hpp"

namespace velmora {
namespace {

// Length of the ASCII prefix of [p, p + size), scanning eight bytes at a time.
std::size_t ascii_prefix(const unsigned char* p, std::size_t size) {
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, p + i, 8);
    if (chunk & 0x8080808080808080ull) break;
  }
  while (i < size && p[i] < 0x80) ++i;
  return i;
}

}  // namespace

Utf8Text::Utf8Text(std::string text) : text_(std::move(text)) {
  const auto* p = reinterpret_cast<const unsigned char*>(text_.data());
  const std::size_t size = text_.size();
  std::size_t pos = ascii_prefix(p, size);
  if (pos == size) {
    count_ = size;
    return;
  }
  offsets_.reserve(size + 1);
  for (std::size_t i = 0; i < pos; ++i) offsets_.push_back(i);
  while (pos < size) {
    offsets_.push_back(pos);
    char32_t code_point;
    pos += detail::decode_utf8_at(text_, pos, code_point);
  }
  offsets_.push_back(size);
  count_ = offsets_.size() - 1;
  offsets_.shrink_to_fit();
}

std::uint64_t Utf8Text::byte_offset(unsigned long index) const {
  if (index > count_) throw std::out_of_range("code point index is outside the document");
  return offset_unchecked(index);
}

std::string Utf8Text::slice(unsigned long start, unsigned long end) const {
  return std::string(slice_view(start, end));
}

std::string_view Utf8Text::slice_view(unsigned long start, unsigned long end) const {
  if (start > end || end > count_) {
    throw std::out_of_range("code point slice is outside the document");
  }
  const std::uint64_t first = offset_unchecked(start);
  return std::string_view(text_).substr(first, offset_unchecked(end) - first);
}

}  // namespace velmora
