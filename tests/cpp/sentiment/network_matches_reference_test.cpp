// The sentiment network against the PyTorch reference: the logits of single sentences and of
// padded batches, the pretrain vocabulary lookup of single words, and the padded batch length.

#include <c10/core/InferenceMode.h>
#include <gtest/gtest.h>

#include <string>

#include "sentiment/model_loading.hpp"
#include "sentiment/network.hpp"
#include "test_support.hpp"

namespace {

using velmora::detail::JsonValue;
using velmora::detail::SentimentWords;

std::vector<const SentimentWords*> pointers(const sentiment_test::Sentences& sentences) {
  std::vector<const SentimentWords*> batch;
  for (const SentimentWords& words : sentences) batch.push_back(&words);
  return batch;
}

class SentimentNetwork : public ::testing::TestWithParam<std::string> {};

TEST_P(SentimentNetwork, LogitsOfEveryBatchMatchTheReference) {
  sentiment_test::require_data();
  const auto state = velmora::detail::load_sentiment_model(sentiment_test::model_dir(GetParam()), false);
  const JsonValue expected = sentiment_test::expected_for(GetParam());
  c10::InferenceMode guard(true);
  std::size_t index = 0;
  for (const JsonValue& batch : expected.at("batches", "").as_array("")) {
    SCOPED_TRACE("batch " + std::to_string(index++));
    const sentiment_test::Sentences sentences = sentiment_test::read_sentences(batch.at("sentences", ""));
    const at::Tensor logits = velmora::detail::sentiment_logits(*state, pointers(sentences));
    const at::Tensor reference = sentiment_test::read_matrix(batch.at("logits", ""), state->num_classes);
    ASSERT_EQ(logits.sizes(), reference.sizes());
    EXPECT_EQ(logits.scalar_type(), state->weight("embedding.weight").scalar_type());
    const at::Tensor actual = logits.to(at::kDouble);
    EXPECT_TRUE(at::allclose(actual, reference, 1e-4, 1e-5))
        << "largest difference " << (actual - reference).abs().max().item<double>();
  }
}

TEST_P(SentimentNetwork, PretrainIdsOfSingleWordsMatchTheReference) {
  sentiment_test::require_data();
  const auto state = velmora::detail::load_sentiment_model(sentiment_test::model_dir(GetParam()), false);
  const JsonValue expected = sentiment_test::expected_for(GetParam());
  for (const JsonValue& lookup : expected.at("lookups", "").as_array("")) {
    const std::string& word = lookup.at("word", "").as_string("");
    EXPECT_EQ(velmora::detail::sentiment_pretrain_id(*state, word), lookup.at("id", "").as_integer("")) << word;
  }
}

TEST_P(SentimentNetwork, EmptyBatchGivesNoRows) {
  sentiment_test::require_data();
  const auto state = velmora::detail::load_sentiment_model(sentiment_test::model_dir(GetParam()), false);
  c10::InferenceMode guard(true);
  const at::Tensor logits = velmora::detail::sentiment_logits(*state, {});
  EXPECT_EQ(logits.sizes(), (at::IntArrayRef{0, state->num_classes}));
  EXPECT_EQ(logits.scalar_type(), state->weight("embedding.weight").scalar_type());
}

INSTANTIATE_TEST_SUITE_P(Models, SentimentNetwork, ::testing::ValuesIn(sentiment_test::model_names()),
                         [](const auto& info) { return info.param; });

TEST(SentimentPaddedLength, IsTheLongestSentenceAtLeastTheMinimumLengthAndTheTallestFilter) {
  sentiment_test::require_data();
  // Filters 3 and [2, 5]: minimum length 5 (a 2D filter's width counts), tallest filter 3.
  const auto wide = velmora::detail::load_sentiment_model(
      sentiment_test::data_dir() / "accepted" / "full_and_2d_filters", false);
  // One 2D filter [7, 2]: minimum length 2, but no position fits the filter below 7 words.
  const auto tall =
      velmora::detail::load_sentiment_model(sentiment_test::data_dir() / "accepted" / "tall_2d_filter", false);
  const SentimentWords one{"a"};
  const SentimentWords four{"a", "b", "c", "d"};
  const SentimentWords nine(9, "a");
  const SentimentWords none;
  struct Case {
    const velmora::SentimentPlan::Impl* state;
    std::vector<const SentimentWords*> batch;
    std::int64_t length;
  };
  const Case cases[] = {
      {wide.get(), {&one, &four}, 5}, {wide.get(), {&none}, 5}, {wide.get(), {&nine, &one}, 9},
      {tall.get(), {&one}, 7},        {tall.get(), {&nine}, 9},
  };
  for (const Case& c : cases) EXPECT_EQ(velmora::detail::sentiment_padded_length(*c.state, c.batch), c.length);
}

TEST(SentimentPaddedLength, FilterTallerThanTheMinimumLengthStillClassifiesShortSentences) {
  sentiment_test::require_data();
  const velmora::SentimentPlan plan(sentiment_test::data_dir() / "accepted" / "tall_2d_filter", false);
  const std::int64_t alone = plan.classify({"good"});
  EXPECT_GE(alone, 0);
  EXPECT_LT(alone, 3);
  EXPECT_EQ(plan.classify_many({{"good"}, {}, {"the", "movie"}}, 5000).size(), 3U);
}

}  // namespace
