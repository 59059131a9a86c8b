// The exact rules of the forward pass on hand-made inputs: clusters from antecedent links, span
// choice from start and end scores, distance buckets and transformer windows; and word encoding:
// subword ids from the bundle's table or the tokenizer, one transformer run per window framed by
// the special ids (or the end id in their place), and attention pooling that leaves a one-subword
// word its own row.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "coref/model_state.hpp"
#include "test_support.hpp"

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

using velmora::detail::coref_encode_words;
using velmora::detail::coref_pool_subwords;
using Spans = std::vector<std::pair<std::int64_t, std::int64_t>>;

at::Tensor run_window(const velmora::CorefPlan::Impl& model, std::vector<std::int64_t> ids, std::int64_t first,
                      std::int64_t last) {
  ids.insert(ids.begin(), first);
  ids.push_back(last);
  const at::Tensor rows = model.transformer->encode_ids(ids, std::vector<std::int64_t>(ids.size(), 1));
  return rows.narrow(0, 1, rows.size(0) - 2);
}

TEST(CorefWordEncoding, TableWordsAndTokenizerWordsTileTheSubwords) {
  coref_test::require_data();
  const auto model = coref_test::load_model("full");
  c10::InferenceMode inference;
  // "zebra" comes from the bundle's table (3 ids), "unbreakable" from WordPiece (un ##break ##able).
  const auto encoding = coref_encode_words(*model, {"zebra", "unbreakable", "cat", "Dog"}, {0, 0, 1, 1});
  EXPECT_EQ(encoding.word_spans, (Spans{{0, 3}, {3, 6}, {6, 7}, {7, 8}}));
  ASSERT_EQ(encoding.subword_embeddings.sizes(), (std::vector<std::int64_t>{8, 16}));
  // Without class and separator ids, the end id frames the one window on both sides.
  const at::Tensor expected = run_window(*model, {37, 38, 12, 9, 10, 11, 5, 6}, 3, 3);
  EXPECT_TRUE(at::allclose(encoding.subword_embeddings, expected, 1e-5, 1e-6));
}

TEST(CorefWordEncoding, WindowsRunSeparatelyAndJoinInOrder) {
  coref_test::require_data();
  const auto model = coref_test::load_model("plain");  // windows of 8 subwords
  c10::InferenceMode inference;
  // Sentences of 3, 4 and 5 subwords: windows [0, 7) and [7, 12).
  const std::vector<std::string> words{"unbreakable", "the", "cat", "dog", "run", "un", "x", "b", "cats"};
  const std::vector<std::uint64_t> sentences{0, 1, 1, 1, 1, 2, 2, 2, 2};
  const auto encoding = coref_encode_words(*model, words, sentences);
  ASSERT_EQ(encoding.subword_embeddings.size(0), 12);
  const at::Tensor first = run_window(*model, {9, 10, 11, 4, 5, 6, 7}, 2, 3);
  const at::Tensor second = run_window(*model, {9, 35, 13, 5, 56}, 2, 3);
  EXPECT_TRUE(at::allclose(encoding.subword_embeddings, at::cat({first, second}), 1e-5, 1e-6));
}

TEST(CorefWordEncoding, PoolingKeepsOneSubwordRowsAndWeighsLongerWords) {
  coref_test::require_data();
  const auto model = coref_test::load_model("plain");
  c10::InferenceMode inference;
  const auto encoding = coref_encode_words(*model, {"cat", "unbreakable", "cat"}, {0, 0, 0});
  const at::Tensor words = coref_pool_subwords(*model, encoding);
  ASSERT_EQ(words.sizes(), (std::vector<std::int64_t>{3, 16}));
  const at::Tensor& rows = encoding.subword_embeddings;
  EXPECT_TRUE(at::equal(words[0], rows[0]));
  EXPECT_TRUE(at::equal(words[2], rows[4]));
  // The same text at two positions keeps the rows of its own position.
  EXPECT_FALSE(at::allclose(words[0], words[2]));
  const at::Tensor scores = at::linear(rows.narrow(0, 1, 3), model->tensors.at("we.attn.weight"),
                                       model->tensors.at("we.attn.bias"))
                                .squeeze(-1);
  const at::Tensor expected = at::softmax(scores, 0).unsqueeze(0).matmul(rows.narrow(0, 1, 3)).squeeze(0);
  EXPECT_TRUE(at::allclose(words[1], expected, 1e-5, 1e-6));
}

TEST(CorefWordEncoding, NoWordsGiveAnEmptyMatrix) {
  coref_test::require_data();
  const auto model = coref_test::load_model("plain");
  c10::InferenceMode inference;
  const auto encoding = coref_encode_words(*model, {}, {});
  EXPECT_TRUE(encoding.word_spans.empty());
  EXPECT_EQ(coref_pool_subwords(*model, encoding).sizes(), (std::vector<std::int64_t>{0, 16}));
}

}  // namespace
