// The single-root spanning-tree decoder on hand-made score matrices, and against exhaustive
// search on small random ones.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "depparse/tree_decoding.hpp"
#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

constexpr double kNo = -std::numeric_limits<double>::infinity();

TEST(TreeDecoding, TwoWordsTakeThePairWithTheHigherTotal) {
  // Either word 1 is the root child with word 2 under it (-1 - 3), or word 2 with word 1 under
  // it (-0.5 - 2): the second wins.
  const ScoreMatrix scores{{kNo, kNo, kNo}, {-1.0, kNo, -2.0}, {-0.5, -3.0, kNo}};
  EXPECT_EQ(decode_single_root(scores), (HeadVector{0, 2, 0}));
}

TEST(TreeDecoding, ContractedCycleIsEnteredByTheMemberWithTheBestEnteringScore) {
  // Greedy heads: 1 -> 2, 2 -> 1, 3 -> root. Entering the cycle {1, 2} from word 3 through word 2
  // (-2 instead of its cycle arc -1) beats entering from the root through word 1 (-5).
  const ScoreMatrix scores{{0, 0, 0, 0}, {-5, kNo, -1, -4}, {-6, -1, kNo, -2}, {-1, -7, -7, kNo}};
  EXPECT_EQ(chu_liu_edmonds(scores), (HeadVector{0, 2, 3, 0}));
}

TEST(TreeDecoding, EqualMaximaGoToTheLowestColumn) {
  // Word 3 scores heads 1 and 2 equally.
  const ScoreMatrix greedy{{0, 0, 0, 0}, {-9, kNo, -1, -1}, {-1, -5, kNo, -5}, {-9, -2, -2, kNo}};
  EXPECT_EQ(chu_liu_edmonds(greedy), (HeadVector{0, 2, 0, 1}));
  // Both cycle members enter from the root at the same cost: the first member takes it.
  const ScoreMatrix contraction{{0, 0, 0}, {-3, kNo, -1}, {-3, -1, kNo}};
  EXPECT_EQ(chu_liu_edmonds(contraction), (HeadVector{0, 0, 1}));
}

TEST(TreeDecoding, GreedyTreeWithoutCyclesComesBackUnchangedEvenWithSeveralRootChildren) {
  const ScoreMatrix scores{{0, 0, 0}, {-1, kNo, -2}, {-1, -2, kNo}};
  EXPECT_EQ(chu_liu_edmonds(scores), (HeadVector{0, 0, 0}));
}

TEST(TreeDecoding, RefusesMatricesWithoutOneRootChild) {
  const std::vector<std::pair<ScoreMatrix, std::string>> cases{
      {{}, "dependency scores contain no finite value"},
      {{{kNo, kNo}, {kNo, kNo}}, "dependency scores contain no finite value"},
      // Only zeros: the penalty is zero and both words stay on the root.
      {{{0, 0, 0}, {0, kNo, 0}, {0, 0, kNo}}, "single-root dependency decoding did not produce one root"},
      // A lone root row has no word to attach.
      {{{0.0}}, "single-root dependency decoding did not produce one root"},
      // Word 2 can only attach to the root, word 1 only to the root too.
      {{{kNo, kNo, kNo}, {-1, kNo, kNo}, {-1, kNo, kNo}}, "single-root dependency decoding did not produce one root"},
      {{{0, 0}, {-1}}, "dependency score rows must match the matrix size"},
  };
  for (const auto& [scores, message] : cases) {
    try {
      decode_single_root(scores);
      ADD_FAILURE() << "decoded: " << message;
    } catch (const DepparseModelError& error) {
      EXPECT_EQ(error.what(), message);
    }
  }
}

// Every head vector with one root child and no cycle, by exhaustive search.
double best_single_root_total(const ScoreMatrix& scores) {
  const std::size_t n = scores.size();
  HeadVector heads(n, 0);
  double best = -std::numeric_limits<double>::infinity();
  std::function<void(std::size_t)> choose = [&](std::size_t word) {
    if (word == n) {
      if (std::count(heads.begin() + 1, heads.end(), 0) != 1) return;
      for (std::size_t i = 1; i < n; ++i) {
        std::size_t at = i;
        for (std::size_t steps = 0; at != 0; ++steps) {
          if (steps > n) return;  // a cycle
          at = static_cast<std::size_t>(heads[at]);
        }
      }
      double total = 0;
      for (std::size_t i = 1; i < n; ++i) total += scores[i][static_cast<std::size_t>(heads[i])];
      best = std::max(best, total);
      return;
    }
    for (std::size_t head = 0; head < n; ++head) {
      if (head == word) continue;
      heads[word] = static_cast<std::int64_t>(head);
      choose(word + 1);
    }
  };
  choose(1);
  return best;
}

TEST(TreeDecoding, FindsTheBestSingleRootTreeOfRandomLogProbabilities) {
  std::mt19937 random(12);
  std::normal_distribution<double> normal(0.0, 2.0);
  for (int trial = 0; trial < 200; ++trial) {
    const std::size_t n = 2 + static_cast<std::size_t>(trial % 5);
    ScoreMatrix scores(n, std::vector<double>(n));
    for (std::size_t i = 0; i < n; ++i) {
      double sum = 0;
      for (std::size_t j = 0; j < n; ++j) sum += std::exp(scores[i][j] = normal(random));
      for (std::size_t j = 0; j < n; ++j) scores[i][j] = i == j ? kNo : scores[i][j] - std::log(sum);
    }
    const HeadVector heads = decode_single_root(scores);
    double total = 0;
    for (std::size_t i = 1; i < n; ++i) total += scores[i][static_cast<std::size_t>(heads[i])];
    EXPECT_NEAR(total, best_single_root_total(scores), 1e-9) << "trial " << trial;
  }
}

TEST(TreeDecoding, LongSentencesGiveTreesWithOneRootChild) {
  std::mt19937 random(3);
  std::uniform_real_distribution<double> uniform(-8.0, -0.01);
  for (std::size_t n : {30, 120}) {
    ScoreMatrix scores(n, std::vector<double>(n));
    for (auto& row : scores) {
      for (double& value : row) value = uniform(random);
    }
    const HeadVector heads = decode_single_root(scores);
    EXPECT_EQ(std::count(heads.begin() + 1, heads.end(), 0), 1);
    for (std::size_t i = 1; i < n; ++i) {
      std::size_t at = i;
      std::size_t steps = 0;
      while (at != 0 && steps++ <= n) at = static_cast<std::size_t>(heads[at]);
      EXPECT_EQ(at, 0u) << "position " << i << " does not reach the root";
    }
  }
}

}  // namespace
}  // namespace velmora::detail
