// The small LSTM helpers compute what at::lstm computes: one step of a stacked LSTM from given
// states, and a stacked, optionally bidirectional LSTM over one sequence; mismatched parameter
// shapes are refused instead of broadcast.

#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <c10/core/InferenceMode.h>

#include <vector>

#include "models/small_lstm.hpp"

namespace {

std::vector<at::Tensor> random_parameters(std::int64_t layers, std::int64_t directions, std::int64_t input,
                                          std::int64_t hidden) {
  std::vector<at::Tensor> parameters;
  for (std::int64_t layer = 0; layer < layers; ++layer) {
    for (std::int64_t direction = 0; direction < directions; ++direction) {
      const std::int64_t width = layer == 0 ? input : directions * hidden;
      parameters.push_back(at::randn({4 * hidden, width}) * 0.5);
      parameters.push_back(at::randn({4 * hidden, hidden}) * 0.5);
      parameters.push_back(at::randn({4 * hidden}) * 0.5);
      parameters.push_back(at::randn({4 * hidden}) * 0.5);
    }
  }
  return parameters;
}

TEST(SmallLstm, SingleStepMatchesTheLstmOperator) {
  c10::InferenceMode guard(true);
  at::manual_seed(3);
  for (const std::int64_t layers : {1, 3}) {
    const auto parameters = random_parameters(layers, 1, 7, 5);
    const at::Tensor input = at::randn({7});
    const at::Tensor h = at::randn({layers, 5});
    const at::Tensor c = at::randn({layers, 5});
    const auto [hy, cy] = velmora::detail::lstm_single_step(parameters, input, h, c);
    const auto [output, h_ref, c_ref] = at::lstm(input.view({1, 1, -1}), {h.unsqueeze(1), c.unsqueeze(1)}, parameters,
                                                 true, layers, 0.0, false, false, false);
    EXPECT_TRUE(at::allclose(hy, h_ref.squeeze(1), 1e-5, 1e-6)) << layers;
    EXPECT_TRUE(at::allclose(cy, c_ref.squeeze(1), 1e-5, 1e-6)) << layers;
    EXPECT_TRUE(at::allclose(hy[-1], output.view({-1}), 1e-5, 1e-6)) << layers;
  }
}

TEST(SmallLstm, SequenceMatchesTheLstmOperator) {
  c10::InferenceMode guard(true);
  at::manual_seed(4);
  for (const bool bidirectional : {false, true}) {
    for (const std::int64_t steps : {1, 6}) {
      const std::int64_t directions = bidirectional ? 2 : 1;
      const auto parameters = random_parameters(2, directions, 4, 3);
      const at::Tensor input = at::randn({steps, 4});
      const at::Tensor h0 = at::randn({2 * directions, 3});
      const at::Tensor c0 = at::randn({2 * directions, 3});
      const at::Tensor output = velmora::detail::lstm_sequence(parameters, input, 2, bidirectional, h0, c0);
      const at::Tensor expected = std::get<0>(at::lstm(input.unsqueeze(1), {h0.unsqueeze(1), c0.unsqueeze(1)},
                                                       parameters, true, 2, 0.0, false, bidirectional, false));
      EXPECT_TRUE(at::allclose(output, expected.squeeze(1), 1e-5, 1e-6)) << bidirectional << " " << steps;
    }
  }
}

TEST(SmallLstm, RefusesABiasOfAnotherLength) {
  c10::InferenceMode guard(true);
  auto parameters = random_parameters(1, 1, 4, 3);
  parameters[3] = at::zeros({1});  // would broadcast over all gates
  EXPECT_THROW(velmora::detail::lstm_single_step(parameters, at::randn({4}), at::zeros({1, 3}), at::zeros({1, 3})),
               c10::Error);
  EXPECT_THROW(velmora::detail::lstm_sequence(parameters, at::randn({2, 4}), 1, false, at::zeros({1, 3}),
                                              at::zeros({1, 3})),
               c10::Error);
}

}  // namespace
