// The row-product kernel, compiled once per SIMD target by Highway's foreach_target and
// dispatched at run time. For each panel of outputs and each group of up to four rows, the
// sums start at the bias and take one input after another: its weights for the panel are
// loaded once and scaled by each row's input value.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "models/row_products.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>

#include "models/row_products.hpp"

// Defined once, although foreach_target includes this file once per target.
#ifndef VELMORA_ROW_PRODUCT_ARGUMENTS
#define VELMORA_ROW_PRODUCT_ARGUMENTS
namespace velmora::detail {
namespace {

struct Product {
  const float* rows;     // [count, inputs]
  std::size_t count;
  std::size_t inputs;
  const float* panels;   // RowProducts::panels_
  const float* bias;     // RowProducts::bias_
  std::size_t outputs;
  float* result;         // [count, outputs]
};

}  // namespace
}  // namespace velmora::detail
#endif

HWY_BEFORE_NAMESPACE();
namespace velmora::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using Tag = hn::ScalableTag<float>;
using Vec = hn::Vec<Tag>;

constexpr std::size_t kPanel = static_cast<std::size_t>(kRowProductPanel);

// Outputs [j, j + kVectors·lanes) of rows [first, first + kRows), within the panel at `panel`.
template <std::size_t kRows, std::size_t kVectors>
HWY_INLINE void product_block(Tag tag, const Product& product, const float* HWY_RESTRICT panel, std::size_t first,
                              std::size_t j) {
  const std::size_t lanes = hn::Lanes(tag);
  const std::size_t offset = j % kPanel;
  Vec sums[kRows][kVectors];
  for (std::size_t v = 0; v < kVectors; ++v) {
    const Vec bias = hn::LoadU(tag, product.bias + j + v * lanes);
    for (std::size_t r = 0; r < kRows; ++r) sums[r][v] = bias;
  }
  const float* HWY_RESTRICT rows = product.rows + first * product.inputs;
  const float* HWY_RESTRICT weights = panel + offset;
  for (std::size_t k = 0; k < product.inputs; ++k, weights += kPanel) {
    Vec loaded[kVectors];
    for (std::size_t v = 0; v < kVectors; ++v) loaded[v] = hn::LoadU(tag, weights + v * lanes);
    for (std::size_t r = 0; r < kRows; ++r) {
      const Vec scale = hn::Set(tag, rows[r * product.inputs + k]);
      for (std::size_t v = 0; v < kVectors; ++v) sums[r][v] = hn::MulAdd(scale, loaded[v], sums[r][v]);
    }
  }
  // The last panel may reach past the outputs: only the real ones are stored.
  HWY_ALIGN float block[kVectors * HWY_MAX_BYTES / sizeof(float)];
  const std::size_t width = std::min(kVectors * lanes, product.outputs - std::min(product.outputs, j));
  for (std::size_t r = 0; r < kRows; ++r) {
    float* out = product.result + (first + r) * product.outputs + j;
    if (width == kVectors * lanes) {
      for (std::size_t v = 0; v < kVectors; ++v) hn::StoreU(sums[r][v], tag, out + v * lanes);
    } else {
      for (std::size_t v = 0; v < kVectors; ++v) hn::Store(sums[r][v], tag, block + v * lanes);
      std::copy_n(block, width, out);
    }
  }
}

template <std::size_t kRows>
HWY_INLINE void product_rows(Tag tag, const Product& product, std::size_t first) {
  // Four vectors of sums per row fit the registers of every target with four rows at most.
  constexpr std::size_t kVectors = 4;
  const std::size_t lanes = hn::Lanes(tag);
  const std::size_t step = kVectors * lanes;
  for (std::size_t j = 0; j < product.outputs; j += step) {
    const float* panel = product.panels + (j / kPanel) * product.inputs * kPanel;
    // The last block computes only the vectors that hold outputs, not the panel's padding.
    switch (std::min(kVectors, (product.outputs - j + lanes - 1) / lanes)) {
      case 1: product_block<kRows, 1>(tag, product, panel, first, j); break;
      case 2: product_block<kRows, 2>(tag, product, panel, first, j); break;
      case 3: product_block<kRows, 3>(tag, product, panel, first, j); break;
      default: product_block<kRows, kVectors>(tag, product, panel, first, j); break;
    }
  }
}

void RunRowProducts(const Product& product) {
  const Tag tag;
  std::size_t first = 0;
  for (; first + 4 <= product.count; first += 4) product_rows<4>(tag, product, first);
  switch (product.count - first) {
    case 3: product_rows<3>(tag, product, first); break;
    case 2: product_rows<2>(tag, product, first); break;
    case 1: product_rows<1>(tag, product, first); break;
    default: break;
  }
}

}  // namespace velmora::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace velmora::detail {

HWY_EXPORT(RunRowProducts);

namespace {

std::int64_t round_up(std::int64_t value, std::int64_t multiple) { return (value + multiple - 1) / multiple * multiple; }

}  // namespace

RowProducts::RowProducts(const at::Tensor& weight, const at::Tensor& bias) {
  TORCH_CHECK(weight.scalar_type() == at::kFloat && weight.dim() == 2, "row products: weight must be float32 [outputs, inputs]");
  outputs_ = weight.size(0);
  inputs_ = weight.size(1);
  TORCH_CHECK(!bias.defined() || (bias.scalar_type() == at::kFloat && bias.dim() == 1 && bias.size(0) == outputs_),
              "row products: bias must be float32 [", outputs_, "]");
  const std::int64_t padded = round_up(std::max<std::int64_t>(outputs_, 1), kRowProductPanel);
  at::Tensor transposed = at::zeros({inputs_, padded}, at::kFloat);
  transposed.narrow(1, 0, outputs_).copy_(weight.t());
  // [inputs, padded] cut into panels: [padded / panel, inputs, panel].
  panels_ = transposed.reshape({inputs_, padded / kRowProductPanel, kRowProductPanel}).permute({1, 0, 2}).contiguous();
  bias_ = at::zeros({padded}, at::kFloat);
  if (bias.defined()) bias_.narrow(0, 0, outputs_).copy_(bias);
}

at::Tensor RowProducts::operator()(const at::Tensor& rows) const {
  TORCH_CHECK(rows.scalar_type() == at::kFloat && rows.dim() == 2 && rows.size(1) == inputs_,
              "row products: rows must be float32 [count, ", inputs_, "], got ", rows.sizes());
  const at::Tensor input = rows.contiguous();
  at::Tensor result = at::empty({rows.size(0), outputs_}, at::kFloat);
  if (rows.size(0) == 0 || outputs_ == 0) return result;
  const Product product{input.const_data_ptr<float>(), static_cast<std::size_t>(rows.size(0)),
                        static_cast<std::size_t>(inputs_), panels_.const_data_ptr<float>(),
                        bias_.const_data_ptr<float>(), static_cast<std::size_t>(outputs_),
                        result.mutable_data_ptr<float>()};
  HWY_DYNAMIC_DISPATCH(RunRowProducts)(product);
  return result;
}

}  // namespace velmora::detail
#endif  // HWY_ONCE
