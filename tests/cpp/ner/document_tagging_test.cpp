// Tagging whole documents: tags, tag lists and entity spans written, and documents left alone
// when a sentence cannot be tagged; lists tagged together as each document alone.

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "velmora/ner.hpp"
#include "velmora/processor.hpp"

namespace {

class DocumentTagging : public ::testing::Test {
 protected:
  void SetUp() override { ner_test::require_data(); }
  const velmora::NERPlan& plan() {
    static const velmora::NERPlan loaded(ner_test::data_dir() / "variants" / "unchained_third_set", false);
    return loaded;
  }
};

std::vector<std::optional<std::string>> tags_of(const velmora::Document& document) {
  std::vector<std::optional<std::string>> tags;
  const velmora::TokenSequence tokens = document.tokens();
  for (std::size_t t = 0; t < tokens.size(); ++t) tags.push_back(tokens.at(static_cast<long>(t)).ner());
  return tags;
}

TEST_F(DocumentTagging, TagsEachSentenceAsTagDoesAndReplacesEarlierTags) {
  const ner_test::Sentences sentences = {{"Obama", "visited", "New York"}, {"Paris"}, {"the", "ACME", "said", "x"}};
  velmora::Document document = ner_test::document_of(sentences);
  velmora::Token first = document.tokens().at(0);
  first.set_ner("S-OLD");
  first.set_multi_ner({"S-OLD", "S-OTHER"});
  document.rebuild_entities();
  plan().process(document);
  std::vector<std::optional<std::string>> expected;
  for (const auto& tokens : sentences) {
    for (const std::string& tag : plan().tag(tokens)) expected.emplace_back(tag);
  }
  EXPECT_EQ(tags_of(document), expected);
  EXPECT_EQ(first.multi_ner(), std::vector<std::string>{first.ner().value()});
  for (std::size_t e = 0; e < document.ents().size(); ++e) EXPECT_NE(document.ents().at(static_cast<long>(e)).type(), "OLD");
}

TEST_F(DocumentTagging, EntitySpansStayWithinTheirSentence) {
  // The same tokens as one sentence and split in two: spans of the split document never
  // reach across the boundary.
  const ner_test::Sentences split = {{"the", "ACME", "école"}, {"Zürich", "日本", "said"}};
  velmora::Document document = plan().process(ner_test::document_of(split));
  for (std::size_t e = 0; e < document.ents().size(); ++e) {
    const velmora::Span span = document.ents().at(static_cast<long>(e));
    const velmora::TokenSequence tokens = span.tokens();
    EXPECT_EQ(tokens.at(0).sent().index(), tokens.at(-1).sent().index());
    EXPECT_EQ(span.sent().index(), tokens.at(0).sent().index());
  }
}

TEST_F(DocumentTagging, ADocumentWithoutSentencesOnlyLosesItsSpans) {
  velmora::Document document("no sentences here");
  const velmora::Document result = plan().process(document);
  EXPECT_TRUE(result.same_storage(document));
  EXPECT_EQ(result.ents().size(), 0U);
  EXPECT_EQ(result.text(), "no sentences here");
}

TEST_F(DocumentTagging, AnUntaggableSentenceLeavesTheWholeDocumentUnchanged) {
  // The third sentence's token is not UTF-8, which the character BiLSTM cannot split.
  velmora::Document broken = ner_test::document_of({{"Obama", "visited"}, {"Paris"}, {"x"}});
  broken.tokens().at(3).set_text("\xff");
  broken.tokens().at(1).set_ner("S-KEPT");
  broken.rebuild_entities();
  try {
    plan().process(broken);
    ADD_FAILURE() << "the broken token was tagged";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "invalid UTF-8 sequence at byte offset 0");
  }
  EXPECT_EQ(tags_of(broken), (std::vector<std::optional<std::string>>{std::nullopt, "S-KEPT", std::nullopt,
                                                                      std::nullopt}));
  EXPECT_TRUE(broken.tokens().at(0).multi_ner().empty());
  ASSERT_EQ(broken.ents().size(), 1U);
  EXPECT_EQ(broken.ents().at(0).type(), "KEPT");
}

TEST_F(DocumentTagging, AListIsTaggedAsItsDocumentsAloneUpToTheFirstUntaggableOne) {
  const ner_test::Sentences first = {{"Obama", "visited", "New York"}, {"Paris"}};
  const ner_test::Sentences second = {{"the", "ACME", "said", "x"}, {"école"}};
  const velmora::Document alone = plan().process(ner_test::document_of(first));
  std::vector<velmora::Document> list = {ner_test::document_of(first), ner_test::document_of(second),
                                         ner_test::document_of(second), ner_test::document_of(first)};
  list[2].tokens().at(1).set_text("\xff");
  try {
    plan().process_bulk(list);
    ADD_FAILURE() << "the broken token was tagged";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "invalid UTF-8 sequence at byte offset 0");
  }
  EXPECT_EQ(tags_of(list[0]), tags_of(alone));
  EXPECT_EQ(tags_of(list[1]), tags_of(plan().process(ner_test::document_of(second))));
  for (const std::size_t untouched : {2U, 3U}) {
    for (const auto& tag : tags_of(list[untouched])) EXPECT_FALSE(tag.has_value()) << untouched;
  }
  list[2].tokens().at(1).set_text("ACME");
  const std::vector<velmora::Document> tagged = plan().process_bulk(list);
  EXPECT_EQ(tags_of(tagged[3]), tags_of(alone));
}

TEST_F(DocumentTagging, ACharacterLanguageModelTaggerAcceptsEmptyTokens) {
  const velmora::NERPlan charlm(ner_test::data_dir() / "variants" / "charlm", false);
  EXPECT_EQ(charlm.tag({"Paris", "", "x"}).size(), 3U);
}

TEST(NERProcessorWiring, ForwardsToItsPlanAndHandlesListsOneByOne) {
  ner_test::require_data();
  const std::filesystem::path bundle = ner_test::data_dir() / "variants" / "char_lstm";
  const velmora::NERProcessor processor(bundle, false);
  EXPECT_TRUE(processor.implemented());
  EXPECT_EQ(processor.bundle_path(), std::filesystem::absolute(bundle));
  const velmora::NERPlan plan(bundle, false);
  const ner_test::Sentences first = {{"Obama", "visited", "Paris"}};
  const ner_test::Sentences second = {{"the", "ACME"}, {"said"}};
  EXPECT_EQ(processor.tag(first[0]), plan.tag(first[0]));
  std::vector<velmora::Document> documents = {ner_test::document_of(first), ner_test::document_of(second)};
  const std::vector<velmora::Document> results = processor.process_bulk(documents);
  ASSERT_EQ(results.size(), 2U);
  EXPECT_TRUE(results[0].same_storage(documents[0]));
  EXPECT_TRUE(results[1].same_storage(documents[1]));
  EXPECT_EQ(tags_of(results[1]).back(), plan.tag(second[1])[0]);

  const velmora::NERProcessor model_less;
  EXPECT_FALSE(model_less.implemented());
  EXPECT_THROW(model_less.tag({"x"}), velmora::ProcessorNotImplementedError);
}

}  // namespace
