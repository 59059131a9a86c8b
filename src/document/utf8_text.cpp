#include "velmora/utf8_text.hpp"

#include <cstring>
#include <stdexcept>

namespace velmora {
namespace {

[[noreturn]] void throw_invalid_utf8(std::size_t offset) {
  throw std::invalid_argument("invalid UTF-8 sequence at byte offset " + std::to_string(offset));
}

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

// Validates the sequence starting at lead byte `pos` and returns its byte length.
std::size_t sequence_length(const unsigned char* p, std::size_t size, std::size_t pos) {
  const unsigned char lead = p[pos];
  std::size_t length;
  std::uint32_t value;
  std::uint32_t smallest;
  if (lead < 0x80) {
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, smallest = 0x10000;
  } else {
    throw_invalid_utf8(pos);
  }
  if (pos + length > size) throw_invalid_utf8(pos);
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char byte = p[pos + k];
    if ((byte & 0xC0) != 0x80) throw_invalid_utf8(pos + k);
    value = value * 64 + (byte & 0x3F);
  }
  if (value < smallest || (value >= 0xD800 && value <= 0xDFFF) || value >= 0x110000) {
    throw_invalid_utf8(pos);
  }
  return length;
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
    pos += sequence_length(p, size, pos);
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
