// The sentiment stage with a loaded model: its identity, its bundle, and operations that forward
// to the classifier unchanged.

#include <gtest/gtest.h>

#include "document/document_records.hpp"
#include "pipeline/processor_loading.hpp"
#include "test_support.hpp"
#include "velmora/document.hpp"
#include "velmora/errors.hpp"
#include "velmora/processor.hpp"
#include "velmora/sentiment.hpp"

namespace {

using velmora::Document;
using velmora::SentimentPlan;
using velmora::SentimentProcessor;

TEST(SentimentProcessorWithModel, ReportsItsModelBundleAndTableRow) {
  sentiment_test::require_data();
  const SentimentProcessor processor(sentiment_test::model_dir("plain"), true);
  EXPECT_TRUE(processor.implemented());
  EXPECT_EQ(processor.bundle_path(), std::filesystem::absolute(sentiment_test::model_dir("plain")));
  EXPECT_EQ(processor.name(), "sentiment");
  EXPECT_EQ(processor.requirements(), std::vector<std::string>{"tokenize"});
  EXPECT_EQ(processor.module(), "extended");
}

TEST(SentimentProcessorWithModel, ForwardsClassificationAndDocumentsToItsPlan) {
  sentiment_test::require_data();
  const SentimentProcessor processor(sentiment_test::model_dir("concat_bilstm"), false);
  const SentimentPlan plan(sentiment_test::model_dir("concat_bilstm"), false);
  const sentiment_test::Sentences sentences{{"the", "movie"}, {"not", "good", "at", "all"}, {}};
  EXPECT_EQ(processor.classify(sentences[1]), plan.classify(sentences[1]));
  EXPECT_EQ(processor.classify_many(sentences, 2), plan.classify_many(sentences, 2));
  EXPECT_THROW(processor.classify_many(sentences, 0), std::invalid_argument);

  Document document("ignored", {doc_test::sentence(sentences[0]), doc_test::sentence(sentences[1])});
  EXPECT_TRUE(processor.process(document).same_storage(document));
  const std::vector<std::int64_t> expected = plan.classify_many({sentences[0], sentences[1]}, 5000);
  EXPECT_EQ(document.sentences().at(0).sentiment(), static_cast<int>(expected[0]));
  EXPECT_EQ(document.sentences().at(1).sentiment(), static_cast<int>(expected[1]));

  Document other("ignored", {doc_test::sentence(sentences[1])});
  const std::vector<Document> results = processor.process_bulk({other});
  ASSERT_EQ(results.size(), 1U);
  EXPECT_EQ(other.sentences().at(0).sentiment(), static_cast<int>(expected[1]));
}

TEST(SentimentProcessorWithModel, PipelineLoadingBuildsItFromABundleAndPassesLoadErrorsOn) {
  sentiment_test::require_data();
  const auto processor = velmora::detail::load_processor(velmora::detail::ProcessorKind::sentiment,
                                                         sentiment_test::model_dir("plain"), false, {});
  EXPECT_TRUE(processor->implemented());
  EXPECT_NE(dynamic_cast<const SentimentProcessor*>(processor.get()), nullptr);
  EXPECT_THROW(velmora::detail::load_processor(velmora::detail::ProcessorKind::sentiment,
                                               sentiment_test::data_dir() / "refused" / "processor_ner", false, {}),
               velmora::SentimentModelError);
}

}  // namespace
