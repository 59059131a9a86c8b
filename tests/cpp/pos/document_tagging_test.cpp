// Tagging documents: every regular word of every sentence gets its tags, empty words and empty
// sentences are left alone, reruns replace earlier tags, and lists are tagged together.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pos/test_support.hpp"

namespace {

using velmora::POSTag;

class DocumentTagging : public ::testing::Test {
 protected:
  void SetUp() override { POS_REQUIRE_TEST_DATA(); }
  const velmora::POSPlan plan_{pos_test::data_dir() / "agreement" / "charlm_composite", false};
};

TEST_F(DocumentTagging, ADocumentWithoutSentencesComesBackUnchanged) {
  const velmora::Document document("some text");
  const velmora::Document result = plan_.process(document);
  EXPECT_EQ(result.sentences().size(), 0u);
  EXPECT_TRUE(plan_.process_bulk({}).empty());
  EXPECT_TRUE(plan_.tag({}).empty());
}

TEST_F(DocumentTagging, ProcessWritesIntoTheSameStorage) {
  const velmora::Document document = pos_test::document_of({{"the", "cat", "sat"}, {}, {"dog"}});
  const velmora::Document result = plan_.process(document);
  const auto tags = pos_test::stored_tags(document);
  EXPECT_EQ(tags, pos_test::stored_tags(result));
  ASSERT_EQ(tags.size(), 3u);
  EXPECT_EQ(tags[0], plan_.tag({"the", "cat", "sat"}));
  EXPECT_TRUE(tags[1].empty());
  EXPECT_EQ(tags[2], plan_.tag({"dog"}));
}

TEST_F(DocumentTagging, RerunsReplaceEveryEarlierTag) {
  velmora::Document document = pos_test::document_of({{"the", "cat"}});
  plan_.process(document);
  const auto first = pos_test::stored_tags(document);
  velmora::Word word = document.sentences().at(0).words().at(0);
  word.set_upos("X");
  word.set_xpos("left over");
  word.set_feats("Old=Yes");
  plan_.process(document);
  EXPECT_EQ(pos_test::stored_tags(document), first);
}

TEST_F(DocumentTagging, EmptyWordsAreNeitherReadNorWritten) {
  std::vector<velmora::SentenceInput> records = {velmora::SentenceInput{}};
  for (int id = 1; id <= 2; ++id) {
    velmora::TokenInput token;
    token.id_start = token.id_end = id;
    token.text = id == 1 ? "the" : "cat";
    velmora::WordInput word;
    word.id = id;
    word.text = token.text;
    token.words.push_back(word);
    records[0].tokens.push_back(token);
  }
  velmora::WordInput empty;
  empty.id = 1;
  empty.empty_index = 1;
  empty.text = "it";
  empty.upos = "PRON";
  records[0].empty_words.push_back(empty);
  velmora::Document document("", records);
  plan_.process(document);
  const velmora::Word empty_word = document.sentences().at(0).empty_words().at(0);
  EXPECT_EQ(empty_word.upos(), "PRON");
  EXPECT_FALSE(empty_word.xpos().has_value());
  EXPECT_EQ(pos_test::stored_tags(document)[0], plan_.tag({"the", "cat"}));
}

TEST_F(DocumentTagging, BulkTagsFiveSentencesOfTwoDocumentsInPlace) {
  const pos_test::Sentences first = {{"the", "cat"}, {"a", "dog", "runs"}, {"?!"}};
  const pos_test::Sentences second = {{"New York", "Paris"}, {"big"}};
  const velmora::Document one = pos_test::document_of(first);
  const velmora::Document two = pos_test::document_of(second);
  const std::vector<velmora::Document> result = plan_.process_bulk({one, two});
  ASSERT_EQ(result.size(), 2u);
  const auto one_tags = pos_test::stored_tags(one);
  const auto two_tags = pos_test::stored_tags(two);
  for (std::size_t s = 0; s < first.size(); ++s) EXPECT_EQ(one_tags[s], plan_.tag(first[s])) << s;
  for (std::size_t s = 0; s < second.size(); ++s) EXPECT_EQ(two_tags[s], plan_.tag(second[s])) << s;
  EXPECT_EQ(pos_test::stored_tags(result[1]), two_tags);
}

TEST(DocumentTaggingFailures, OnlyTheCharacterModelRefusesEmptyWords) {
  POS_REQUIRE_TEST_DATA();
  const velmora::POSPlan own_model(pos_test::data_dir() / "agreement" / "character_model", false);
  try {
    own_model.tag({"a", ""});
    ADD_FAILURE() << "accepted";
  } catch (const velmora::POSModelError& error) {
    EXPECT_STREQ(error.what(), "POS cannot encode an empty word");
  }
  // The character language models read an empty word as it is.
  const velmora::POSPlan charlm(pos_test::data_dir() / "agreement" / "charlm_untransformed", false);
  EXPECT_EQ(charlm.tag({"a", ""}).size(), 2u);
}

}  // namespace
