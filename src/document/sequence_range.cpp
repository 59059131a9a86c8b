#include "velmora/sequence_range.hpp"

#include <stdexcept>

namespace velmora {

// All products and sums go through unsigned 64-bit arithmetic: it wraps exactly like
// two's complement, where signed overflow would be undefined.

std::optional<std::uint64_t> SequenceRange::position_of(std::int64_t index) const noexcept {
  if (index >= 0) {
    const auto position = static_cast<std::uint64_t>(index);
    if (position < length) return position;
    return std::nullopt;
  }
  const std::uint64_t from_end = std::uint64_t{0} - static_cast<std::uint64_t>(index);
  if (from_end > length) return std::nullopt;
  return length - from_end;
}

std::uint64_t SequenceRange::offset_of(std::uint64_t position) const noexcept {
  return start + static_cast<std::uint64_t>(step) * position;
}

std::uint32_t SequenceRange::resolve(long index) const {
  const auto position = position_of(index);
  if (!position) throw std::out_of_range("index is outside the sequence");
  return static_cast<std::uint32_t>(offset_of(*position));
}

SequenceRange SequenceRange::slice(long first, long stride, unsigned long count) const noexcept {
  const std::uint64_t new_start = start + static_cast<std::uint64_t>(step) * static_cast<std::uint64_t>(first);
  const std::uint64_t new_step = static_cast<std::uint64_t>(step) * static_cast<std::uint64_t>(stride);
  return {new_start, static_cast<std::int64_t>(new_step), count};
}

SequenceRange SequenceRange::reversed() const noexcept {
  if (length == 0) return *this;
  const std::uint64_t negated = std::uint64_t{0} - static_cast<std::uint64_t>(step);
  return {offset_of(length - 1), static_cast<std::int64_t>(negated), length};
}

}  // namespace velmora
