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

  /// The same over packed rows, without padding: `input` [N, I] holds row 0's steps, then row
  /// 1's, and so on; `lengths` gives each row's step count (B values >= 1 summing to N).
  /// Returns [N, directions * H] in the same row order.
  at::Tensor run_packed(const at::Tensor& input, std::span<const std::int64_t> lengths,
                        const std::vector<at::Tensor>& initial = {}) const;

  /// As run_packed, given the first layer's input projections instead of its inputs:
  /// `projections` [N, projection_width()], row n = input[n] · first_layer_input_weights() (the
  /// biases are added inside). Callers whose inputs are sums of a few known rows (embeddings,
  /// one-hot features) can gather the projections instead of multiplying.
  at::Tensor run_projected(const at::Tensor& projections, std::span<const std::int64_t> lengths,
                           const std::vector<at::Tensor>& initial = {}) const;

  /// The first layer's input weights [I, projection_width()], in the layout of the projections.
  const at::Tensor& first_layer_input_weights() const;
  std::int64_t projection_width() const { return directions_ * 4 * padded_hidden_; }

  std::int64_t hidden_size() const { return hidden_; }
  std::int64_t input_size() const { return input_size_; }

 private:
  struct Layer {
    at::Tensor input_weights;                // [I, D * 4 * Hp]: both directions, gates padded to Hp
    at::Tensor bias;                         // [D * 4 * Hp]: bias_ih + bias_hh
    std::vector<at::Tensor> recurrent;       // per direction weight_hhᵀ, gates padded, in column panels
  };

  // Every layer over packed rows; the first from `input` or, when that is undefined, from the
  // first layer's `projections`.
  at::Tensor run_layers(const at::Tensor& input, const at::Tensor& projections, std::span<const std::int64_t> lengths,
                        const std::vector<at::Tensor>& initial) const;

  std::vector<Layer> layers_;
  std::int64_t directions_ = 1;
  std::int64_t hidden_ = 0;
  std::int64_t padded_hidden_ = 0;  // H rounded up to whole SIMD vectors, so no loop has a tail
  std::int64_t input_size_ = 0;
};

}  // namespace velmora::detail
