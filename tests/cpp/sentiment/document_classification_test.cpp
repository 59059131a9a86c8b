// Documents: every sentence receives the class of its token texts, a list of documents is
// classified in shared batches, and a failing call leaves every sentiment as it was.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "document/document_records.hpp"
#include "test_support.hpp"
#include "velmora/document.hpp"
#include "velmora/errors.hpp"
#include "velmora/sentiment.hpp"

namespace {

using doc_test::mwt;
using doc_test::sentence;
using doc_test::sentence_of;
using doc_test::token;
using velmora::Document;
using velmora::SentimentPlan;

std::vector<std::optional<int>> sentiments(const Document& document) {
  std::vector<std::optional<int>> values;
  const auto all = document.sentences();
  for (std::uint64_t s = 0; s < all.size(); ++s) values.push_back(all.at(static_cast<long>(s)).sentiment());
  return values;
}

std::vector<std::optional<int>> engaged(const std::vector<std::int64_t>& classes) {
  std::vector<std::optional<int>> values;
  for (std::int64_t value : classes) values.emplace_back(static_cast<int>(value));
  return values;
}

Document reviews() {
  // "dogs'" is a multi-word token whose words are "dogs" and "'": it takes part as "dogs'".
  return Document("ignored", {sentence({"the", "movie", "was", "good"}),
                              sentence_of({token(1, "Paris"), mwt(2, "dogs'", {"dogs", "'"}), token(4, "bad")}),
                              sentence({"not", "fun"})});
}

const sentiment_test::Sentences kReviewTokens{{"the", "movie", "was", "good"}, {"Paris", "dogs'", "bad"}, {"not", "fun"}};

class SentimentDocuments : public ::testing::TestWithParam<std::string> {};

TEST_P(SentimentDocuments, EverySentenceTakesTheClassOfItsTokenTexts) {
  sentiment_test::require_data();
  const SentimentPlan plan(sentiment_test::model_dir(GetParam()), false);
  Document document = reviews();
  const Document result = plan.process(document);
  EXPECT_TRUE(result.same_storage(document));
  EXPECT_EQ(sentiments(document), engaged(plan.classify_many(kReviewTokens, 5000)));
}

TEST_P(SentimentDocuments, AListIsClassifiedInSharedBatches) {
  sentiment_test::require_data();
  const SentimentPlan plan(sentiment_test::model_dir(GetParam()), false);
  std::vector<Document> documents{reviews(), Document("no sentences"),
                                  Document("ignored", {sentence({"good", "good", "good"}), sentence({})})};
  const std::vector<Document> originals = documents;
  const std::vector<Document> results = plan.process_bulk(std::move(documents));
  ASSERT_EQ(results.size(), 3U);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(results[i].same_storage(originals[i]));
  sentiment_test::Sentences all = kReviewTokens;
  all.push_back({"good", "good", "good"});
  all.push_back({});
  const std::vector<std::optional<int>> expected = engaged(plan.classify_many(all, 5000));
  EXPECT_EQ(sentiments(results[0]), std::vector<std::optional<int>>(expected.begin(), expected.begin() + 3));
  EXPECT_TRUE(sentiments(results[1]).empty());
  EXPECT_EQ(sentiments(results[2]), std::vector<std::optional<int>>(expected.begin() + 3, expected.end()));
}

INSTANTIATE_TEST_SUITE_P(Models, SentimentDocuments, ::testing::Values("plain", "charlm_projected", "transformer"),
                         [](const auto& info) { return info.param; });

TEST(SentimentDocumentEdges, ReplacesEarlierSentimentsAndReturnsDocumentsWithoutSentencesUnchanged) {
  sentiment_test::require_data();
  const SentimentPlan plan(sentiment_test::model_dir("plain"), false);
  Document document = reviews();
  for (std::uint64_t s = 0; s < 3; ++s) document.sentences().at(static_cast<long>(s)).set_sentiment(-7);
  plan.process(document);
  for (const std::optional<int>& value : sentiments(document)) {
    ASSERT_TRUE(value.has_value());
    EXPECT_NE(*value, -7);
  }
  Document empty("nothing here");
  const std::string before = empty.to_conll();
  EXPECT_TRUE(plan.process(empty).same_storage(empty));
  EXPECT_EQ(empty.to_conll(), before);
  EXPECT_TRUE(plan.process_bulk({}).empty());
}

TEST(SentimentDocumentEdges, AFailingListLeavesEverySentimentAsItWas) {
  sentiment_test::require_data();
  const SentimentPlan plan(sentiment_test::model_dir("plain"), false);
  std::vector<Document> documents{Document("ignored", {sentence({"the", "cat"})}),
                                  Document("ignored", {sentence({"dog"}), sentence({"run", "away"})})};
  // A token text edited into ill-formed UTF-8 cannot be lower-cased for the vocabulary lookup.
  documents[1].sentences().at(1).tokens().at(1).set_text("\xFF\xFE");
  for (const Document& document : documents) {
    for (std::uint64_t s = 0; s < document.sentences().size(); ++s) {
      document.sentences().at(static_cast<long>(s)).set_sentiment(5);
    }
  }
  const std::vector<Document> originals = documents;
  EXPECT_THROW(plan.process_bulk(std::move(documents)), std::invalid_argument);
  EXPECT_EQ(sentiments(originals[0]), (std::vector<std::optional<int>>{5}));
  EXPECT_EQ(sentiments(originals[1]), (std::vector<std::optional<int>>{5, 5}));
}

}  // namespace
