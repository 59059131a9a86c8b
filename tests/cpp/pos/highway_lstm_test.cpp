// The highway BiLSTM stack agrees with the PyTorch reference sentence by sentence, batched or
// not, and groups sentences by length under a sentence cap and a padded-row budget.

#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <c10/core/InferenceMode.h>

#include <string>
#include <vector>

#include "models/highway_lstm.hpp"
#include "models/string_hash.hpp"
#include "models/tensor_view.hpp"
#include "pos/test_support.hpp"
#include "support/raw_tensor.hpp"
#include "velmora/model_bundle.hpp"

namespace {

using velmora::detail::group_by_length;
using velmora::detail::HighwayGrouping;
using velmora::detail::HighwayLstmLayer;

constexpr std::size_t kSentences = 7;  // HIGHWAY_LENGTHS of the writer

struct HighwayCase {
  std::shared_ptr<velmora::ModelBundle> bundle;
  velmora::detail::StringMap<at::Tensor> tensors;
  std::vector<HighwayLstmLayer> layers;
  std::vector<at::Tensor> inputs;
  std::vector<at::Tensor> outputs;
};

const HighwayCase& highway_case() {
  static const HighwayCase loaded = [] {
    HighwayCase data;
    const std::filesystem::path dir = pos_test::data_dir() / "highway";
    data.bundle = std::make_shared<velmora::ModelBundle>(dir / "bundle", false);
    for (const velmora::TensorDescriptor& descriptor : data.bundle->tensors()) {
      data.tensors.emplace(descriptor.name,
                           velmora::detail::bundle_tensor_view<velmora::ModelBundleError>(*data.bundle, descriptor));
    }
    auto weight = [&](const std::string& name) -> const at::Tensor& { return data.tensors.at(name); };
    data.layers = velmora::detail::bind_highway_lstm_layers(weight, "stack", 2);
    for (std::size_t i = 0; i < kSentences; ++i) {
      data.inputs.push_back(velmora::testing::read_raw_tensor(dir / ("input_" + std::to_string(i) + ".bin")));
      data.outputs.push_back(velmora::testing::read_raw_tensor(dir / ("output_" + std::to_string(i) + ".bin")));
    }
    return data;
  }();
  return loaded;
}

void expect_close(const at::Tensor& actual, const at::Tensor& expected, const std::string& what) {
  ASSERT_TRUE(actual.defined()) << what;
  ASSERT_EQ(actual.sizes(), expected.sizes()) << what;
  EXPECT_TRUE(at::allclose(actual, expected, 1e-5, 1e-5))
      << what << ": largest difference " << (actual - expected).abs().max().item<double>();
}

TEST(HighwayLstm, OneSentenceMatchesTheReference) {
  POS_REQUIRE_TEST_DATA();
  const HighwayCase& data = highway_case();
  c10::InferenceMode guard;
  for (std::size_t i = 0; i < kSentences; ++i) {
    const at::Tensor rows = velmora::detail::highway_lstm_forward(data.layers, data.inputs[i].unsqueeze(0));
    expect_close(rows.squeeze(0), data.outputs[i], "sentence " + std::to_string(i));
  }
}

TEST(HighwayLstm, PackedGroupsMatchTheReferenceUnderEveryGrouping) {
  POS_REQUIRE_TEST_DATA();
  const HighwayCase& data = highway_case();
  c10::InferenceMode guard;
  const std::vector<HighwayGrouping> groupings = {{}, {1, 5000}, {3, 5000}, {250, 10}, {2, 9}, {250, 1}};
  for (const HighwayGrouping& grouping : groupings) {
    const std::vector<at::Tensor> rows =
        velmora::detail::highway_lstm_forward_packed(data.layers, data.inputs, grouping);
    ASSERT_EQ(rows.size(), kSentences);
    for (std::size_t i = 0; i < kSentences; ++i) {
      expect_close(rows[i], data.outputs[i],
                   "sentence " + std::to_string(i) + " with at most " + std::to_string(grouping.max_sequences) +
                       " sentences and " + std::to_string(grouping.max_padded_rows) + " rows");
    }
  }
}

TEST(HighwayLstm, TheTensorLibraryLstmServesWeightsThatCannotBePrepared) {
  POS_REQUIRE_TEST_DATA();
  const HighwayCase& data = highway_case();
  ASSERT_TRUE(data.layers[0].prepared) << "float32 weights are prepared for fast inference";
  std::vector<HighwayLstmLayer> plain = data.layers;
  for (HighwayLstmLayer& layer : plain) layer.prepared = nullptr;
  c10::InferenceMode guard;
  const std::vector<at::Tensor> packed = velmora::detail::highway_lstm_forward_packed(plain, data.inputs, {3, 12});
  for (std::size_t i = 0; i < kSentences; ++i) {
    expect_close(velmora::detail::highway_lstm_forward(plain, data.inputs[i].unsqueeze(0)).squeeze(0), data.outputs[i],
                 "sentence " + std::to_string(i) + " alone");
    expect_close(packed[i], data.outputs[i], "sentence " + std::to_string(i) + " packed");
  }
  // Double weights are never prepared.
  std::vector<at::Tensor> doubles;
  for (const at::Tensor& weight : data.layers[0].lstm_weights) doubles.push_back(weight.to(at::kDouble));
  EXPECT_FALSE(velmora::detail::prepare_inference_lstm(doubles, true));
  EXPECT_FALSE(velmora::detail::prepare_inference_lstm({doubles[1].to(at::kFloat)}, true)) << "a misfit list";
}

TEST(HighwayLstm, SkippedSentencesStayUndefinedAndRunNothing) {
  POS_REQUIRE_TEST_DATA();
  const HighwayCase& data = highway_case();
  c10::InferenceMode guard;
  EXPECT_TRUE(velmora::detail::highway_lstm_forward_packed(data.layers, {}, {}).empty());
  const std::vector<at::Tensor> none =
      velmora::detail::highway_lstm_forward_packed(data.layers, {at::Tensor(), at::Tensor()}, {});
  ASSERT_EQ(none.size(), 2u);
  EXPECT_FALSE(none[0].defined());
  EXPECT_FALSE(none[1].defined());
  const std::vector<at::Tensor> mixed =
      velmora::detail::highway_lstm_forward_packed(data.layers, {at::Tensor(), data.inputs[1], at::Tensor()}, {});
  EXPECT_FALSE(mixed[0].defined());
  expect_close(mixed[1], data.outputs[1], "the only sentence");
  EXPECT_FALSE(mixed[2].defined());
}

TEST(HighwayLstm, LayersReadTheirOwnRowsOfTheInitialStates) {
  POS_REQUIRE_TEST_DATA();
  const HighwayCase& data = highway_case();
  const at::Tensor& h_init = data.tensors.at("stack_h_init");
  const at::Tensor& c_init = data.tensors.at("stack_c_init");
  ASSERT_EQ(data.layers.size(), 2u);
  EXPECT_TRUE(data.layers[1].initial_state[0].equal(h_init.narrow(0, 2, 2)));
  EXPECT_TRUE(data.layers[1].initial_state[1].equal(c_init.narrow(0, 2, 2)));
  EXPECT_EQ(data.layers[1].initial_state[0].data_ptr(), h_init.narrow(0, 2, 2).data_ptr()) << "a view, not a copy";
  EXPECT_EQ(data.layers[1].lstm_weights[4].data_ptr(),
            data.tensors.at("stack.lstm.1.lstm.weight_ih_l0_reverse").data_ptr());
}

struct GroupingCase {
  std::string name;
  std::vector<std::int64_t> lengths;
  HighwayGrouping grouping;
  std::vector<std::vector<std::size_t>> groups;
};

TEST(HighwayLstmGrouping, CutsLengthSortedSentencesUnderTheBudget) {
  const std::vector<GroupingCase> cases = {
      {"equal lengths keep input order", {3, 5, 5, 2}, {250, 5000}, {{1, 2, 0, 3}}},
      {"sentence cap of one", {3, 5, 5, 2}, {1, 5000}, {{1}, {2}, {0}, {3}}},
      {"padded budget counts the longest", {4, 4, 4, 3}, {250, 10}, {{0, 1}, {2, 3}}},
      {"a sentence over the budget stands alone", {20, 3, 2}, {250, 10}, {{0}, {1, 2}}},
      {"parser groups by padded rows only", {3000, 2999, 1000, 10}, {}, {{0, 1, 2, 3}}},
      {"parser budget of 5000 rows", {3000, 2999, 1000, 10}, {HighwayGrouping{}.max_sequences, 5000},
       {{0}, {1}, {2, 3}}},
      {"empty sentences are skipped", {0, 2, 0, 1}, {250, 5000}, {{1, 3}}},
      {"only empty sentences", {0, 0}, {250, 5000}, {}},
      {"no sentences", {}, {250, 5000}, {}},
  };
  for (const GroupingCase& test : cases) {
    EXPECT_EQ(group_by_length(test.lengths, test.grouping), test.groups) << test.name;
  }
}

}  // namespace
