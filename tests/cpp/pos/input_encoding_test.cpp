// Input rows: punctuation folding, the vocabulary keys of words, and the character model's
// handling of unknown, empty and malformed words.

#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <c10/core/InferenceMode.h>

#include <string>
#include <vector>

#include "models/word_keys.hpp"
#include "pos/model_state.hpp"
#include "pos/test_support.hpp"

namespace {

TEST(WordKeys, RunsOfQuestionAndExclamationMarksFoldToTheirFirstKind) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"??", "?"},
      {"?!", "?"},
      {"\xEF\xBC\x81\xEF\xBC\x9F", "!"},      // full-width ! then ?
      {"\xE2\x80\xBC\xE2\x80\xBC", "!"},      // two doubled exclamation marks
      {"\xE2\x81\x87!", "?"},                  // doubled question mark first
      {"\xEF\xB8\x96\xEF\xB9\x97", "?"},      // vertical ? then small !
      {"?", "?"},
      {"!", "!"},
      {"a?", "a?"},
      {"?a", "?a"},
      {"", ""},
      {"...", "..."},
  };
  for (const auto& [word, folded] : cases) EXPECT_EQ(velmora::detail::fold_punctuation(word), folded) << word;
  EXPECT_THROW(velmora::detail::fold_punctuation("\xFF?"), std::invalid_argument);
}

TEST(WordKeys, PretrainedKeysAreLowerCaseWithNoBreakSpaces) {
  EXPECT_EQ(velmora::detail::pretrained_key("New York"), "new\xC2\xA0york");
  EXPECT_EQ(velmora::detail::pretrained_key("PARIS"), "paris");
  EXPECT_EQ(velmora::detail::pretrained_key("\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9");
}

class CharacterModel : public ::testing::Test {
 protected:
  void SetUp() override {
    POS_REQUIRE_TEST_DATA();
    velmora::detail::load_pos_model(state_, pos_test::data_dir() / "agreement" / "character_model", false);
  }
  velmora::POSPlan::Impl state_;
  c10::InferenceMode guard_;
};

TEST_F(CharacterModel, UnknownCharactersStillGiveAVector) {
  const at::Tensor vector = velmora::detail::pos_char_encode(state_, "\xF0\x9F\x98\x80QQ");
  EXPECT_EQ(vector.sizes(), (at::IntArrayRef{state_.char_hidden_dim}));
  EXPECT_TRUE(vector.isfinite().all().item<bool>());
}

TEST_F(CharacterModel, AllWordsInOneRunEqualEachWordAlone) {
  ASSERT_TRUE(state_.char_model.lstm) << "float32 character weights are prepared";
  const std::vector<std::string> words = {"a", "abcdefghij", "\xC3\xA9t\xC3\xA9", "QQ", "cat"};
  const at::Tensor together = velmora::detail::pos_char_encode_many(state_, words);
  ASSERT_EQ(together.sizes(), (at::IntArrayRef{5, state_.char_hidden_dim}));
  for (std::size_t i = 0; i < words.size(); ++i) {
    EXPECT_TRUE(at::allclose(together[static_cast<long>(i)], velmora::detail::pos_char_encode(state_, words[i]), 1e-5,
                             1e-6))
        << words[i];
  }
  velmora::POSPlan::Impl& unprepared = state_;
  unprepared.char_model.lstm = nullptr;
  EXPECT_TRUE(at::allclose(velmora::detail::pos_char_encode_many(unprepared, words), together, 1e-5, 1e-6));
  EXPECT_THROW(velmora::detail::pos_char_encode_many(unprepared, {"a", ""}), velmora::POSModelError);
}

TEST_F(CharacterModel, EmptyAndMalformedWordsAreRefused) {
  try {
    velmora::detail::pos_char_encode(state_, "");
    ADD_FAILURE() << "an empty word was encoded";
  } catch (const velmora::POSModelError& error) {
    EXPECT_STREQ(error.what(), "POS cannot encode an empty word");
  }
  EXPECT_THROW(velmora::detail::pos_embed_words(state_, {"ok", "\xC3("}), std::invalid_argument);
}

TEST_F(CharacterModel, FoldedWordsShareTheirRows) {
  const at::Tensor rows = velmora::detail::pos_embed_words(state_, {"??", "?", "?!?", "!!", "!"});
  EXPECT_EQ(rows.sizes(), (at::IntArrayRef{1, 5, velmora::detail::pos_input_size(state_)}));
  EXPECT_TRUE(at::allclose(rows[0][0], rows[0][1], 1e-6, 1e-7));
  EXPECT_TRUE(at::allclose(rows[0][2], rows[0][1], 1e-6, 1e-7));
  EXPECT_TRUE(at::allclose(rows[0][3], rows[0][4], 1e-6, 1e-7));
  EXPECT_FALSE(at::allclose(rows[0][1], rows[0][4], 1e-3, 1e-3));
}

TEST_F(CharacterModel, CaseMattersToWordsButNotToPretrainedVectors) {
  // "The" and "the" both exist in the case-sensitive word vocabulary; the pretrained part
  // (after the word embedding) looks up "the" for both.
  const at::Tensor rows = velmora::detail::pos_embed_words(state_, {"The", "the"});
  const std::int64_t word = state_.word_emb_dim;
  const std::int64_t pretrained = state_.transformed_dim;
  EXPECT_FALSE(at::allclose(rows[0][0].narrow(0, 0, word), rows[0][1].narrow(0, 0, word), 1e-3, 1e-3));
  EXPECT_TRUE(
      at::allclose(rows[0][0].narrow(0, word, pretrained), rows[0][1].narrow(0, word, pretrained), 1e-6, 1e-7));
}

TEST(POSHighwayEncoder, OneWordSentencesGiveOneRowOnBothPaths) {
  POS_REQUIRE_TEST_DATA();
  velmora::POSPlan::Impl state;
  velmora::detail::load_pos_model(state, pos_test::data_dir() / "agreement" / "small_batches", false);
  c10::InferenceMode guard;
  const at::Tensor alone = velmora::detail::pos_highway_lstm_forward(state, {"dog"});
  EXPECT_EQ(alone.sizes(), (at::IntArrayRef{1, 2 * state.hidden_dim}));
  // batch_size 2 and a budget of 7 rows: a 9-word sentence stands alone.
  const pos_test::Sentences sentences = {{"dog"}, std::vector<std::string>(9, "cat"), {"a", "b"}, {"c"}};
  const auto batched = velmora::detail::pos_highway_lstm_forward_batch(state, sentences, nullptr, nullptr);
  EXPECT_TRUE(at::allclose(batched[0], alone, 1e-5, 1e-6));
  for (std::size_t i = 0; i < sentences.size(); ++i) {
    EXPECT_TRUE(at::allclose(batched[i], velmora::detail::pos_highway_lstm_forward(state, sentences[i]), 1e-5, 1e-6))
        << i;
  }
}

}  // namespace
