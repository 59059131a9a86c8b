// The LSTM arithmetic, compiled once per SIMD target by Highway's foreach_target and dispatched
// at run time. Sums are accumulated in registers over blocks of rows and of one panel's columns:
// the weights are stored transposed, so each input k scales one contiguous weight row, loaded
// once for every row of the block. The cell update then runs over whole vectors with a rational
// tanh.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "models/lstm_recurrence.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>

#include "models/lstm_recurrence.hpp"

HWY_BEFORE_NAMESPACE();
namespace velmora::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// No wider than a block of units, so that whole vectors tile every panel and gate.
using Tag = hn::CappedTag<float, static_cast<std::size_t>(kLstmGatePadding)>;
using Vec = hn::Vec<Tag>;

constexpr auto kPanel = static_cast<std::size_t>(kLstmWeightPanel);
constexpr auto kUnits = static_cast<std::size_t>(kLstmGatePadding);

// Rows that share one register block: as many as leave room for two weight vectors and a
// broadcast (32 registers hold 8 rows of two vectors, 16 registers 4).
constexpr std::size_t kRowsPerBlock = HWY_MAX_BYTES >= 64 ? 8 : 4;

// The sums of one panel for a block of rows: row r starts from starts[r] + bias (or from zero
// when there are no starts), adds sources[r][k] · weights[k] for k in order, and lands in
// targets[r]; all three point at the panel's first column.
struct PanelBlock {
  const float* sources[kRowsPerBlock];
  const float* starts[kRowsPerBlock];
  float* targets[kRowsPerBlock];
  const float* bias;     // null when there are no starts
  const float* weights;  // [inputs, kPanel]
  std::size_t inputs;
};

// Columns [j, j + kBlock·N) of the block's first kRows rows.
template <std::size_t kRows, std::size_t kBlock>
HWY_INLINE void accumulate_block(Tag tag, const PanelBlock& block, std::size_t j) {
  const std::size_t lanes = hn::Lanes(tag);
  Vec sums[kRows][kBlock];
  for (std::size_t v = 0; v < kBlock; ++v) {
    if (block.bias != nullptr) {
      const Vec bias = hn::LoadU(tag, block.bias + j + v * lanes);
      for (std::size_t r = 0; r < kRows; ++r) sums[r][v] = hn::Add(hn::LoadU(tag, block.starts[r] + j + v * lanes), bias);
    } else {
      for (std::size_t r = 0; r < kRows; ++r) sums[r][v] = hn::Zero(tag);
    }
  }
  const float* HWY_RESTRICT sources[kRows];
  for (std::size_t r = 0; r < kRows; ++r) sources[r] = block.sources[r];
  const float* HWY_RESTRICT row = block.weights + j;
  for (std::size_t k = 0; k < block.inputs; ++k, row += kPanel) {
    Vec weights[kBlock];
    for (std::size_t v = 0; v < kBlock; ++v) weights[v] = hn::LoadU(tag, row + v * lanes);
    for (std::size_t r = 0; r < kRows; ++r) {
      const Vec scale = hn::Set(tag, sources[r][k]);
      for (std::size_t v = 0; v < kBlock; ++v) sums[r][v] = hn::MulAdd(scale, weights[v], sums[r][v]);
    }
  }
  for (std::size_t r = 0; r < kRows; ++r) {
    for (std::size_t v = 0; v < kBlock; ++v) hn::StoreU(sums[r][v], tag, block.targets[r] + j + v * lanes);
  }
}

// The whole panel, in blocks as wide as the registers allow: a panel is a multiple of four
// vectors on every target, so halving the block covers any rest. Every column's sum runs over k
// in the same order whatever the block, so the blocking never changes a result.
template <std::size_t kRows, std::size_t kBlock>
HWY_INLINE void accumulate_columns(Tag tag, const PanelBlock& block, std::size_t j, std::size_t end) {
  const std::size_t width = kBlock * hn::Lanes(tag);
  if constexpr (kBlock > 1) {
    if (width > end - j) return accumulate_columns<kRows, kBlock / 2>(tag, block, j, end);
  }
  for (; j + width <= end; j += width) accumulate_block<kRows, kBlock>(tag, block, j);
  if constexpr (kBlock > 1) {
    if (j < end) accumulate_columns<kRows, kBlock / 2>(tag, block, j, end);
  }
}

