#include "models/small_lstm.hpp"

#include <c10/util/Exception.h>

#include <tuple>

namespace velmora::detail {
namespace {

// The four tensors of one layer and direction must fit together: a bias of another length would
// otherwise broadcast silently. Input widths are checked by the projections themselves.
bool layer_fits(const at::Tensor* weights) {
  const at::Tensor& weight_hh = weights[1];
  return weight_hh.dim() == 2 && weight_hh.size(0) == 4 * weight_hh.size(1) && weights[0].dim() == 2 &&
         weights[0].size(0) == weight_hh.size(0) && weights[2].dim() == 1 && weights[2].size(0) == weight_hh.size(0) &&
         weights[3].dim() == 1 && weights[3].size(0) == weight_hh.size(0);
}

void check_layer(const at::Tensor* weights) {
  TORCH_CHECK(layer_fits(weights), "LSTM parameters of one layer disagree in shape");
}

// One LSTM cell from its gates (both projections and biases summed), in the order i, f, g, o.
std::pair<at::Tensor, at::Tensor> cell_from_gates(const at::Tensor& gates, const at::Tensor& c) {
  const std::vector<at::Tensor> chunks = gates.unsafe_chunk(4, -1);
  const at::Tensor cell_state = at::sigmoid(chunks[1]).mul_(c).add_(at::sigmoid(chunks[0]).mul_(at::tanh(chunks[2])));
  at::Tensor hidden = at::sigmoid(chunks[3]).mul_(at::tanh(cell_state));
  return {std::move(hidden), cell_state};
}

// One LSTM cell: gates from the precomputed input projection (bias_ih included) and the
// recurrent projection.
std::pair<at::Tensor, at::Tensor> cell(const at::Tensor& projected_input, const at::Tensor& weight_hh,
                                       const at::Tensor& bias_hh, const at::Tensor& h, const at::Tensor& c) {
  return cell_from_gates(at::linear(h, weight_hh, bias_hh).add_(projected_input), c);
}

}  // namespace

std::pair<at::Tensor, at::Tensor> lstm_single_step(const std::vector<at::Tensor>& parameters,
                                                   const at::Tensor& input, const at::Tensor& h,
                                                   const at::Tensor& c) {
  const std::int64_t layers = h.size(0);
  std::vector<at::Tensor> hs;
  std::vector<at::Tensor> cs;
  hs.reserve(static_cast<std::size_t>(layers));
  cs.reserve(static_cast<std::size_t>(layers));
  at::Tensor x = input;
  for (std::int64_t layer = 0; layer < layers; ++layer) {
    const at::Tensor* weights = &parameters[static_cast<std::size_t>(4 * layer)];
    check_layer(weights);
    auto [hidden, cell_state] = cell(at::linear(x, weights[0], weights[2]), weights[1], weights[3], h[layer], c[layer]);
    x = hidden;
    hs.push_back(std::move(hidden));
    cs.push_back(std::move(cell_state));
  }
  return {at::stack(hs), at::stack(cs)};
}

at::Tensor lstm_sequence(const std::vector<at::Tensor>& parameters, const at::Tensor& input, std::int64_t layers,
                         bool bidirectional, const at::Tensor& h0, const at::Tensor& c0) {
  const std::int64_t directions = bidirectional ? 2 : 1;
  const std::int64_t steps = input.size(0);
  at::Tensor x = input;
  for (std::int64_t layer = 0; layer < layers; ++layer) {
    std::vector<at::Tensor> outputs;
    for (std::int64_t direction = 0; direction < directions; ++direction) {
      const std::int64_t slot = layer * directions + direction;
      const at::Tensor* weights = &parameters[static_cast<std::size_t>(4 * slot)];
      check_layer(weights);
      const std::int64_t hidden_size = weights[1].size(1);
      // All input projections at once; only the recurrence runs step by step.
      const at::Tensor projected = at::linear(x, weights[0], weights[2]);
      at::Tensor h = h0[slot];
      at::Tensor c = c0[slot];
      std::vector<at::Tensor> states(static_cast<std::size_t>(steps));
      for (std::int64_t k = 0; k < steps; ++k) {
        const std::int64_t t = direction == 0 ? k : steps - 1 - k;
        std::tie(h, c) = cell(projected[t], weights[1], weights[3], h, c);
        states[static_cast<std::size_t>(t)] = h;
      }
      outputs.push_back(steps > 0 ? at::stack(states) : at::empty({0, hidden_size}, projected.options()));
    }
    x = directions == 1 ? outputs.front() : at::cat(outputs, 1);
  }
  return x;
}

std::optional<PreparedLstmStep> PreparedLstmStep::prepare(const std::vector<at::Tensor>& parameters,
                                                          std::int64_t inputs) {
  if (parameters.empty() || parameters.size() % 4 != 0) return std::nullopt;
  PreparedLstmStep step;
  for (std::size_t first = 0; first < parameters.size(); first += 4) {
    const at::Tensor* weights = &parameters[first];
    for (std::size_t k = 0; k < 4; ++k) {
      if (weights[k].scalar_type() != at::kFloat) return std::nullopt;
    }
    if (!layer_fits(weights) || weights[0].size(1) != inputs) return std::nullopt;
    step.layers_.push_back({RowProducts(weights[0], weights[2]), RowProducts(weights[1], weights[3])});
    inputs = weights[1].size(1);
  }
  return step;
}

std::pair<at::Tensor, at::Tensor> PreparedLstmStep::operator()(const at::Tensor& input, const at::Tensor& h,
                                                               const at::Tensor& c) const {
  std::vector<at::Tensor> hs;
  std::vector<at::Tensor> cs;
  hs.reserve(layers_.size());
  cs.reserve(layers_.size());
  at::Tensor x = input;
  for (std::size_t layer = 0; layer < layers_.size(); ++layer) {
    const auto index = static_cast<std::int64_t>(layer);
    auto [hidden, cell_state] =
        cell_from_gates(layers_[layer].recurrent(h[index]).add_(layers_[layer].input(x)), c[index]);
    x = hidden;
    hs.push_back(std::move(hidden));
    cs.push_back(std::move(cell_state));
  }
  return {at::stack(hs), at::stack(cs)};
}

}  // namespace velmora::detail
