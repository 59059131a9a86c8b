// The exact rules of the forward pass on hand-made inputs: clusters from antecedent links,
// span choice from start and end scores, distance buckets and transformer windows.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "coref/model_state.hpp"

namespace {

using velmora::detail::coref_clusters;
using velmora::detail::coref_distance_bucket;
using velmora::detail::coref_span_from_scores;
using velmora::detail::coref_windows;
using velmora::detail::CorefAntecedents;
using Clusters = std::vector<std::vector<std::uint64_t>>;

CorefAntecedents links(std::vector<std::int64_t> antecedent, std::vector<bool> mention = {}) {
  if (mention.empty()) mention.assign(antecedent.size(), false);
  return {std::move(antecedent), std::move(mention)};
}

TEST(CorefClusters, LinkedWordsFormAscendingClustersInOrderOfTheirFirstWord) {
  struct Case {
    const char* label;
    CorefAntecedents antecedents;
    Clusters expected;
  };
  const std::vector<Case> cases{
      {"no links", links({-1, -1, -1}), {}},
      {"chain through a middle word", links({-1, -1, 0, 2}), {{0, 2, 3}}},
      {"two clusters, later one found first", links({-1, 0, -1, -1, -1, 4}), {{0, 1}, {4, 5}}},
      {"two words with one antecedent", links({-1, 0, 0, -1}), {{0, 1, 2}}},
      {"links that join two groups", links({-1, -1, 0, 1, 2, 3, 3}), {{0, 2, 4}, {1, 3, 5, 6}}},
      {"single word without singletons flags", links({-1, -1}, {false, false}), {}},
      {"flagged word with a link stays in its cluster", links({-1, 0, -1}, {false, true, false}), {{0, 1}}},
      {"flagged unlinked words are placed by index", links({-1, -1, 1, -1, -1}, {true, false, false, false, true}),
       {{0}, {1, 2}, {4}}},
      {"every flagged unlinked word is its own cluster", links({-1, -1}, {true, true}), {{0}, {1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(coref_clusters(c.antecedents), c.expected);
  }
}

TEST(CorefSpans, StartAtOrBeforeAndEndAtOrAfterTheHeadWithEarliestTies) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* label;
    std::vector<std::int64_t> words;
    std::vector<float> starts;
    std::vector<float> ends;
    std::int64_t head;
    std::pair<std::uint64_t, std::uint64_t> expected;
  };
  const std::vector<Case> cases{
      {"best scores on both sides", {10, 11, 12, 13, 14}, {0, 5, 1, 9, 9}, {9, 0, 1, 2, 7}, 12, {11, 15}},
      {"the head may be its own start and end", {3, 4, 5}, {0, 1, 2}, {2, 1, 0}, 4, {4, 5}},
      {"first word of its sentence starts its own span", {0, 1, 2}, {-1, 8, 9}, {1, 2, 3}, 0, {0, 3}},
      {"last word of its sentence ends at the head", {0, 1, 2}, {3, 2, 1}, {9, 9, 0}, 2, {0, 3}},
      {"ties keep the earliest word", {0, 1, 2, 3}, {4, 4, 1, 0}, {0, 1, 6, 6}, 1, {0, 3}},
      {"NaN is never chosen", {0, 1, 2}, {nan, nan, nan}, {nan, nan, nan}, 1, {1, 2}},
      {"minus infinity is never chosen", {0, 1, 2}, {-inf, -inf, 0}, {-inf, -inf, -inf}, 1, {1, 2}},
      {"words of the sentence need not be adjacent", {2, 7, 9}, {5, 0, 0}, {0, 0, 5}, 7, {2, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(coref_span_from_scores(c.words, c.starts.data(), c.ends.data(), c.head), c.expected);
  }
}

TEST(CorefDistanceBuckets, NineBucketsFromDistance) {
  const std::vector<std::pair<std::int64_t, std::int64_t>> cases{
      {1, 0}, {2, 1}, {4, 3}, {5, 4}, {7, 4}, {8, 5}, {15, 5}, {16, 6}, {31, 6}, {32, 7}, {63, 7}, {64, 8},
      {1000, 8}, {0, 0}, {-3, 0}};
  for (const auto& [distance, bucket] : cases) EXPECT_EQ(coref_distance_bucket(distance), bucket) << distance;
}

std::vector<std::uint64_t> owners(const std::vector<int>& sentence_lengths) {
  std::vector<std::uint64_t> result;
  for (std::size_t s = 0; s < sentence_lengths.size(); ++s) result.insert(result.end(), sentence_lengths[s], s);
  return result;
}

TEST(CorefWindows, WindowsEndAtTheLastSentenceBoundaryThatFits) {
  using Windows = std::vector<std::pair<std::int64_t, std::int64_t>>;
  struct Case {
    const char* label;
    std::vector<std::uint64_t> sentences;
    std::int64_t room;
    Windows expected;
  };
  const std::vector<Case> cases{
      {"no subwords", {}, 8, {}},
      {"everything fits one window", owners({3, 4}), 8, {{0, 7}}},
      {"exactly the room", owners({3, 5}), 8, {{0, 8}}},
      {"three sentences of 3, 4, 5", owners({3, 4, 5}), 8, {{0, 7}, {7, 12}}},
      {"one sentence longer than the room is cut", owners({20}), 8, {{0, 8}, {8, 16}, {16, 20}}},
      {"a window ending where a sentence starts is not shortened", owners({4, 4, 4}), 8, {{0, 8}, {8, 12}}},
      {"long sentence after a short one", owners({2, 10}), 8, {{0, 2}, {2, 10}, {10, 12}}},
      {"unsorted ids still mark boundaries", {5, 5, 1, 1, 1, 5, 5}, 4, {{0, 2}, {2, 5}, {5, 7}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(coref_windows(c.sentences, c.room), c.expected);
  }
}

TEST(CorefLongTensor, CopiesTheValues) {
  std::vector<std::int64_t> values{4, 5, 6, 7, 8, 9};
  const at::Tensor tensor = velmora::detail::coref_long_tensor(values.data(), {2, 3});
  values[0] = 99;
  EXPECT_EQ(tensor.scalar_type(), at::kLong);
  EXPECT_EQ(tensor.sizes(), (std::vector<std::int64_t>{2, 3}));
  EXPECT_EQ(tensor[0][0].item<std::int64_t>(), 4);
  EXPECT_EQ(tensor[1][2].item<std::int64_t>(), 9);
}

}  // namespace
