// The native parser agrees with the PyTorch reference (tests/support/constituency_reference.py)
// on seeded sentences for three bundle profiles: the same first-step scores and the same tree,
// or the same error. A sentence whose reference chose between two legal transitions whose
// scores lie within 1e-4 is a genuine near-tie and only needs to parse.

#include <gtest/gtest.h>

#include <c10/core/InferenceMode.h>

#include <cmath>

#include "constituency/model_loading.hpp"
#include "constituency/network.hpp"
#include "test_support.hpp"
#include "velmora/constituency.hpp"

namespace {

using namespace constituency_test;

class ParsesMatchReference : public WithTestData, public ::testing::WithParamInterface<const char*> {};

TEST_P(ParsesMatchReference, SameTreesAndFirstScores) {
  const fs::path folder = data_dir() / "compare" / GetParam();
  const velmora::ConstituencyPlan plan(folder / "bundle", false);
  const auto model = velmora::detail::load_constituency_model(folder / "bundle", false);
  const velmora::detail::ConstituencyNetwork network(*model);
  const velmora::detail::JsonValue expected = velmora::detail::load_json(folder / "expected.json");

  std::size_t compared = 0;
  for (const auto& entry : expected.as_array("")) {
    const std::vector<std::string> words = strings(entry.at("words", ""));
    const std::vector<std::string> tags = strings(entry.at("tags", ""));
    std::string label;
    for (const std::string& word : words) label += word + " ";

    // First step: the scores of the start state.
    {
      c10::InferenceMode guard(true);
      velmora::detail::ParserState state;
      state.num_words = static_cast<std::int64_t>(words.size());
      state.word_vectors = network.word_vectors(words, tags);
      state.transition_stack.push_back(network.transition_sentinel());
      state.constituent_stack.push_back(network.constituent_sentinel());
      const std::vector<double> scores = network.score(state);
      const auto& reference = entry.at("first_scores", "").as_array("");
      ASSERT_EQ(scores.size(), reference.size()) << label;
      for (std::size_t i = 0; i < scores.size(); ++i) {
        EXPECT_NEAR(scores[i], reference[i].as_number(""), 1e-4) << label << "score " << i;
      }
    }

    const bool near_tie = entry.at("margin", "").as_number("") < 1e-4;
    const velmora::detail::JsonValue& tree = entry.at("tree", "");
    try {
      const std::string parsed = plan.parse(words, tags).to_string();
      if (!near_tie) {
        ASSERT_FALSE(tree.is_null()) << label << "reference failed with " << entry.at("error", "").as_string("");
        EXPECT_EQ(parsed, tree.as_string("")) << label;
        ++compared;
      }
    } catch (const velmora::ConstituencyModelError& error) {
      ASSERT_TRUE(tree.is_null()) << label << "native failed with " << error.what();
      EXPECT_EQ(error.what(), entry.at("error", "").as_string("")) << label;
      ++compared;
    }
  }
  EXPECT_GE(compared, expected.as_array("").size() - 2);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ParsesMatchReference, ::testing::Values("plain", "everything", "strict_unary"));

TEST_F(WithTestData, ParseManyEqualsOneParsePerSentence) {
  const velmora::ConstituencyPlan plan(compare_bundle("plain"), false);
  const std::vector<std::vector<std::string>> sentences = {{"the", "cat", "sat"}, {"New York"}, {"a", "dog", "ran"}};
  const std::vector<std::vector<std::string>> tags = {{"DT", "NN", "VBD"}, {"NNP"}, {"DT", "NN", "XX"}};
  const std::vector<velmora::ConstituencyTree> trees = plan.parse_many(sentences, tags);
  ASSERT_EQ(trees.size(), 3u);
  for (std::size_t i = 0; i < trees.size(); ++i) {
    EXPECT_EQ(trees[i].to_string(), plan.parse(sentences[i], tags[i]).to_string());
    EXPECT_EQ(trees[i].leaf_labels(), sentences[i]);
  }
  EXPECT_TRUE(plan.parse_many({}, {}).empty());
}

}  // namespace
