// The single-root spanning-tree decoder on hand-made score matrices, and against exhaustive
// search on small random ones.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <variant>

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

// The decoder as a plain recursion over fresh contracted matrices: the formulation the iterative
// decoder must agree with, tie-breaking included.
std::size_t first_argmax(const std::vector<double>& values) {
  std::size_t best = 0;
  double best_value = kNo;
  for (std::size_t j = 0; j < values.size(); ++j) {
    if (values[j] > best_value) {
      best = j;
      best_value = values[j];
    }
  }
  return best;
}

// The last cycle that Tarjan's search completes (recursive; the tests keep n small).
std::vector<std::int64_t> last_cycle(const HeadVector& tree) {
  const std::size_t n = tree.size();
  std::vector<std::int64_t> index(n, -1), lowlink(n, -1), stack;
  std::vector<bool> on_stack(n, false);
  std::vector<std::int64_t> cycle;
  std::int64_t counter = 0;
  std::function<void(std::size_t)> visit = [&](std::size_t v) {
    index[v] = lowlink[v] = counter++;
    stack.push_back(static_cast<std::int64_t>(v));
    on_stack[v] = true;
    for (std::size_t j = 0; j < n; ++j) {
      if (static_cast<std::size_t>(tree[j]) != v) continue;
      if (index[j] == -1) {
        visit(j);
        lowlink[v] = std::min(lowlink[v], lowlink[j]);
      } else if (on_stack[j]) {
        lowlink[v] = std::min(lowlink[v], index[j]);
      }
    }
    if (lowlink[v] != index[v]) return;
    std::vector<std::int64_t> component;
    std::int64_t popped = -1;
    while (popped != static_cast<std::int64_t>(v)) {
      popped = stack.back();
      stack.pop_back();
      on_stack[static_cast<std::size_t>(popped)] = false;
      component.push_back(popped);
    }
    if (component.size() >= 2) cycle = component;
  };
  for (std::size_t v = 0; v < n; ++v) {
    if (index[v] == -1) visit(v);
  }
  std::sort(cycle.begin(), cycle.end());
  return cycle;
}

HeadVector recursive_decoder(ScoreMatrix s) {
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n; ++i) s[i][i] = kNo;
  std::fill(s[0].begin(), s[0].end(), kNo);
  s[0][0] = 0.0;
  HeadVector tree(n);
  for (std::size_t i = 0; i < n; ++i) tree[i] = static_cast<std::int64_t>(first_argmax(s[i]));
  const std::vector<std::int64_t> cycle = last_cycle(tree);
  if (cycle.empty()) return tree;
  std::vector<std::int64_t> rest;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::find(cycle.begin(), cycle.end(), static_cast<std::int64_t>(i)) == cycle.end()) {
      rest.push_back(static_cast<std::int64_t>(i));
    }
  }
  const std::size_t c = cycle.size(), r = rest.size();
  std::vector<double> own(c);
  double total = 0.0;
  for (std::size_t k = 0; k < c; ++k) total += own[k] = s[cycle[k]][tree[cycle[k]]];
  std::vector<std::size_t> best_member(r), best_head(r);
  ScoreMatrix z(r + 1, std::vector<double>(r + 1, 0.0));
  std::vector<double> scratch(c);
  for (std::size_t q = 0; q < r; ++q) {
    for (std::size_t k = 0; k < c; ++k) scratch[k] = total + (s[cycle[k]][rest[q]] - own[k]);
    z[r][q] = scratch[best_member[q] = first_argmax(scratch)];
    for (std::size_t k = 0; k < c; ++k) scratch[k] = s[rest[q]][cycle[k]];
    z[q][r] = scratch[best_head[q] = first_argmax(scratch)];
    for (std::size_t p = 0; p < r; ++p) z[q][p] = s[rest[q]][rest[p]];
  }
  ScoreMatrix().swap(s);  // only the contracted matrix is needed from here on
  const HeadVector contracted = recursive_decoder(std::move(z));
  HeadVector heads(n, -1);
  for (std::size_t q = 0; q < r; ++q) {
    const auto head = static_cast<std::size_t>(contracted[q]);
    heads[rest[q]] = head < r ? rest[head] : cycle[best_head[q]];
  }
  for (std::int64_t member : cycle) heads[member] = tree[member];
  const auto from = static_cast<std::size_t>(contracted[r]);
  heads[cycle[best_member[from]]] = rest[from];
  return heads;
}

// Scores whose greedy heads pair neighbours into two-word cycles, level after level: word 2k - 1
// and word 2k prefer each other, and pairs prefer the pair before them over the root.
ScoreMatrix nested_pairs(std::size_t n, std::mt19937& random, bool coarse) {
  std::uniform_real_distribution<double> noise(0.0, 1.0);
  ScoreMatrix scores(n, std::vector<double>(n));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      double value = -20.0 - std::abs(static_cast<double>(i) - static_cast<double>(j)) - 5 * noise(random);
      if (i > 0 && j > 0 && (i + 1) / 2 == (j + 1) / 2) value = -1.0 - noise(random);
      // Coarse scores repeat values, so ties between columns and members are common.
      scores[i][j] = coarse ? std::round(value) : value;
    }
  }
  return scores;
}

