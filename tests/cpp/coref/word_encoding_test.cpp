// Word encoding: subword ids from the bundle's table or the tokenizer, one transformer run per
// window framed by the special ids (or the end id in their place), and attention pooling
// that leaves a one-subword word its own row.

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

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
