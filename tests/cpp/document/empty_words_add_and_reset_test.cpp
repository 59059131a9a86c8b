// Empty words N.M: input ones from the build, generated ones added and dropped afterwards.
#include <gtest/gtest.h>

#include "document_records.hpp"

namespace {

using namespace doc_test;
using velmora::Document;

Document two_sentences_with_input_empty_word() {
  SentenceInput first = sentence({"a", "b", "c"});
  first.empty_words.push_back(empty_word(3, 1, "input"));
  return Document("", {first, sentence({"d"})});
}

TEST(EmptyWords, InputEmptyWordsFollowTheRegularWords) {
  const Document doc = two_sentences_with_input_empty_word();
  const auto& s = *doc.storage();
  EXPECT_EQ(s.num_words, 4u);
  EXPECT_EQ(s.input_word_count, 5u);
  EXPECT_EQ(s.sentence_empty_words[0], std::vector<std::uint32_t>{4});
  EXPECT_EQ(s.word_token[4], velmora::kNoRow);
  EXPECT_EQ(s.word_empty_index[4], 1);
  EXPECT_EQ(s.word_sentence[4], 0u);
}

TEST(EmptyWords, AddReturnsTheNewRowAndAcceptsWordZero) {
  Document doc = two_sentences_with_input_empty_word();
  auto& s = *doc.storage();
  EXPECT_EQ(s.add_empty_word(1, empty_word(0, 1, "pro")), 5u);
  EXPECT_EQ(s.add_empty_word(1, empty_word(3, 1, "pro")), 6u) << "3.1 exists only in sentence 0";
  EXPECT_EQ(s.add_empty_word(1, empty_word(1, 1, "pro")), 7u) << "a regular word 1 is no conflict";
  EXPECT_EQ(s.input_word_count, 5u);
}

TEST(EmptyWords, BadEmptyWordsAreRefusedWithoutChange) {
  Document doc = two_sentences_with_input_empty_word();
  auto& s = *doc.storage();
  const std::string prefix =
      "an empty word requires a nonnegative ID, positive empty index, and non-empty text; got ";
  expect_error<std::out_of_range>([&] { s.add_empty_word(2, empty_word(1, 1, "x")); },
                                  "an empty word has an invalid sentence");
  expect_error<std::invalid_argument>([&] { s.add_empty_word(0, word(1, "abc")); },
                                      prefix + "id=1, empty_index=none, text_size=3");
  expect_error<std::invalid_argument>([&] { s.add_empty_word(0, empty_word(2, 0, "ab")); },
                                      prefix + "id=2, empty_index=0, text_size=2");
  expect_error<std::invalid_argument>([&] { s.add_empty_word(0, empty_word(-1, 1, "")); },
                                      prefix + "id=-1, empty_index=1, text_size=0");
  expect_error<std::invalid_argument>([&] { s.add_empty_word(0, empty_word(3, 1, "again")); },
                                      "an empty word ID is duplicated within a sentence");
  EXPECT_EQ(s.num_word_rows(), 5u);
  EXPECT_EQ(s.sentence_empty_words[0].size(), 1u);
}

TEST(EmptyWords, ResetDropsOnlyGeneratedOnes) {
  Document doc = two_sentences_with_input_empty_word();
  auto& s = *doc.storage();
  s.add_empty_word(0, empty_word(1, 1, "gen"));
  s.add_empty_word(1, empty_word(1, 1, "gen"));
  s.reset_generated_empty_words();
  EXPECT_EQ(s.num_word_rows(), 5u);
  EXPECT_EQ(s.word_coref.size(), 5u);
  EXPECT_EQ(s.sentence_empty_words[0], std::vector<std::uint32_t>{4});
  EXPECT_TRUE(s.sentence_empty_words[1].empty());
  s.reset_generated_empty_words();
  EXPECT_EQ(s.num_word_rows(), 5u);
  // A word dropped once can be generated again.
  EXPECT_EQ(s.add_empty_word(0, empty_word(1, 1, "gen")), 5u);
}

TEST(EmptyWords, DuplicateInputEmptyWordFailsTheBuild) {
  SentenceInput s = sentence({"a"});
  s.empty_words = {empty_word(1, 1, "x"), empty_word(1, 1, "y")};
  expect_error<std::invalid_argument>([&] { Document("", {s}); },
                                      "an empty word ID is duplicated within a sentence");
}

}  // namespace
