#pragma once

// A linear layer for a few rows at a time, on a copy of its weights laid out for streaming. The
// tensor library's products on a few rows repack the whole weight matrix on every call, which
// costs more than the arithmetic; here each weight is read once per call for all rows. Every
// output is the bias plus the products summed in input order, so a row's result is the same
// whichever rows run beside it, and on whichever thread.

#include <ATen/ATen.h>

#include <cstdint>

namespace velmora::detail {

class RowProducts {
 public:
  RowProducts() = default;
  /// `weight` [outputs, inputs] and `bias` [outputs] (or undefined: no bias), float32; copied.
  /// Other shapes or dtypes fail with c10::Error.
  RowProducts(const at::Tensor& weight, const at::Tensor& bias);

  /// rows [count, inputs] float32 → [count, outputs]: rows · weightᵀ + bias.
  at::Tensor operator()(const at::Tensor& rows) const;

  std::int64_t inputs() const { return inputs_; }
  std::int64_t outputs() const { return outputs_; }

 private:
  at::Tensor panels_;  // weightᵀ in panels of kRowProductPanel outputs: [panels, inputs, panel]
  at::Tensor bias_;    // [panels · panel], zero where absent
  std::int64_t inputs_ = 0;
  std::int64_t outputs_ = 0;
};

/// Outputs per stored panel: each input's weights for a panel are contiguous.
inline constexpr std::int64_t kRowProductPanel = 64;

}  // namespace velmora::detail
