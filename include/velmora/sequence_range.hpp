#pragma once

// Position-to-row mapping shared by every sequence of the document model, so that
// Python-style negative indices, stepped slices and reversal are plain arithmetic and
// never copy annotation data.

#include <cstdint>
#include <optional>

namespace velmora {

/// Rows start, start + step, start + 2 * step, ... of `length` positions. Offsets are
/// computed in 64-bit two's-complement arithmetic; storage rows take them modulo 2^32.
struct SequenceRange {
  std::uint64_t start = 0;
  std::int64_t step = 1;
  std::uint64_t length = 0;

  /// The position a Python-style index names (negative counts from the end), or none
  /// when the index lies outside [-length, length).
  std::optional<std::uint64_t> position_of(std::int64_t index) const noexcept;

  /// start + step * position in 64-bit wrap-around arithmetic, unchecked.
  std::uint64_t offset_of(std::uint64_t position) const noexcept;

  /// The 32-bit storage row of a Python-style index; throws std::out_of_range when the
  /// index lies outside the sequence.
  std::uint32_t resolve(long index) const;

  /// The range of the sub-sequence with the given start position, step (both counted in
  /// positions of this range) and element count, already normalised by the caller.
  SequenceRange slice(long start, long step, unsigned long length) const noexcept;

  /// The range visiting the same rows in the opposite order; an empty range is returned
  /// unchanged.
  SequenceRange reversed() const noexcept;

  friend bool operator==(const SequenceRange&, const SequenceRange&) = default;
};

}  // namespace velmora
