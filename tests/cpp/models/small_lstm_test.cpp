// The small LSTM helpers compute what at::lstm computes: one step of a stacked LSTM from given
// states, and a stacked, optionally bidirectional LSTM over one sequence; mismatched parameter
// shapes are refused instead of broadcast. The prepared products and steps over rows agree with
// the operators, and give each row the same bits whichever rows run beside it.

#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <c10/core/InferenceMode.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "models/row_products.hpp"
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

TEST(RowProducts, MatchTheLinearOperatorAndGiveEachRowTheSameBitsInAnyGroup) {
  c10::InferenceMode guard(true);
  at::manual_seed(5);
  // Outputs below, at and across a panel; with and without a bias.
  for (const auto& [outputs, inputs, with_bias] : {std::tuple{1, 3, true}, std::tuple{64, 17, false},
                                                    std::tuple{200, 300, true}}) {
    const at::Tensor weight = at::randn({outputs, inputs});
    const at::Tensor bias = with_bias ? at::randn({outputs}) : at::Tensor();
    const velmora::detail::RowProducts products(weight, bias);
    const at::Tensor rows = at::randn({9, inputs});
    const at::Tensor all = products(rows);
    EXPECT_TRUE(at::allclose(all, at::linear(rows, weight, bias), 1e-4, 1e-5)) << outputs;
    for (const std::int64_t count : {1, 2, 3, 4, 5}) {
      EXPECT_TRUE(at::equal(products(rows.narrow(0, 9 - count, count)), all.narrow(0, 9 - count, count)))
          << outputs << " " << count;
    }
  }
  EXPECT_THROW(velmora::detail::RowProducts(at::randn({4, 3}), at::randn({3})), c10::Error);
  EXPECT_THROW(velmora::detail::RowProducts(at::randn({4, 3}), {})(at::randn({2, 4})), c10::Error);
}

// Each output is the bias, then one fused multiply-add per input in input order, whatever part
// of a block of outputs it falls in: the same bits as that scalar chain.
TEST(RowProducts, EachOutputIsTheFusedChainOverItsInputsInOrder) {
  if (!__builtin_cpu_supports("fma")) GTEST_SKIP() << "products without fused multiply-add round each step";
  c10::InferenceMode guard(true);
  at::manual_seed(6);
  for (const std::int64_t outputs : {1, 8, 16, 20, 33, 48, 64, 84, 97, 113, 128, 200}) {
    const at::Tensor weight = at::randn({outputs, 29});
    const at::Tensor bias = at::randn({outputs});
    const at::Tensor rows = at::randn({6, 29});
    const at::Tensor result = velmora::detail::RowProducts(weight, bias)(rows);
    for (std::int64_t r = 0; r < rows.size(0); ++r) {
      for (std::int64_t o = 0; o < outputs; ++o) {
        float sum = bias[o].item<float>();
        for (std::int64_t k = 0; k < weight.size(1); ++k) sum = std::fma(rows[r][k].item<float>(), weight[o][k].item<float>(), sum);
        ASSERT_EQ(result[r][o].item<float>(), sum) << outputs << " outputs, row " << r << ", output " << o;
      }
    }
  }
}

TEST(SmallLstm, PreparedStepOverRowsMatchesTheSingleStep) {
  c10::InferenceMode guard(true);
  at::manual_seed(6);
  const auto parameters = random_parameters(2, 1, 7, 32);
  const auto step = velmora::detail::PreparedLstmStep::prepare(parameters, 7);
  ASSERT_TRUE(step.has_value());
  EXPECT_FALSE(velmora::detail::PreparedLstmStep::prepare(parameters, 8).has_value());
  const at::Tensor input = at::randn({5, 7});
  const at::Tensor h = at::randn({2, 5, 32});
  const at::Tensor c = at::randn({2, 5, 32});
  const auto [hy, cy] = (*step)(input, h, c);
  const auto [h_ref, c_ref] = velmora::detail::lstm_single_step(parameters, input, h, c);
  EXPECT_TRUE(at::allclose(hy, h_ref, 1e-5, 1e-6));
  EXPECT_TRUE(at::allclose(cy, c_ref, 1e-5, 1e-6));
  const auto [h_one, c_one] = (*step)(input.narrow(0, 2, 1), h.narrow(1, 2, 1), c.narrow(1, 2, 1));
  EXPECT_TRUE(at::equal(h_one, hy.narrow(1, 2, 1)));
  EXPECT_TRUE(at::equal(c_one, cy.narrow(1, 2, 1)));
}

}  // namespace
