#pragma once

// Gathers the weights of a stacked (bi)LSTM in the order at::lstm expects them: for each layer,
// weight_ih, weight_hh, bias_ih, bias_hh of the forward direction, then the same four of the
// reverse direction ("_reverse" suffix).

#include <ATen/ATen.h>

#include <string>
#include <string_view>
#include <vector>

namespace velmora::detail {

/// `weight(name)` returns the bound tensor of a full name such as "rnn.weight_ih_l0"; the
/// names are `prefix` followed by the parameter name.
template <class WeightLookup>
std::vector<at::Tensor> lstm_parameters(WeightLookup&& weight, std::string_view prefix, int layers,
                                        bool bidirectional, bool has_biases = true) {
  static constexpr std::string_view kWeights[] = {"weight_ih_l", "weight_hh_l"};
  static constexpr std::string_view kBiases[] = {"bias_ih_l", "bias_hh_l"};
  std::vector<at::Tensor> parameters;
  for (int layer = 0; layer < layers; ++layer) {
    for (int direction = 0; direction < (bidirectional ? 2 : 1); ++direction) {
      const std::string suffix = std::to_string(layer) + (direction == 1 ? "_reverse" : "");
      auto add = [&](std::string_view name) {
        parameters.push_back(weight(std::string(prefix) + std::string(name) + suffix));
      };
      for (std::string_view name : kWeights) add(name);
      if (has_biases) {
        for (std::string_view name : kBiases) add(name);
      }
    }
  }
  return parameters;
}

}  // namespace velmora::detail