// The panel for the block's first `count` rows, count <= kRowsPerBlock.
HWY_INLINE void accumulate_panel(Tag tag, const PanelBlock& block, std::size_t count) {
  switch (count) {
    case 1: return accumulate_columns<1, 4>(tag, block, 0, kPanel);
    case 2: return accumulate_columns<2, 4>(tag, block, 0, kPanel);
    case 3: return accumulate_columns<3, 2>(tag, block, 0, kPanel);
#if HWY_MAX_BYTES >= 64
    case 4: return accumulate_columns<4, 2>(tag, block, 0, kPanel);
    case 5: return accumulate_columns<5, 2>(tag, block, 0, kPanel);
    case 6: return accumulate_columns<6, 2>(tag, block, 0, kPanel);
    case 7: return accumulate_columns<7, 2>(tag, block, 0, kPanel);
    default: return accumulate_columns<8, 2>(tag, block, 0, kPanel);
#else
    default: return accumulate_columns<4, 2>(tag, block, 0, kPanel);
#endif
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

// The cell update of the units [unit, unit + kUnits) of one row from its panel of gates.
HWY_INLINE void update_cell(Tag tag, const float* HWY_RESTRICT gates, const float* cell_in, float* cell_out,
                            float* HWY_RESTRICT hidden_out, float* HWY_RESTRICT output, std::size_t unit,
                            std::size_t hidden) {
  const std::size_t lanes = hn::Lanes(tag);
  for (std::size_t u = 0; u < kUnits; u += lanes) {
    const Vec input_gate = sigmoid(tag, hn::LoadU(tag, gates + u));
    const Vec forget_gate = sigmoid(tag, hn::LoadU(tag, gates + kUnits + u));
    const Vec candidate = fast_tanh(tag, hn::LoadU(tag, gates + 2 * kUnits + u));
    const Vec output_gate = sigmoid(tag, hn::LoadU(tag, gates + 3 * kUnits + u));
    const Vec cell = hn::MulAdd(forget_gate, hn::LoadU(tag, cell_in + unit + u), hn::Mul(input_gate, candidate));
    const Vec state = hn::Mul(output_gate, fast_tanh(tag, cell));
    hn::StoreU(cell, tag, cell_out + unit + u);
    hn::StoreU(state, tag, hidden_out + unit + u);
    if (output == nullptr || unit + u >= hidden) continue;
    const std::size_t real = std::min(lanes, hidden - unit - u);
    if (real == lanes) {
      hn::StoreU(state, tag, output + unit + u);
    } else {
      // Past the real units lie other rows' or the other direction's outputs: only `real` lanes
      // may be written, and a masked store may rewrite the others on some targets.
      HWY_ALIGN float tail[kUnits];
      hn::Store(state, tag, tail);
      std::copy_n(tail, real, output + unit + u);
    }
  }
}

void RunLstmStep(const LstmStepRows& rows, const LstmDirectionWeights& weights, std::int64_t panel_begin,
                 std::int64_t panel_end) {
  const Tag tag;
  const auto hidden = static_cast<std::size_t>(weights.hidden);
  HWY_ALIGN float gates[kRowsPerBlock * kPanel];
  for (auto p = static_cast<std::size_t>(panel_begin); p < static_cast<std::size_t>(panel_end); ++p) {
    PanelBlock block{};
    block.bias = weights.bias + p * kPanel;
    block.weights = weights.recurrent + p * hidden * kPanel;
    block.inputs = hidden;
    for (std::size_t first = 0; first < rows.count; first += kRowsPerBlock) {
      const std::size_t count = std::min(kRowsPerBlock, rows.count - first);
      for (std::size_t r = 0; r < count; ++r) {
        block.sources[r] = rows.hidden_in[first + r];
        block.starts[r] = rows.projections[first + r] + p * kPanel;
        block.targets[r] = gates + r * kPanel;
      }
      accumulate_panel(tag, block, count);
      for (std::size_t r = 0; r < count; ++r) {
        update_cell(tag, gates + r * kPanel, rows.cell_in[first + r], rows.cell_out[first + r],
                    rows.hidden_out[first + r], rows.output == nullptr ? nullptr : rows.output[first + r],
                    p * kUnits, hidden);
      }
    }
  }
}

void RunLstmProjection(std::size_t count, const float* const* inputs, std::int64_t input_width, const float* weights,
                       std::int64_t panel_begin, std::int64_t panel_end, float* const* outputs) {
  const Tag tag;
  const auto width = static_cast<std::size_t>(input_width);
  for (auto p = static_cast<std::size_t>(panel_begin); p < static_cast<std::size_t>(panel_end); ++p) {
    PanelBlock block{};
    block.bias = nullptr;
    block.weights = weights + p * width * kPanel;
    block.inputs = width;
    for (std::size_t first = 0; first < count; first += kRowsPerBlock) {
      const std::size_t rows = std::min(kRowsPerBlock, count - first);
      for (std::size_t r = 0; r < rows; ++r) {
        block.sources[r] = inputs[first + r];
        block.targets[r] = outputs[first + r] + p * kPanel;
      }
      accumulate_panel(tag, block, rows);
    }
  }
}

}  // namespace velmora::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace velmora::detail {

HWY_EXPORT(RunLstmStep);
HWY_EXPORT(RunLstmProjection);

void run_lstm_step(const LstmStepRows& rows, const LstmDirectionWeights& weights, std::int64_t panel_begin,
                   std::int64_t panel_end) {
  HWY_DYNAMIC_DISPATCH(RunLstmStep)(rows, weights, panel_begin, panel_end);
}

void run_lstm_projection(std::size_t count, const float* const* inputs, std::int64_t input_width,
                         const float* weights, std::int64_t panel_begin, std::int64_t panel_end,
                         float* const* outputs) {
  HWY_DYNAMIC_DISPATCH(RunLstmProjection)(count, inputs, input_width, weights, panel_begin, panel_end, outputs);
}

}  // namespace velmora::detail
#endif
