// Classifying sentences: the batch driver's order and cuts, classes equal to the reference's for
// several word budgets, batches that cannot change a class, the budget check and ties.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "sentiment/batching.hpp"
#include "test_support.hpp"
#include "velmora/sentiment.hpp"

namespace {

using velmora::SentimentPlan;
using velmora::detail::JsonValue;
using Batches = std::vector<std::vector<std::size_t>>;

TEST(SentimentBatches, OrderLongestFirstAndCutByTheWordBudget) {
  struct Case {
    std::vector<std::size_t> lengths;
    std::size_t budget;
    Batches batches;
  };
  const Case cases[] = {
      {{}, 1, {}},
      {{3, 7, 7}, 10, {{1}, {2, 0}}},              // 7 + 7 exceeds the budget, 7 + 3 does not
      {{6000}, 5000, {{0}}},                       // a sentence above the budget runs alone
      {{3, 0, 0}, 3, {{0, 1, 2}}},                 // sentences without words never close a batch
      {{6000, 0}, 5000, {{0}, {1}}},               // ... but cannot join an overfull one
      {{2, 5, 2, 5, 2}, 4, {{1}, {3}, {0, 2}, {4}}},  // equal lengths keep their input order
      {{1, 1, 1}, 5000, {{0, 1, 2}}},
      {{4, 4}, 1, {{0}, {1}}},
  };
  for (const Case& c : cases) EXPECT_EQ(velmora::detail::sentiment_batches(c.lengths, c.budget), c.batches);
}

class SentimentClassification : public ::testing::TestWithParam<std::string> {};

TEST_P(SentimentClassification, ClassesMatchTheReferenceForEveryBudget) {
  sentiment_test::require_data();
  const SentimentPlan plan(sentiment_test::model_dir(GetParam()), false);
  const JsonValue expected = sentiment_test::expected_for(GetParam());
  for (const JsonValue& run : expected.at("classify", "").as_array("")) {
    const auto budget = static_cast<std::size_t>(run.at("budget", "").as_integer(""));
    SCOPED_TRACE("budget " + std::to_string(budget));
    EXPECT_EQ(plan.classify_many(sentiment_test::read_sentences(run.at("sentences", "")), budget),
              sentiment_test::read_integers(run.at("classes", "")));
  }
}

TEST_P(SentimentClassification, BatchesThatKeepThePaddedLengthGiveTheClassesOfSingleSentences) {
  sentiment_test::require_data();
  const SentimentPlan plan(sentiment_test::model_dir(GetParam()), false);
  const JsonValue expected = sentiment_test::expected_for(GetParam());
  const sentiment_test::Sentences sentences =
      sentiment_test::read_sentences(expected.at("classify", "").as_array("")[0].at("sentences", ""));
  std::vector<std::int64_t> one_by_one;
  for (const auto& words : sentences) one_by_one.push_back(plan.classify(words));
  // Budget 1 puts every sentence with words into a batch of its own.
  const std::vector<std::int64_t> alone = plan.classify_many(sentences, 1);
  for (std::size_t i = 0; i < sentences.size(); ++i) {
    if (!sentences[i].empty()) {
      EXPECT_EQ(alone[i], one_by_one[i]) << "sentence " << i;
    }
  }
  // Sentences of one length are padded alike, alone or together.
  sentiment_test::Sentences same_length;
  std::vector<std::int64_t> same_length_alone;
  for (std::size_t i = 0; i < sentences.size(); ++i) {
    if (sentences[i].size() == sentences[0].size()) {
      same_length.push_back(sentences[i]);
      same_length_alone.push_back(one_by_one[i]);
    }
  }
  for (int copy = 0; copy < 3; ++copy) {
    same_length.push_back(sentences[0]);
    same_length_alone.push_back(one_by_one[0]);
  }
  EXPECT_EQ(plan.classify_many(same_length, 5000), same_length_alone);
}

INSTANTIATE_TEST_SUITE_P(Models, SentimentClassification, ::testing::ValuesIn(sentiment_test::model_names()),
                         [](const auto& info) { return info.param; });

TEST(SentimentClassify, RefusesAZeroBudgetEvenForNoSentences) {
  sentiment_test::require_data();
  const SentimentPlan plan(sentiment_test::model_dir("plain"), false);
  for (const sentiment_test::Sentences& sentences : {sentiment_test::Sentences{}, sentiment_test::Sentences{{"a"}}}) {
    try {
      plan.classify_many(sentences, 0);
      ADD_FAILURE() << "a zero budget was accepted";
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), "sentiment batch_size must be positive");
    }
  }
  EXPECT_TRUE(plan.classify_many({}, 1).empty());
}

TEST(SentimentClassify, ClassifiesASentenceWithoutWordsFromPaddingAlone) {
  sentiment_test::require_data();
  const SentimentPlan plan(sentiment_test::model_dir("plain"), false);
  const std::int64_t empty = plan.classify({});
  EXPECT_GE(empty, 0);
  EXPECT_LT(empty, 3);
  EXPECT_EQ(plan.classify_many({{}, {}}, 5000), (std::vector<std::int64_t>{empty, empty}));
}

TEST(SentimentClassify, TiedLogitsGiveTheLowestClass) {
  sentiment_test::require_data();
  const SentimentPlan plan(sentiment_test::data_dir() / "accepted" / "tied_logits", false);
  EXPECT_EQ(plan.classify({"the", "movie"}), 1);
  EXPECT_EQ(plan.classify_many({{"good"}, {}, {"a", "b", "c", "d"}}, 2), (std::vector<std::int64_t>{1, 1, 1}));
}

}  // namespace
