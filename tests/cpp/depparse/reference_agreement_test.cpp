// The parser against the PyTorch reference: scores, trees and relations of every test sentence,
// one sentence at a time and batched, for each bundle variant.

#include <c10/core/InferenceMode.h>
#include <gtest/gtest.h>

#include "depparse/test_data.hpp"
#include "depparse/model_state.hpp"
#include "support/raw_tensor.hpp"

namespace {

using depparse_test::TestData;
using velmora::DepparsePrediction;

class DepparseReference : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!TestData::complete()) GTEST_FAIL() << "depparse test data were not written";
    // The transformer bundle needs the compiled test encoder, which only the ctest fixture makes.
    if (!std::filesystem::exists(TestData::bundle(GetParam()))) GTEST_SKIP() << "no " << GetParam() << " bundle";
    model_ = velmora::detail::load_depparse_model(TestData::bundle(GetParam()), false);
    sentences_ = depparse_test::expected_sentences(GetParam());
  }

  at::Tensor reference_scores(std::size_t sentence, const char* kind) const {
    return velmora::testing::read_raw_tensor(TestData::dir() / "scores" /
                                             (GetParam() + "_" + std::to_string(sentence) + "_" + kind + ".bin"));
  }

  std::unique_ptr<velmora::DepparsePlan::Impl> model_;
  std::vector<depparse_test::ExpectedSentence> sentences_;
};

void expect_close_scores(const at::Tensor& native, const at::Tensor& reference, const std::string& what) {
  ASSERT_EQ(native.sizes(), reference.sizes()) << what;
  const at::Tensor finite = at::isfinite(reference);
  EXPECT_TRUE(at::equal(at::isfinite(native), finite)) << what;
  EXPECT_TRUE(at::allclose(native.masked_fill(~finite, 0), reference.masked_fill(~finite, 0), 1e-4, 1e-4)) << what;
}

TEST_P(DepparseReference, SentenceScoresMatchTheReference) {
  c10::InferenceMode inference;
  for (std::size_t s = 0; s < sentences_.size(); ++s) {
    if (sentences_[s].words.empty()) continue;
    const at::Tensor encoded = velmora::detail::depparse_highway_lstm_forward(*model_, sentences_[s].words, nullptr, nullptr);
    const auto [arcs, relations] = velmora::detail::depparse_scores(*model_, encoded, nullptr);
    expect_close_scores(arcs.squeeze(0), reference_scores(s, "arcs"), "arcs of sentence " + std::to_string(s));
    expect_close_scores(relations.squeeze(0), reference_scores(s, "relations"), "relations of sentence " + std::to_string(s));
  }
}

TEST_P(DepparseReference, DecodingTheReferenceScoresGivesTheReferencePredictions) {
  for (std::size_t s = 0; s < sentences_.size(); ++s) {
    if (sentences_[s].words.empty()) continue;
    at::Tensor arcs = reference_scores(s, "arcs").unsqueeze(0);
    at::Tensor relations = reference_scores(s, "relations").unsqueeze(0);
    EXPECT_EQ(velmora::detail::depparse_decode_sentence(*model_, sentences_[s].words, arcs, relations),
              sentences_[s].predictions)
        << "sentence " << s;
  }
}

TEST_P(DepparseReference, ParsedSentencesMatchTheReference) {
  for (std::size_t s = 0; s < sentences_.size(); ++s) {
    const std::vector<DepparsePrediction> predictions = velmora::detail::depparse_parse_sentence(*model_, sentences_[s].words);
    EXPECT_EQ(predictions, sentences_[s].predictions) << "sentence " << s;
  }
}

TEST_P(DepparseReference, BatchedParsingMatchesTheReference) {
  std::vector<std::vector<velmora::DepparseWord>> words;
  for (const auto& sentence : sentences_) words.push_back(sentence.words);
  const auto predictions = velmora::detail::depparse_parse_batch(*model_, words);
  ASSERT_EQ(predictions.size(), sentences_.size());
  for (std::size_t s = 0; s < sentences_.size(); ++s) {
    EXPECT_EQ(predictions[s], sentences_[s].predictions) << "sentence " << s;
  }
}

TEST_P(DepparseReference, BatchedEncodingAndScoringMatchSingleSentences) {
  std::vector<std::vector<velmora::DepparseWord>> words;
  for (const auto& sentence : sentences_) words.push_back(sentence.words);
  std::vector<at::Tensor> forward;
  std::vector<at::Tensor> backward;
  std::vector<std::vector<std::string>> texts;
  if (model_->charlm) {
    for (const auto& sentence : words) {
      texts.push_back({"\n"});
      for (const auto& word : sentence) texts.back().push_back(word.text);
    }
    forward = model_->forward_charlm->encode_many(texts);
    backward = model_->backward_charlm->encode_many(texts);
  }
  c10::InferenceMode inference;
  const auto encoded = velmora::detail::depparse_highway_lstm_forward_batch(*model_, words, forward, backward);
  const auto scores = velmora::detail::depparse_score_batch(*model_, encoded, words);
  for (std::size_t s = 0; s < words.size(); ++s) {
    if (words[s].empty()) {
      EXPECT_FALSE(encoded[s].defined());
      EXPECT_FALSE(scores[s].first.defined());
      continue;
    }
    const at::Tensor alone = velmora::detail::depparse_highway_lstm_forward(*model_, words[s], nullptr, nullptr);
    EXPECT_TRUE(at::allclose(encoded[s], alone, 1e-5, 1e-5)) << "sentence " << s;
    expect_close_scores(scores[s].first.squeeze(0), reference_scores(s, "arcs"), "batched arcs " + std::to_string(s));
    expect_close_scores(scores[s].second.squeeze(0), reference_scores(s, "relations"),
                        "batched relations " + std::to_string(s));
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, DepparseReference,
                         ::testing::Values("plain", "composite", "charlm", "one_sentence_groups", "transformer"),
                         [](const auto& info) { return info.param; });

}  // namespace
