// The CRF decoder and the BIOES repair on hand-made inputs, checked exactly.

#include <gtest/gtest.h>

#include <ATen/ATen.h>

#include <cmath>
#include <limits>

#include "ner/crf_decoding.hpp"
#include "velmora/errors.hpp"

namespace {

using velmora::detail::ner_viterbi_decode;
using velmora::detail::repair_bioes_tags;

at::Tensor matrix(std::vector<std::vector<float>> rows) {
  const auto columns = static_cast<std::int64_t>(rows.empty() ? 0 : rows[0].size());
  at::Tensor result = at::empty({static_cast<std::int64_t>(rows.size()), columns}, at::kFloat);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = 0; j < rows[i].size(); ++j) {
      result[static_cast<long>(i)][static_cast<long>(j)] = rows[i][j];
    }
  }
  return result;
}

TEST(ViterbiDecoding, TransitionsOutweighEmissionsAlongTheBestPath) {
  // Emissions alone pick 0, 0, 1; the transition 0 -> 1 is so good and 0 -> 0 so bad that the
  // best path alternates.
  const at::Tensor emissions = matrix({{2, 1}, {2, 1}, {0, 1}});
  const at::Tensor transitions = matrix({{-5, 3}, {3, -5}});
  EXPECT_EQ(ner_viterbi_decode(emissions, transitions), (std::vector<std::int64_t>{1, 0, 1}));
}

TEST(ViterbiDecoding, OneTokenIsTheArgmaxOfItsEmissions) {
  const at::Tensor transitions = matrix({{100, -100, 0}, {0, 0, 0}, {0, 0, 0}});
  EXPECT_EQ(ner_viterbi_decode(matrix({{0.5, 2, 1}}), transitions), std::vector<std::int64_t>{1});
}

TEST(ViterbiDecoding, TiesKeepTheLowerIndex) {
  // Every previous tag gives the same candidate, and the final scores tie as well.
  const at::Tensor emissions = matrix({{1, 1, 1}, {0, 0, 0}});
  const at::Tensor transitions = at::zeros({3, 3}, at::kFloat);
  EXPECT_EQ(ner_viterbi_decode(emissions, transitions), (std::vector<std::int64_t>{0, 0}));
  // Tag 2 as the best last tag ties with nothing; its back-pointer ties between 1 and 2.
  const at::Tensor later = matrix({{0, 4, 4}, {0, 0, 1}});
  EXPECT_EQ(ner_viterbi_decode(later, transitions), (std::vector<std::int64_t>{1, 2}));
}

TEST(ViterbiDecoding, NaNCandidatesNeverReplaceTheBest) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(ner_viterbi_decode(matrix({{1, nan, 3}}), at::zeros({3, 3})), std::vector<std::int64_t>{2});
  // A NaN first score keeps index 0 whatever follows.
  EXPECT_EQ(ner_viterbi_decode(matrix({{nan, 5, 3}}), at::zeros({3, 3})), std::vector<std::int64_t>{0});
}

TEST(ViterbiDecoding, DecodesOtherDtypesAndNonContiguousScores) {
  const at::Tensor emissions = matrix({{2, 1}, {2, 1}, {0, 1}}).to(at::kDouble).t().contiguous().t();
  const at::Tensor transitions = matrix({{-5, 3}, {3, -5}}).to(at::kHalf);
  EXPECT_EQ(ner_viterbi_decode(emissions, transitions), (std::vector<std::int64_t>{1, 0, 1}));
}

TEST(ViterbiDecoding, RefusesIncompatibleDimensions) {
  const std::vector<std::pair<at::Tensor, at::Tensor>> cases = {
      {at::zeros({3}), at::zeros({3, 3})},     {at::zeros({2, 3}), at::zeros({3})},
      {at::zeros({2, 0}), at::zeros({0, 0})},  {at::zeros({2, 3}), at::zeros({2, 3})},
      {at::zeros({2, 3}), at::zeros({3, 2})},
  };
  for (const auto& [emissions, transitions] : cases) {
    try {
      ner_viterbi_decode(emissions, transitions);
      ADD_FAILURE() << "no error for " << emissions.sizes() << " and " << transitions.sizes();
    } catch (const velmora::NERModelError& error) {
      EXPECT_STREQ(error.what(), "NER CRF tensors have incompatible dimensions");
    }
  }
  EXPECT_TRUE(ner_viterbi_decode(at::zeros({0, 3}), at::zeros({3, 3})).empty());
}

TEST(BIOESRepair, RewritesMalformedRunsIntoWellFormedOnes) {
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
      {{"I-PER"}, {"S-PER"}},
      {{"I-PER", "I-PER"}, {"B-PER", "E-PER"}},
      {{"B-PER", "O"}, {"S-PER", "O"}},
      {{"O", "E-LOC"}, {"O", "S-LOC"}},
      {{"B-PER", "I-LOC"}, {"S-PER", "S-LOC"}},
      {{"B-ORG", "I-ORG", "I-ORG"}, {"B-ORG", "I-ORG", "E-ORG"}},
      {{"I-PER", "I-LOC", "E-LOC"}, {"S-PER", "B-LOC", "E-LOC"}},
      {{"B-PER", "E-PER", "E-PER"}, {"B-PER", "E-PER", "S-PER"}},
      {{"E-PER", "E-PER"}, {"S-PER", "S-PER"}},
      {{"B-PER", "B-PER", "E-PER"}, {"S-PER", "B-PER", "E-PER"}},
      {{"S-PER", "I-PER"}, {"S-PER", "S-PER"}},
      {{"B-X", "I-X", "E-X", "S-Y", "O"}, {"B-X", "I-X", "E-X", "S-Y", "O"}},
      // Untouched: the outside tag, other prefixes, lower-case prefixes, short strings.
      {{"O", "X-PER", "i-PER", "I", "", "S-"}, {"O", "X-PER", "i-PER", "I", "", "S-"}},
      // An empty type is still a type.
      {{"I-", "I-"}, {"B-", "E-"}},
      {{}, {}},
  };
  for (const auto& [input, expected] : cases) {
    std::vector<std::string> tags = input;
    repair_bioes_tags(tags);
    EXPECT_EQ(tags, expected) << ::testing::PrintToString(input);
  }
}

}  // namespace
