// Loading a sentiment bundle: every broken bundle is refused with its own error and message, the
// edges of the profile load with the expected state, and a loaded plan can be moved.

#include <gtest/gtest.h>

#include <string>

#include "sentiment/model_loading.hpp"
#include "test_support.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/sentiment.hpp"

namespace {

using velmora::SentimentPlan;
using velmora::detail::JsonValue;

// The error class that refused.json names for a case.
bool has_kind(const std::exception& error, const std::string& kind) {
  if (kind == "sentiment") return dynamic_cast<const velmora::SentimentModelError*>(&error) != nullptr;
  if (kind == "charlm") return dynamic_cast<const velmora::CharLMModelError*>(&error) != nullptr;
  // The bundle's own error, not one of the models' subclasses.
  if (kind == "bundle") {
    return typeid(error) == typeid(velmora::ModelBundleError);
  }
  return false;
}

TEST(SentimentBundleLoading, RefusesEachBrokenBundleWithItsOwnErrorAndMessage) {
  sentiment_test::require_data();
  const JsonValue cases = velmora::detail::load_json(sentiment_test::data_dir() / "refused.json");
  ASSERT_GT(cases.as_object("").size(), 50U);
  for (const auto& [name, expected] : cases.as_object("")) {
    SCOPED_TRACE(name);
    const std::string& kind = expected.as_array("")[0].as_string("");
    const std::string& message = expected.as_array("")[1].as_string("");
    try {
      SentimentPlan plan(sentiment_test::data_dir() / "refused" / name, false);
      ADD_FAILURE() << "loaded";
    } catch (const std::exception& error) {
      EXPECT_EQ(error.what(), message);
      EXPECT_TRUE(has_kind(error, kind)) << typeid(error).name();
    }
  }
}

TEST(SentimentBundleLoading, AcceptsTheEdgesOfTheProfileWithTheExpectedState) {
  sentiment_test::require_data();
  const JsonValue cases = velmora::detail::load_json(sentiment_test::data_dir() / "accepted.json");
  for (const auto& [name, expect] : cases.as_object("")) {
    SCOPED_TRACE(name);
    const auto state = velmora::detail::load_sentiment_model(sentiment_test::data_dir() / "accepted" / name, false);
    if (const JsonValue* value = expect.find("min_sentence_length")) {
      EXPECT_EQ(state->min_sentence_length, value->as_integer(""));
    }
    if (const JsonValue* value = expect.find("tallest_filter")) {
      EXPECT_EQ(state->tallest_filter, value->as_integer(""));
    }
    if (const JsonValue* value = expect.find("fc_layers")) {
      EXPECT_EQ(state->num_fc_layers, value->as_integer(""));
    }
    if (const JsonValue* value = expect.find("lower")) {
      EXPECT_EQ(state->lower, value->as_bool(""));
    }
    if (const JsonValue* value = expect.find("extra_words")) {
      EXPECT_EQ(static_cast<std::int64_t>(state->extra_ids.size()), value->as_integer(""));
    }
    if (const JsonValue* value = expect.find("pooled_width")) {
      EXPECT_EQ(state->weight("fc_layers.0.weight").size(1), value->as_integer(""));
    }
    if (const JsonValue* value = expect.find("filters")) {
      const auto& filters = value->as_array("");
      ASSERT_EQ(state->filters.size(), filters.size());
      for (std::size_t i = 0; i < filters.size(); ++i) {
        EXPECT_EQ(state->filters[i].height, filters[i].as_array("")[0].as_integer(""));
        const JsonValue& width = filters[i].as_array("")[1];
        EXPECT_EQ(state->filters[i].width.has_value(), !width.is_null());
        if (!width.is_null()) {
          EXPECT_EQ(*state->filters[i].width, width.as_integer(""));
        }
      }
    }
  }
}

TEST(SentimentBundleLoading, BindsEveryTensorOfTheBundleAndKeepsTheLabelsAndLstmWeights) {
  sentiment_test::require_data();
  const auto state = velmora::detail::load_sentiment_model(sentiment_test::model_dir("concat_bilstm"), false);
  EXPECT_EQ(state->tensors.size(), state->bundle->tensors().size());
  EXPECT_EQ(state->labels, (std::vector<std::string>{"negative", "neutral", "positive"}));
  ASSERT_EQ(state->lstm_weights.size(), 16U);
  EXPECT_TRUE(state->lstm_weights[4].is_same(state->weight("bilstm.weight_ih_l0_reverse")));
  EXPECT_TRUE(state->lstm_weights[11].is_same(state->weight("bilstm.bias_hh_l1")));
  EXPECT_EQ(state->extra_method, "CONCAT");
  EXPECT_FALSE(state->charlm_forward);
  EXPECT_FALSE(state->transformer);
}

TEST(SentimentBundleLoading, MovedPlanKeepsItsBundleAndClassifies) {
  sentiment_test::require_data();
  SentimentPlan plan(sentiment_test::model_dir("plain"), true);
  EXPECT_TRUE(plan.bundle().checksums_verified());
  EXPECT_EQ(plan.bundle().processor(), "sentiment");
  const std::int64_t before = plan.classify({"the", "movie"});
  SentimentPlan moved(std::move(plan));
  EXPECT_EQ(moved.classify({"the", "movie"}), before);
  SentimentPlan assigned(sentiment_test::model_dir("concat_bilstm"), false);
  assigned = std::move(moved);
  EXPECT_EQ(assigned.classify({"the", "movie"}), before);
  EXPECT_EQ(assigned.bundle().path(), std::filesystem::absolute(sentiment_test::model_dir("plain")));
}

}  // namespace
