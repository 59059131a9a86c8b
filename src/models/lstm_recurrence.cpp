// The LSTM time loop, compiled once per SIMD target by Highway's foreach_target and dispatched
// at run time. Per step and row: gates = projections[t] + bias + h·weight_hhᵀ, accumulated in
// registers over blocks of gate columns (the weights are stored transposed, so each h[k] scales
// one contiguous weight row, loaded once for all rows of the group), then i, f, o = sigmoid,
// g = tanh, c = f·c + i·g, h = o·tanh(c) over whole vectors, with a rational tanh.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "models/lstm_recurrence.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "models/lstm_recurrence.hpp"

HWY_BEFORE_NAMESPACE();
namespace velmora::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using Tag = hn::ScalableTag<float>;
using Vec = hn::Vec<Tag>;

// The buffers of one step: row r reads projections[r] and hidden + r·padded, writes gates + r·columns.
struct StepBuffers {
  const float* projections[kLstmRowsPerGroup];
  const float* bias;
  const float* weights;
  std::size_t columns;
  std::size_t inputs;
  const float* hidden;
  std::size_t padded;
  float* gates;
};

// Gate columns [j, j + kBlock·N) of rows [first, first + kRows).
template <std::size_t kRows, std::size_t kBlock>
HWY_INLINE void accumulate_block(Tag tag, const StepBuffers& step, std::size_t first, std::size_t j) {
  const std::size_t lanes = hn::Lanes(tag);
  Vec sums[kRows][kBlock];
  for (std::size_t v = 0; v < kBlock; ++v) {
    const Vec bias = hn::LoadU(tag, step.bias + j + v * lanes);
    for (std::size_t r = 0; r < kRows; ++r) {
      sums[r][v] = hn::Add(hn::LoadU(tag, step.projections[first + r] + j + v * lanes), bias);
    }
  }
  constexpr auto kPanel = static_cast<std::size_t>(kLstmWeightPanel);
  const float* HWY_RESTRICT row = step.weights + (j / kPanel) * step.inputs * kPanel + j % kPanel;
  const float* HWY_RESTRICT hidden = step.hidden + first * step.padded;
  for (std::size_t k = 0; k < step.inputs; ++k, row += kPanel) {
    Vec weights[kBlock];
    for (std::size_t v = 0; v < kBlock; ++v) weights[v] = hn::LoadU(tag, row + v * lanes);
    for (std::size_t r = 0; r < kRows; ++r) {
      const Vec scale = hn::Set(tag, hidden[r * step.padded + k]);
      for (std::size_t v = 0; v < kBlock; ++v) sums[r][v] = hn::MulAdd(scale, weights[v], sums[r][v]);
    }
  }
  for (std::size_t r = 0; r < kRows; ++r) {
    for (std::size_t v = 0; v < kBlock; ++v) {
      hn::StoreU(sums[r][v], tag, step.gates + (first + r) * step.columns + j + v * lanes);
    }
  }
}

// Gate columns [j, end) of rows [first, first + kRows), in blocks as wide as the registers allow
// and no wider than the range; ranges are a multiple of four vectors on every target, so halving
// the block covers any rest. Every column's sum runs over k in the same order whatever the
// block, so the grouping of rows and columns never changes a result.
template <std::size_t kRows, std::size_t kBlock>
HWY_INLINE void accumulate_columns(Tag tag, const StepBuffers& step, std::size_t first, std::size_t j, std::size_t end) {
  const std::size_t width = kBlock * hn::Lanes(tag);
  if constexpr (kBlock > 1) {
    if (width > end - j) return accumulate_columns<kRows, kBlock / 2>(tag, step, first, j, end);
  }
  for (; j + width <= end; j += width) accumulate_block<kRows, kBlock>(tag, step, first, j);
  if constexpr (kBlock > 1) {
    if (j < end) accumulate_columns<kRows, kBlock / 2>(tag, step, first, j, end);
  }
}

