#pragma once

// A stacked, optionally bidirectional LSTM for float32 inference on the CPU, computing what
// at::lstm computes (over padded or packed batches) without its per-time-step operator dispatch.
// At the small hidden sizes of our models that dispatch dominates at::lstm's time: here each
// layer runs one GEMM for the input projections of every time step and both directions, then
// the recurrence as a tight SIMD loop over prepared copies of the recurrent weights.

#include <ATen/ATen.h>

#include <cstdint>
#include <span>
#include <vector>

namespace velmora::detail {

class InferenceLstm {
 public:
  InferenceLstm() = default;

  /// `parameters` in at::lstm order with biases (see lstm_parameters): weight_ih, weight_hh,
  /// bias_ih, bias_hh per layer and direction. They are only read: the layouts the recurrence
  /// needs are copied here once. Shapes that do not fit an LSTM fail with c10::Error.
  InferenceLstm(const std::vector<at::Tensor>& parameters, int layers, bool bidirectional);

  /// Runs the LSTM over `input` [B, T, I] (batch first, float32).
  ///
  /// `lengths`: empty (every row holds T steps) or B values in [1, T], in any order. A row runs
  /// over its first lengths[b] steps only, its reverse direction starting at its own last step,
  /// as with a packed sequence; outputs past a row's length are zero.
  /// `initial`: empty (zero states) or {h0, c0}, each [layers * directions, B or 1, H].
  /// Returns [B, T, directions * H], forward half first. Independent rows and directions run
  /// through at::parallel_for; nothing else is threaded.
  at::Tensor operator()(const at::Tensor& input, std::span<const std::int64_t> lengths = {},
                        const std::vector<at::Tensor>& initial = {}) const;

  std::int64_t hidden_size() const { return hidden_; }
  std::int64_t input_size() const { return input_size_; }

 private:
  struct Layer {
    at::Tensor input_weights;                // [I, D * 4 * Hp]: both directions, gates padded to Hp
    at::Tensor bias;                         // [D * 4 * Hp]: bias_ih + bias_hh
    std::vector<at::Tensor> recurrent;       // per direction weight_hhᵀ, gates padded, in column panels
  };

  std::vector<Layer> layers_;
  std::int64_t directions_ = 1;
  std::int64_t hidden_ = 0;
  std::int64_t padded_hidden_ = 0;  // H rounded up to whole SIMD vectors, so no loop has a tail
  std::int64_t input_size_ = 0;
};

}  // namespace velmora::detail
