#pragma once

// Stacked LSTMs over one short sequence or one single step, as plain tensor operations with
// at::lstm's semantics (biases on, no dropout, inference only). For inputs this small the
// operator's fixed costs, and any hand-off to the intra-op thread pool, would outweigh the
// arithmetic many times over; these run it inline.

#include <ATen/ATen.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace velmora::detail {

/// One time step of a stacked unidirectional LSTM. `parameters` in at::lstm order (weight_ih,
/// weight_hh, bias_ih, bias_hh per layer), `input` a vector [I], `h` and `c` [layers, H].
/// Returns the new (h, c), each [layers, H]; the step's output is the last row of h.
std::pair<at::Tensor, at::Tensor> lstm_single_step(const std::vector<at::Tensor>& parameters,
                                                   const at::Tensor& input, const at::Tensor& h,
                                                   const at::Tensor& c);

/// A stacked, optionally bidirectional LSTM over one sequence `input` [T, I] from the initial
/// states `h0` and `c0`, each [layers * directions, H] (at::lstm's order, batch dimension
/// dropped). Returns [T, directions * H], the forward half first.
at::Tensor lstm_sequence(const std::vector<at::Tensor>& parameters, const at::Tensor& input,
                         std::int64_t layers, bool bidirectional, const at::Tensor& h0,
                         const at::Tensor& c0);

}  // namespace velmora::detail