// Rows that share one register block: as many as leave room for two weight vectors and a
// broadcast (32 registers hold 8 rows of two vectors, 16 registers 4).
constexpr std::size_t kRowsPerBlock = HWY_MAX_BYTES >= 64 ? 8 : 4;

// Gate columns [j, end) of rows [first, first + count), count <= kRowsPerBlock.
HWY_INLINE void accumulate_rows(Tag tag, const StepBuffers& step, std::size_t first, std::size_t count, std::size_t j,
                                std::size_t end) {
  switch (count) {
    case 1: return accumulate_columns<1, 4>(tag, step, first, j, end);
    case 2: return accumulate_columns<2, 4>(tag, step, first, j, end);
    case 3: return accumulate_columns<3, 2>(tag, step, first, j, end);
#if HWY_MAX_BYTES >= 64
    case 4: return accumulate_columns<4, 2>(tag, step, first, j, end);
    case 5: return accumulate_columns<5, 2>(tag, step, first, j, end);
    case 6: return accumulate_columns<6, 2>(tag, step, first, j, end);
    case 7: return accumulate_columns<7, 2>(tag, step, first, j, end);
    default: return accumulate_columns<8, 2>(tag, step, first, j, end);
#else
    default: return accumulate_columns<4, 2>(tag, step, first, j, end);
#endif
  }
}

// The gates of `active` rows. One weight panel at a time serves every block of rows before the
// next panel is read, so the weights stream from memory once per step for the whole group
// rather than once per register block.
HWY_INLINE void accumulate_gates(Tag tag, const StepBuffers& step, std::size_t active) {
  constexpr auto kPanel = static_cast<std::size_t>(kLstmWeightPanel);
  for (std::size_t j = 0; j < step.columns; j += kPanel) {
    for (std::size_t first = 0; first < active; first += kRowsPerBlock) {
      accumulate_rows(tag, step, first, std::min(kRowsPerBlock, active - first), j, j + kPanel);
    }
  }
}

// tanh as a rational function (odd degree 13 over even degree 6), within a few float ulps of
// the exact value on [-7.9, 7.9] and clamped outside, where tanh is ±1 to within 3e-7. One
// reciprocal and a dozen fused multiply-adds: cheaper than a tanh built on exp.
HWY_INLINE Vec fast_tanh(Tag tag, Vec x) {
  const Vec bound = hn::Set(tag, 7.90531110763549805F);
  x = hn::Min(hn::Max(x, hn::Neg(bound)), bound);
  const Vec x2 = hn::Mul(x, x);
  Vec p = hn::MulAdd(x2, hn::Set(tag, -2.76076847742355e-16F), hn::Set(tag, 2.00018790482477e-13F));
  p = hn::MulAdd(x2, p, hn::Set(tag, -8.60467152213735e-11F));
  p = hn::MulAdd(x2, p, hn::Set(tag, 5.12229709037114e-08F));
  p = hn::MulAdd(x2, p, hn::Set(tag, 1.48572235717979e-05F));
  p = hn::MulAdd(x2, p, hn::Set(tag, 6.37261928875436e-04F));
  p = hn::MulAdd(x2, p, hn::Set(tag, 4.89352455891786e-03F));
  p = hn::Mul(x, p);
  Vec q = hn::MulAdd(x2, hn::Set(tag, 1.19825839466702e-06F), hn::Set(tag, 1.18534705686654e-04F));
  q = hn::MulAdd(x2, q, hn::Set(tag, 2.26843463243900e-03F));
  q = hn::MulAdd(x2, q, hn::Set(tag, 4.89352518554385e-03F));
#if HWY_ARCH_X86
  // p / q through the 12-bit reciprocal estimate and one Newton step (q lies in [0.0049,
  // 0.91]): within 2^-23 or so, at a fraction of a division's cost.
  const Vec estimate = hn::ApproximateReciprocal(q);
  const Vec reciprocal = hn::Mul(estimate, hn::NegMulAdd(q, estimate, hn::Set(tag, 2.0F)));
  return hn::Mul(p, reciprocal);
#else
  return hn::Div(p, q);  // coarser estimates elsewhere would need more steps
#endif
}

