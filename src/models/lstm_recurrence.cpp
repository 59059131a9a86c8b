// The LSTM time loop, compiled once per SIMD target by Highway's foreach_target and dispatched
// at run time. Per step: gates = projections[t] + h·weight_hhᵀ, accumulated in registers over
// blocks of gate columns (the weights are stored transposed so each h[k] scales one contiguous
// row), then i, f, o = sigmoid, g = tanh, c = f·c + i·g, h = o·tanh(c) over whole vectors.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "models/lstm_recurrence.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/contrib/math/math-inl.h>
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

// gates[0, kBlock·N) = projections + Σ_k h[k] · weights[k, ·], with rows `columns` floats apart.
template <std::size_t kBlock>
HWY_INLINE void accumulate_gates(Tag tag, const float* HWY_RESTRICT projections, const float* HWY_RESTRICT weights,
                                 std::size_t columns, const float* HWY_RESTRICT hidden, std::size_t inputs,
                                 float* HWY_RESTRICT gates) {
  const std::size_t lanes = hn::Lanes(tag);
  Vec sums[kBlock];
  for (std::size_t v = 0; v < kBlock; ++v) sums[v] = hn::LoadU(tag, projections + v * lanes);
  for (std::size_t k = 0; k < inputs; ++k) {
    const Vec scale = hn::Set(tag, hidden[k]);
    const float* row = weights + k * columns;
    for (std::size_t v = 0; v < kBlock; ++v) sums[v] = hn::MulAdd(scale, hn::LoadU(tag, row + v * lanes), sums[v]);
  }
  for (std::size_t v = 0; v < kBlock; ++v) hn::StoreU(sums[v], tag, gates + v * lanes);
}

// exp overflows past 88.7; sigmoid is 0 to float precision well before that.
HWY_INLINE Vec sigmoid(Tag tag, Vec x) {
  const Vec one = hn::Set(tag, 1.0F);
  const Vec negated = hn::Min(hn::Neg(x), hn::Set(tag, 88.0F));
  return hn::Div(one, hn::Add(one, hn::Exp(tag, negated)));
}

void RunLstmRecurrence(const LstmRecurrence& task, float* HWY_RESTRICT scratch) {
  const Tag tag;
  const std::size_t lanes = hn::Lanes(tag);
  const auto hidden = static_cast<std::size_t>(task.hidden);
  const auto padded = static_cast<std::size_t>(task.padded_hidden);
  const std::size_t columns = 4 * padded;
  float* HWY_RESTRICT gates = scratch;
  float* HWY_RESTRICT h = scratch + columns;
  float* HWY_RESTRICT c = h + padded;
  std::fill(h, h + 2 * padded, 0.0F);
  if (task.initial_hidden != nullptr) std::memcpy(h, task.initial_hidden, hidden * sizeof(float));
  if (task.initial_cell != nullptr) std::memcpy(c, task.initial_cell, hidden * sizeof(float));

  constexpr std::size_t kWide = 8;    // accumulators per block where the columns allow
  constexpr std::size_t kNarrow = 4;  // columns are always a multiple of 4 vectors
  for (std::int64_t step = 0; step < task.length; ++step) {
    const std::int64_t t = task.reverse ? task.length - 1 - step : step;
    const float* projections = task.projections + t * task.projection_stride;
    std::size_t j = 0;
    for (; j + kWide * lanes <= columns; j += kWide * lanes) {
      accumulate_gates<kWide>(tag, projections + j, task.recurrent + j, columns, h, hidden, gates + j);
    }
    for (; j < columns; j += kNarrow * lanes) {
      accumulate_gates<kNarrow>(tag, projections + j, task.recurrent + j, columns, h, hidden, gates + j);
    }
    for (std::size_t u = 0; u < padded; u += lanes) {
      const Vec input_gate = sigmoid(tag, hn::LoadU(tag, gates + u));
      const Vec forget_gate = sigmoid(tag, hn::LoadU(tag, gates + padded + u));
      const Vec candidate = hn::Tanh(tag, hn::LoadU(tag, gates + 2 * padded + u));
      const Vec output_gate = sigmoid(tag, hn::LoadU(tag, gates + 3 * padded + u));
      const Vec cell = hn::MulAdd(forget_gate, hn::LoadU(tag, c + u), hn::Mul(input_gate, candidate));
      hn::StoreU(cell, tag, c + u);
      hn::StoreU(hn::Mul(output_gate, hn::Tanh(tag, cell)), tag, h + u);
    }
    std::memcpy(task.output + t * task.output_stride, h, hidden * sizeof(float));
  }
}

}  // namespace velmora::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace velmora::detail {

HWY_EXPORT(RunLstmRecurrence);

void run_lstm_recurrence(const LstmRecurrence& task, float* scratch) {
  HWY_DYNAMIC_DISPATCH(RunLstmRecurrence)(task, scratch);
}

}  // namespace velmora::detail
#endif
