// Loading depparse bundles: the supported profile, the runtime contract, vocabularies and the
// tensor contract, each refusal with its exact message.

#include <gtest/gtest.h>

#include "depparse/test_data.hpp"
#include "depparse/model_state.hpp"
#include "velmora/depparse.hpp"

namespace {

using depparse_test::TestData;

TEST(DepparseBundleLoading, EachCaseLoadsOrFailsWithItsMessage) {
  DEPPARSE_REQUIRE_TEST_DATA();
  const auto cases = velmora::detail::load_json(TestData::dir() / "loading" / "cases.json");
  ASSERT_GT(cases.as_object("").size(), 20u);
  for (const auto& [name, message] : cases.as_object("")) {
    const std::string expected = message.as_string("");
    try {
      velmora::DepparsePlan plan(TestData::dir() / "loading" / name, false);
      EXPECT_EQ(expected, "") << name << " loaded";
    } catch (const velmora::DepparseModelError& error) {
      EXPECT_EQ(error.what(), expected) << name;
    }
  }
}

TEST(DepparseBundleLoading, BatchSizeDefaultsTo5000WhenAbsentOrNull) {
  DEPPARSE_REQUIRE_TEST_DATA();
  for (const char* name : {"loads", "batch_size_null"}) {
    const auto model = velmora::detail::load_depparse_model(TestData::dir() / "loading" / name, false);
    EXPECT_EQ(model->batch_size, 5000) << name;
  }
  EXPECT_EQ(velmora::detail::load_depparse_model(TestData::bundle("charlm"), false)->batch_size, 12);
}

TEST(DepparseBundleLoading, WeightsAreViewsOfTheMappedBundle) {
  DEPPARSE_REQUIRE_TEST_DATA();
  const auto model = velmora::detail::load_depparse_model(TestData::bundle("plain"), true);
  const auto* data = model->bundle->tensor_data("word_emb.weight");
  EXPECT_EQ(static_cast<const void*>(velmora::detail::depparse_tensor(*model, "word_emb.weight").const_data_ptr()),
            static_cast<const void*>(data));
  ASSERT_EQ(model->layers.size(), 2u);
  // Layer 1's initial states are rows 2 and 3 of the stacked states, sharing their memory.
  const at::Tensor& h_init = velmora::detail::depparse_tensor(*model, "parserlstm_h_init");
  EXPECT_EQ(model->layers[1].initial_state[0].const_data_ptr(), h_init[2].const_data_ptr());
  EXPECT_EQ(model->layers[1].initial_state[0].size(0), 2);
  EXPECT_EQ(model->char_model.lstm_weights.size(), 4u);
  EXPECT_EQ(model->feature_count, 3u);
  EXPECT_TRUE(model->xpos_has_ignore);
  EXPECT_EQ(model->deprels.at(4), "nsubj");
}

TEST(DepparseBundleLoading, CompositeXposComponentsLoadInKeyOrder) {
  DEPPARSE_REQUIRE_TEST_DATA();
  const auto model = velmora::detail::load_depparse_model(TestData::bundle("composite"), false);
  EXPECT_TRUE(model->xpos_composite);
  EXPECT_EQ(model->xpos_separator, "|");
  ASSERT_EQ(model->xpos_components.size(), 3u);
  EXPECT_EQ(model->xpos_components[0].size(), 8u);
  EXPECT_EQ(model->xpos_components[1].size(), 6u);
  EXPECT_EQ(model->xpos_components[2].size(), 7u);
  EXPECT_TRUE(model->word_lower);
  EXPECT_FALSE(model->lemma_lower);
}

TEST(DepparseBundleLoading, MovedPlanKeepsItsBundle) {
  DEPPARSE_REQUIRE_TEST_DATA();
  velmora::DepparsePlan plan(TestData::bundle("plain"), false);
  velmora::DepparsePlan moved(std::move(plan));
  EXPECT_EQ(moved.bundle().processor(), "depparse");
  EXPECT_TRUE(moved.parse({}).empty());
}

}  // namespace
