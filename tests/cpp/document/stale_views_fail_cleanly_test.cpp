// Views and sequences taken before the document shrank fail with their own error instead
// of reading past the end of a column.
#include <gtest/gtest.h>

#include "document_records.hpp"

namespace {

using namespace doc_test;
using velmora::Document;

TEST(StaleViews, ViewsOfRemovedRowsFailOnEveryAccess) {
  Document doc("", {sentence_of({tagged(token(1, "a"), "S-X"), token(2, "b")}), sentence({"c"})});
  velmora::Sentence sentence = doc.sentences().at(1);
  velmora::Token token = doc.tokens().at(2);
  velmora::Word word = doc.words().at(2);
  velmora::Span span = doc.ents().at(0);
  const auto tokens = doc.tokens();
  doc.storage()->replace({velmora::SentenceInput{}});

  expect_error<std::out_of_range>([&] { sentence.text(); }, "invalid sentence view");
  expect_error<std::out_of_range>([&] { sentence.set_sentiment(1); }, "invalid sentence view");
  expect_error<std::out_of_range>([&] { sentence.to_conll(); }, "invalid sentence view");
  expect_error<std::out_of_range>([&] { token.text(); }, "invalid token view");
  expect_error<std::out_of_range>([&] { token.set_ner("O"); }, "invalid token view");
  expect_error<std::out_of_range>([&] { word.lemma(); }, "invalid word view");
  expect_error<std::out_of_range>([&] { word.set_lemma("x"); }, "invalid word view");
  expect_error<std::out_of_range>([&] { word.parent(); }, "invalid word view");
  expect_error<std::out_of_range>([&] { span.text(); }, "invalid span view");
  expect_error<std::out_of_range>([&] { span.words(); }, "invalid span view");
  expect_error<std::out_of_range>([&] { tokens.at(0); }, "invalid token view");
}

TEST(StaleViews, DroppedGeneratedEmptyWordsFail) {
  Document doc("", {sentence({"a"})});
  doc.storage()->add_empty_word(0, empty_word(1, 1, "gen"));
  const velmora::Word generated = doc.sentences().at(0).empty_words().at(0);
  const auto empty_words = doc.sentences().at(0).empty_words();
  doc.storage()->reset_generated_empty_words();
  expect_error<std::out_of_range>([&] { generated.text(); }, "invalid word view");
  expect_error<std::out_of_range>([&] { empty_words.at(0); }, "invalid word view");
  EXPECT_EQ(doc.sentences().at(0).empty_words().size(), 0u);
}

}  // namespace
