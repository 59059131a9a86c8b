#pragma once

// Stacked LSTMs over one short sequence or one single step, as plain tensor operations with
// at::lstm's semantics (biases on, no dropout, inference only). For inputs this small the
// operator's fixed costs, and any hand-off to the intra-op thread pool, would outweigh the
// arithmetic many times over; these run it inline.

#include <ATen/ATen.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "models/row_products.hpp"

namespace velmora::detail {

/// One time step of a stacked unidirectional LSTM. `parameters` in at::lstm order (weight_ih,
/// weight_hh, bias_ih, bias_hh per layer), `input` a vector [I], `h` and `c` [layers, H]; or
/// independent rows stepped together: `input` [B, I], `h` and `c` [layers, B, H]. Returns the
/// new (h, c) in the shape of the given ones; the step's output is the last layer of h.
std::pair<at::Tensor, at::Tensor> lstm_single_step(const std::vector<at::Tensor>& parameters,
                                                   const at::Tensor& input, const at::Tensor& h,
                                                   const at::Tensor& c);

/// A stacked, optionally bidirectional LSTM over one sequence `input` [T, I] from the initial
/// states `h0` and `c0`, each [layers * directions, H] (at::lstm's order, batch dimension
/// dropped). Returns [T, directions * H], the forward half first.
at::Tensor lstm_sequence(const std::vector<at::Tensor>& parameters, const at::Tensor& input,
                         std::int64_t layers, bool bidirectional, const at::Tensor& h0,
                         const at::Tensor& c0);

/// lstm_single_step over rows, on copies of float32 weights laid out for a few rows at a time:
/// each row's result is the same whichever rows step beside it.
class PreparedLstmStep {
 public:
  /// Nothing when a weight is not float32, or the weights do not fit an LSTM over inputs of
  /// width `inputs` (lstm_single_step then runs, and reports it).
  static std::optional<PreparedLstmStep> prepare(const std::vector<at::Tensor>& parameters, std::int64_t inputs);

  /// `input` [B, inputs], `h` and `c` [layers, B, H]: the new (h, c), each [layers, B, H].
  std::pair<at::Tensor, at::Tensor> operator()(const at::Tensor& input, const at::Tensor& h, const at::Tensor& c) const;

 private:
  struct Layer {
    RowProducts input;      // weight_ih and bias_ih
    RowProducts recurrent;  // weight_hh and bias_hh
  };
  std::vector<Layer> layers_;
};

}  // namespace velmora::detail
