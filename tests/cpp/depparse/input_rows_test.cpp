// The parser's input rows: widths, the folding of repeated question and exclamation marks,
// refusals of unusable words, and how sentences are grouped for batched encoding.

#include <c10/core/InferenceMode.h>
#include <gtest/gtest.h>

#include "depparse/test_data.hpp"
#include "depparse/model_state.hpp"

namespace {

using depparse_test::TestData;
using velmora::DepparseWord;

// Equal up to the rounding of matrix products, which may treat rows of one batch differently.
bool same_row(const at::Tensor& a, const at::Tensor& b) { return at::allclose(a, b, 1e-6, 1e-6); }

class DepparseInputRows : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestData::complete()) GTEST_FAIL() << "depparse test data were not written";
    model_ = velmora::detail::load_depparse_model(TestData::bundle("plain"), false);
  }
  at::Tensor rows(const std::vector<DepparseWord>& words) const {
    c10::InferenceMode inference;
    return velmora::detail::depparse_embed_words(*model_, words, nullptr, nullptr);
  }
  static DepparseWord punctuation(std::string text) { return {std::move(text), "?", "PUNCT", ".", std::nullopt}; }

  std::unique_ptr<velmora::DepparsePlan::Impl> model_;
};

TEST_F(DepparseInputRows, SentenceGivesARootRowAndOneRowPerWord) {
  const at::Tensor input = rows({{"dog", "dog", "NOUN", "NN", {}}, {"saw", "see", "VERB", "VBD", {}}});
  // Pretrained 5, word 6, lemma 6, POS 4 twice, character 5.
  EXPECT_EQ(input.sizes(), (at::IntArrayRef{1, 3, 30}));
  // The POS embedding fills the feature slot a second time.
  EXPECT_TRUE(at::equal(input[0].narrow(1, 17, 4), input[0].narrow(1, 21, 4)));
}

TEST_F(DepparseInputRows, EqualWordsGetEqualRowsWhereverTheyStand) {
  const DepparseWord cat{"cat", "cat", "NOUN", "NN", {}};
  const at::Tensor input = rows({cat, {"dog", "dog", "NOUN", "NN", {}}, cat});
  EXPECT_TRUE(same_row(input[0][1], input[0][3]));
  EXPECT_FALSE(same_row(input[0][1], input[0][2]));
}

TEST_F(DepparseInputRows, RepeatedQuestionAndExclamationMarksFoldToTheFirstMarksKind) {
  const std::vector<std::tuple<std::string, std::string, bool>> cases{
      {"??", "?", true},
      {"?!", "?", true},
      {"\uFF1F\uFF1F", "?", true},
      {"\u2047?", "?", true},
      {"!?", "!", true},
      {"\uFF01\uFF1F", "!", true},
      {"\u203C!", "!", true},
      {"\uFF1F", "?", false},
      {"\u00BF?", "?", false},
      {"?a", "?", false},
      {"!?", "?", false},
  };
  for (const auto& [text, folded, equal] : cases) {
    const at::Tensor input = rows({punctuation(text), punctuation(folded)});
    EXPECT_EQ(same_row(input[0][1], input[0][2]), equal) << text << " against " << folded;
  }
}

TEST_F(DepparseInputRows, UnusableWordsAreRefused) {
  EXPECT_THROW(rows({{"", "x", "NOUN", "NN", {}}}), velmora::DepparseModelError);
  EXPECT_THROW(rows({{"\xC3", "x", "NOUN", "NN", {}}}), std::invalid_argument);
}

TEST(DepparseGrouping, SentencesAreGroupedLongestFirstUnderThePaddedRowBudget) {
  velmora::DepparsePlan::Impl model;
  const std::vector<std::tuple<std::int64_t, std::vector<std::int64_t>, std::vector<std::vector<std::size_t>>>> cases{
      {5000, {3000, 2999, 1000, 10}, {{0}, {1}, {2, 3}}},
      {10, {4, 4, 4, 3}, {{0, 1}, {2, 3}}},
      {5000, {4, 6, 6, 3}, {{1, 2, 0, 3}}},
      {5, {7, 0, 2}, {{0}, {2}}},
      {1, {2, 2}, {{0}, {1}}},
      {5000, {0, 0}, {}},
  };
  for (const auto& [budget, lengths, groups] : cases) {
    model.batch_size = budget;
    EXPECT_EQ(velmora::detail::group_by_length(lengths, velmora::detail::depparse_grouping(model)), groups);
  }
}

}  // namespace