// sigmoid(x) = (1 + tanh(x / 2)) / 2.
HWY_INLINE Vec sigmoid(Tag tag, Vec x) {
  const Vec half = hn::Set(tag, 0.5F);
  return hn::MulAdd(half, fast_tanh(tag, hn::Mul(half, x)), half);
}

void update_cell(Tag tag, const float* HWY_RESTRICT gates, std::size_t padded, float* HWY_RESTRICT h,
                 float* HWY_RESTRICT c) {
  const std::size_t lanes = hn::Lanes(tag);
  for (std::size_t u = 0; u < padded; u += lanes) {
    const Vec input_gate = sigmoid(tag, hn::LoadU(tag, gates + u));
    const Vec forget_gate = sigmoid(tag, hn::LoadU(tag, gates + padded + u));
    const Vec candidate = fast_tanh(tag, hn::LoadU(tag, gates + 2 * padded + u));
    const Vec output_gate = sigmoid(tag, hn::LoadU(tag, gates + 3 * padded + u));
    const Vec cell = hn::MulAdd(forget_gate, hn::LoadU(tag, c + u), hn::Mul(input_gate, candidate));
    hn::StoreU(cell, tag, c + u);
    hn::StoreU(hn::Mul(output_gate, fast_tanh(tag, cell)), tag, h + u);
  }
}

void RunLstmRecurrences(const LstmRecurrence* HWY_RESTRICT rows, int count, float* HWY_RESTRICT scratch) {
  const Tag tag;
  const LstmRecurrence& shape = rows[0];
  const auto hidden = static_cast<std::size_t>(shape.hidden);
  const auto padded = static_cast<std::size_t>(shape.padded_hidden);
  const std::size_t columns = 4 * padded;
  float* HWY_RESTRICT gates = scratch;                          // [rows, columns]
  float* HWY_RESTRICT h = gates + kLstmRowsPerGroup * columns;  // [rows, padded]
  float* HWY_RESTRICT c = h + kLstmRowsPerGroup * padded;       // [rows, padded]
  std::fill(h, h + 2 * kLstmRowsPerGroup * padded, 0.0F);
  for (int r = 0; r < count; ++r) {
    if (rows[r].initial_hidden != nullptr) std::memcpy(h + r * padded, rows[r].initial_hidden, hidden * sizeof(float));
    if (rows[r].initial_cell != nullptr) std::memcpy(c + r * padded, rows[r].initial_cell, hidden * sizeof(float));
  }

  StepBuffers step{{}, shape.bias, shape.recurrent, columns, hidden, h, padded, gates};
  int active = count;
  for (std::int64_t s = 0; s < rows[0].length; ++s) {
    while (rows[active - 1].length <= s) --active;  // rows are longest first
    std::int64_t t[kLstmRowsPerGroup];
    for (int r = 0; r < active; ++r) {
      t[r] = shape.reverse ? rows[r].length - 1 - s : s;
      step.projections[r] = rows[r].projections + t[r] * rows[r].projection_stride;
    }
    accumulate_gates(tag, step, static_cast<std::size_t>(active));
    for (int r = 0; r < active; ++r) {
      update_cell(tag, gates + r * columns, padded, h + r * padded, c + r * padded);
      std::memcpy(rows[r].output + t[r] * rows[r].output_stride, h + r * padded, hidden * sizeof(float));
    }
  }
}

}  // namespace velmora::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace velmora::detail {

HWY_EXPORT(RunLstmRecurrences);

void run_lstm_recurrences(const LstmRecurrence* rows, int count, float* scratch) {
  HWY_DYNAMIC_DISPATCH(RunLstmRecurrences)(rows, count, scratch);
}

}  // namespace velmora::detail
#endif