TEST(TreeDecoding, ManyContractionLevelsGiveTheTreesOfThePlainRecursion) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 40; ++trial) {
    const std::size_t n = 3 + static_cast<std::size_t>(trial) * 3;
    const ScoreMatrix scores = nested_pairs(n, random, trial % 2 == 1);
    EXPECT_EQ(chu_liu_edmonds(scores), recursive_decoder(scores)) << "trial " << trial;
  }
  // Random log-probabilities with many small cycles, and with ties.
  std::uniform_int_distribution<int> coarse(-4, 0);
  for (int trial = 0; trial < 100; ++trial) {
    const std::size_t n = 2 + static_cast<std::size_t>(trial) % 40;
    ScoreMatrix scores(n, std::vector<double>(n));
    for (auto& row : scores) {
      for (double& value : row) value = coarse(random);
    }
    EXPECT_EQ(chu_liu_edmonds(scores), recursive_decoder(scores)) << "trial " << trial;
  }
}

// Scores with many equal values: coarse levels, rows whose maximum is shared by several heads
// (which contractions must re-decide), impossible arcs, and nested pairs.
ScoreMatrix tied_scores(std::size_t n, int kind, std::mt19937& random) {
  std::uniform_int_distribution<int> level(-6, 0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  ScoreMatrix scores(n, std::vector<double>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t hub = 1 + (i * 7) % std::max<std::size_t>(1, n / 10);
    for (std::size_t j = 0; j < n; ++j) {
      double value = level(random);
      if (kind == 1) value = (j == hub || j == hub + 1) ? -1.0 : -3.0 + 0.5 * level(random);
      if (kind == 2) value = -std::abs(static_cast<double>(i) - static_cast<double>(j) - 1.0) - std::round(2 * unit(random));
      if (kind != 0 && unit(random) < 0.05) value = kNo;
      scores[i][j] = value;
    }
  }
  return scores;
}

TEST(TreeDecoding, TiedMaximaAndSharedHeadsGiveTheTreesOfThePlainRecursion) {
  std::mt19937 random(17);
  for (int trial = 0; trial < 150; ++trial) {
    const std::size_t n = 2 + static_cast<std::size_t>(trial) % 90;
    const ScoreMatrix scores = tied_scores(n, trial % 3, random);
    EXPECT_EQ(chu_liu_edmonds(scores), recursive_decoder(scores)) << "trial " << trial;
  }
  // Long inputs: hundreds of contraction levels.
  for (int kind = 0; kind < 3; ++kind) {
    const ScoreMatrix scores = kind == 0 ? nested_pairs(401, random, true) : tied_scores(400, kind, random);
    EXPECT_EQ(chu_liu_edmonds(scores), recursive_decoder(scores)) << "kind " << kind;
  }
}

// decode_single_root's outcome, a tree or a failure message, for comparing decoders.
template <typename Decode>
std::variant<HeadVector, std::string> outcome(Decode decode) {
  try {
    return decode();
  } catch (const DepparseModelError& error) {
    return std::string(error.what());
  }
}

TEST(TreeDecoding, DecoderOfSharedRowsGivesTheTreesOfTheWholeMatrix) {
  // Each matrix takes some rows from a second source, as the repair search swaps one row per
  // candidate: the smallest value, and with it the root penalty, moves between matrices.
  std::mt19937 random(23);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  SingleRootDecoder decoder;
  for (int trial = 0; trial < 200; ++trial) {
    const std::size_t n = 1 + static_cast<std::size_t>(trial) % 60;
    const ScoreMatrix first = tied_scores(n, trial % 3, random);
    ScoreMatrix second = tied_scores(n, (trial + 1) % 3, random);
    if (trial % 7 == 0) second.assign(n, std::vector<double>(n, kNo));
    if (trial % 11 == 0) second.assign(n, std::vector<double>(n, 0.0));
    ScoreMatrix assembled(n);
    std::vector<const double*> rows(n);
    std::vector<ScoreRowSummary> summaries(n);
    std::vector<const ScoreRowSummary*> summary_of(n);
    for (std::size_t i = 0; i < n; ++i) {
      assembled[i] = unit(random) < 0.3 ? second[i] : first[i];
      if (trial % 13 == 0) assembled[i].assign(n, kNo);
      rows[i] = assembled[i].data();
      summaries[i] = summarize_score_row(rows[i], n, i);
      summary_of[i] = &summaries[i];
    }
    EXPECT_EQ(outcome([&] { return decoder.decode(rows, summary_of); }),
              outcome([&] { return decode_single_root(assembled); }))
        << "trial " << trial;
  }
}

TEST(TreeDecoding, ThousandsOfNestedCyclesDecodeQuicklyIntoOneTree) {
  // 4,000 positions whose greedy heads form 2,000 two-word cycles: thousands of contraction
  // levels, which the plain recursion held as thousands of matrices at once.
  std::mt19937 random(9);
  const std::size_t n = 4001;
  const HeadVector heads = decode_single_root(nested_pairs(n, random, false));
  ASSERT_EQ(heads.size(), n);
  EXPECT_EQ(std::count(heads.begin() + 1, heads.end(), 0), 1);
  for (std::size_t i = 1; i < n; ++i) {
    std::size_t at = i;
    std::size_t steps = 0;
    while (at != 0 && steps++ <= n) at = static_cast<std::size_t>(heads[at]);
    ASSERT_EQ(at, 0u) << "position " << i << " does not reach the root";
  }
}

}  // namespace
}  // namespace velmora::detail
