// Replacing a document's sentences in place.
#include <gtest/gtest.h>

#include "document_records.hpp"

namespace {

using namespace doc_test;
using velmora::ConstituencyTree;
using velmora::Document;

std::vector<SentenceInput> records() {
  SentenceInput first =
      sentence_of({tagged(token(1, "Ann", 0, 3), "S-PER"), token(2, "ran", 4, 7)});
  first.empty_words = {empty_word(2, 1, "e")};
  return {first, sentence_of({token(1, ".", 7, 8)})};
}

Document annotated() {
  Document doc("Ann ran.", records());
  doc.set_lang("en");
  doc.sentences().at(0).set_constituency(ConstituencyTree("S"));
  const velmora::CorefMention ann(0, {0, std::nullopt}, {1, std::nullopt});
  doc.set_coref({velmora::CorefChain(0, {ann}, "Ann", 0)});
  doc.storage()->add_empty_word(1, empty_word(1, 1, "gen"));
  return doc;
}

TEST(ReplaceSentences, SameRecordsGiveTheSameContentWithoutTreesOrChains) {
  Document doc = annotated();
  const Document handle = doc;
  const velmora::Word old_view = doc.words().at(0);
  doc.storage()->replace(records());
  EXPECT_TRUE(handle.same_storage(doc));
  EXPECT_EQ(doc.to_conll(), Document("Ann ran.", records()).to_conll());
  EXPECT_EQ(doc.lang(), std::optional<std::string>("en"));
  EXPECT_FALSE(doc.sentences().at(0).constituency());
  EXPECT_TRUE(doc.coref().empty());
  EXPECT_TRUE(old_view.coref_chains().empty());
  EXPECT_EQ(doc.ents().size(), 1u);
  EXPECT_EQ(doc.storage()->num_word_rows(), 4u) << "the generated empty word is gone";
  EXPECT_EQ(doc.text(), "Ann ran.");
}

TEST(ReplaceSentences, NoLanguageStaysNone) {
  Document doc("Ann ran.", records());
  doc.storage()->replace(records());
  EXPECT_FALSE(doc.lang());
}

TEST(ReplaceSentences, FailedReplaceLeavesTheDocumentAsItWas) {
  Document doc = annotated();
  const std::string before = doc.to_conll();
  auto bad = records();
  bad[1].tokens[0].text.clear();
  expect_error<std::invalid_argument>([&] { doc.storage()->replace(bad); },
                                      "a token must have non-empty text");
  EXPECT_EQ(doc.to_conll(), before);
  EXPECT_TRUE(doc.sentences().at(0).constituency());
  EXPECT_EQ(doc.coref().size(), 1u);
  EXPECT_EQ(doc.storage()->num_word_rows(), 5u);
}

TEST(ReplaceSentences, EmptyListKeepsTextAndLanguageOnly) {
  Document doc = annotated();
  doc.storage()->replace({});
  EXPECT_EQ(doc.sentences().size(), 0u);
  EXPECT_EQ(doc.text(), "Ann ran.");
  EXPECT_EQ(doc.lang(), std::optional<std::string>("en"));
  EXPECT_EQ(doc.storage()->pool.size(), 2u) << "only the empty string and the language";
}

}  // namespace
