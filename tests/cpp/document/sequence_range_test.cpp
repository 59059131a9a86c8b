// Python-style indexing, slicing and reversal of the row range behind every sequence.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "velmora/sequence_range.hpp"

namespace {

using velmora::SequenceRange;

std::vector<std::uint32_t> rows_of(const SequenceRange& range) {
  std::vector<std::uint32_t> rows;
  for (std::uint64_t p = 0; p < range.length; ++p) rows.push_back(range.resolve(static_cast<long>(p)));
  return rows;
}

void expect_outside(const SequenceRange& range, long index) {
  try {
    range.resolve(index);
    FAIL() << "index " << index << " resolved";
  } catch (const std::out_of_range& error) {
    EXPECT_STREQ(error.what(), "index is outside the sequence");
  }
}

TEST(SequenceRange, NegativeIndicesCountFromTheEnd) {
  const SequenceRange range{10, 1, 4};
  EXPECT_EQ(range.resolve(-1), 13u);
  EXPECT_EQ(range.resolve(-4), 10u);
  EXPECT_EQ(range.resolve(0), 10u);
  EXPECT_EQ(range.resolve(3), 13u);
}

TEST(SequenceRange, IndicesOutsideTheRangeFail) {
  const SequenceRange range{10, 1, 4};
  for (long index : {4L, -5L, 1000L, -1000L}) expect_outside(range, index);
  for (long index : {0L, -1L, 1L}) expect_outside(SequenceRange{}, index);
}

TEST(SequenceRange, DefaultRangeIsEmptyAndForward) {
  const SequenceRange range;
  EXPECT_EQ(range, (SequenceRange{0, 1, 0}));
}

TEST(SequenceRange, ReversalOfAnEmptyRangeKeepsIt) {
  const SequenceRange empty{7, 3, 0};
  EXPECT_EQ(empty.reversed(), empty);
}

TEST(SequenceRange, ReversalTwiceGivesTheSameRows) {
  const SequenceRange range{5, 3, 4};
  EXPECT_EQ(rows_of(range.reversed()), (std::vector<std::uint32_t>{14, 11, 8, 5}));
  EXPECT_EQ(range.reversed().reversed(), range);
}

TEST(SequenceRange, SlicingComposesWithReversal) {
  const SequenceRange reversed = SequenceRange{5, 1, 4}.reversed();
  EXPECT_EQ(reversed, (SequenceRange{8, -1, 4}));
  EXPECT_EQ(rows_of(reversed), (std::vector<std::uint32_t>{8, 7, 6, 5}));
  EXPECT_EQ(rows_of(reversed.slice(1, 2, 2)), (std::vector<std::uint32_t>{7, 5}));
}

// Each case is a Python list slice: the same rows must come out.
TEST(SequenceRange, SlicesAddressTheSameRowsAsListSlices) {
  struct Case {
    SequenceRange range;
    long start, step;
    unsigned long length;
    std::vector<std::uint32_t> rows;
  };
  const std::vector<Case> cases = {
      {{0, 1, 5}, 1, 2, 2, {1, 3}},              // [0..5)[1:4:2]
      {{0, 1, 5}, 4, -1, 5, {4, 3, 2, 1, 0}},    // [::-1]
      {{0, 1, 5}, 3, -2, 2, {3, 1}},             // [3::-2]
      {{0, 1, 5}, 0, 1, 0, {}},                  // [10:20]
      {{100, 2, 6}, 5, -3, 2, {110, 104}},       // stepped source, reversed stride
      {{0, -1, 0}, 0, 1, 0, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rows_of(c.range.slice(c.start, c.step, c.length)), c.rows);
  }
}

TEST(SequenceRange, RowsWrapToThirtyTwoBits) {
  // Rows are unsigned 32-bit; offsets beyond that range are taken modulo 2^32.
  const SequenceRange range{0xFFFFFFFFu, 1, 2};
  EXPECT_EQ(range.resolve(0), 0xFFFFFFFFu);
  EXPECT_EQ(range.resolve(1), 0u);
}

TEST(SequenceRange, ExtremeStepsDoNotOverflow) {
  // Arithmetic wraps instead of being undefined (checked under the sanitizer build).
  const SequenceRange range{0, INT64_MIN, 2};
  EXPECT_EQ(range.reversed().step, INT64_MIN);
  EXPECT_EQ(range.slice(1, 3, 1).step, INT64_MIN);
  EXPECT_EQ(range.resolve(1), 0u);
  EXPECT_FALSE(SequenceRange({0, 1, 3}).position_of(INT64_MIN));
}

}  // namespace
