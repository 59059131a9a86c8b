// The scorers' own checks: masks and encoded batches that do not fit their sentences are
// refused, and the probabilities they return are normalised with impossible self-arcs.

#include <c10/core/InferenceMode.h>
#include <gtest/gtest.h>

#include <functional>

#include "depparse/test_data.hpp"
#include "depparse/model_state.hpp"

namespace {

using depparse_test::TestData;
using velmora::DepparseWord;

TEST(DepparseScoring, MismatchedMasksAndBatchesAreRefused) {
  DEPPARSE_REQUIRE_TEST_DATA();
  const auto model = velmora::detail::load_depparse_model(TestData::bundle("plain"), false);
  c10::InferenceMode inference;
  const std::vector<DepparseWord> words{{"dog", "dog", "NOUN", "NN", {}}, {"runs", "run", "VERB", "VBZ", {}}};
  const at::Tensor encoded = velmora::detail::depparse_highway_lstm_forward(*model, words, nullptr, nullptr);
  const at::Tensor wide_mask = at::ones({1, 4}, at::kBool);
  const at::Tensor flat_mask = at::ones({3}, at::kBool);
  const std::vector<std::pair<std::function<void()>, std::string>> cases{
      {[&] { velmora::detail::depparse_scores(*model, encoded, &wide_mask); },
       "depparse padding mask does not match encoded input"},
      {[&] { velmora::detail::depparse_scores(*model, encoded, &flat_mask); },
       "depparse padding mask does not match encoded input"},
      {[&] { velmora::detail::depparse_score_batch(*model, {encoded, encoded}, {words}); },
       "depparse encoded and sentence batches must have equal lengths"},
      {[&] { velmora::detail::depparse_score_batch(*model, {encoded.narrow(1, 0, 2)}, {words}); },
       "depparse encoded sentence length does not match its words"},
      {[&] { velmora::detail::depparse_score_batch(*model, {at::Tensor()}, {words}); },
       "depparse encoded sentence length does not match its words"},
  };
  for (const auto& [call, message] : cases) {
    try {
      call();
      ADD_FAILURE() << "accepted: " << message;
    } catch (const velmora::DepparseModelError& error) {
      EXPECT_EQ(error.what(), message);
    }
  }
  // Sentences without words are skipped, whatever their encoded entry holds.
  const auto skipped = velmora::detail::depparse_score_batch(*model, {at::Tensor(), encoded}, {{}, words});
  EXPECT_FALSE(skipped[0].first.defined());
  EXPECT_EQ(skipped[1].first.sizes(), (at::IntArrayRef{1, 3, 3}));
}

TEST(DepparseScoring, ScoresAreLogProbabilitiesWithoutSelfArcs) {
  DEPPARSE_REQUIRE_TEST_DATA();
  const auto model = velmora::detail::load_depparse_model(TestData::bundle("plain"), false);
  c10::InferenceMode inference;
  const std::vector<DepparseWord> words{{"the", "the", "DET", "DT", {}}, {"dog", "dog", "NOUN", "NN", {}},
                                        {"runs", "run", "VERB", "VBZ", {}}};
  const at::Tensor encoded = velmora::detail::depparse_highway_lstm_forward(*model, words, nullptr, nullptr);
  const auto [arcs, relations] = velmora::detail::depparse_scores(*model, encoded, nullptr);
  EXPECT_EQ(arcs.sizes(), (at::IntArrayRef{1, 4, 4}));
  EXPECT_EQ(relations.sizes(), (at::IntArrayRef{1, 4, 4, static_cast<std::int64_t>(model->deprels.size()) - 4}));
  EXPECT_TRUE(at::allclose(arcs.exp().sum(2), at::ones({1, 4})));
  EXPECT_TRUE(at::allclose(relations.exp().sum(3), at::ones({1, 4, 4})));
  EXPECT_TRUE(at::equal(arcs.diagonal(0, 1, 2).exp(), at::zeros({1, 4})));
}

}  // namespace
