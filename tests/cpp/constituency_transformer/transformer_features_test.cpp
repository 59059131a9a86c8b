// A constituency bundle with a transformer encoder (the tiny compiled test package): its word
// vectors join the features, with the encoder's endpoint rows exactly when the bundle uses
// sentence boundary vectors, and the trees agree with the PyTorch reference.

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "constituency/model_loading.hpp"
#include "support/test_data.hpp"
#include "velmora/constituency.hpp"
#include "velmora/json.hpp"

namespace {

namespace fs = std::filesystem;

class TransformerFeatures : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() { at::set_num_threads(1); }
  void SetUp() override {
    ASSERT_TRUE(velmora::testing::SuiteTestData::complete("constituency_transformer"))
        << "writing the constituency transformer test data failed";
  }
  static fs::path root() { return velmora::testing::SuiteTestData::dir("constituency_transformer"); }
};

TEST_P(TransformerFeatures, TreesMatchTheReference) {
  const fs::path folder = root() / GetParam();
  const velmora::ConstituencyPlan plan(folder / "bundle", false);
  const auto model = velmora::detail::load_constituency_model(folder / "bundle", false);
  EXPECT_TRUE(model->has_transformer);
  const velmora::detail::JsonValue expected = velmora::detail::load_json(folder / "expected.json");
  for (const auto& entry : expected.as_array("")) {
    std::vector<std::string> words;
    std::vector<std::string> tags;
    for (const auto& word : entry.at("words", "").as_array("")) words.push_back(word.as_string(""));
    for (const auto& tag : entry.at("tags", "").as_array("")) tags.push_back(tag.as_string(""));
    if (entry.at("margin", "").as_number("") < 1e-4) continue;  // a genuine near-tie
    ASSERT_FALSE(entry.at("tree", "").is_null()) << words[0];
    EXPECT_EQ(plan.parse(words, tags).to_string(), entry.at("tree", "").as_string("")) << words[0];
  }
}

INSTANTIATE_TEST_SUITE_P(Boundaries, TransformerFeatures, ::testing::Values("none", "everything"));

}  // namespace
