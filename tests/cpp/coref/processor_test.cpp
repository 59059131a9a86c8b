// The coref pipeline stage with a loaded model forwards to its plan; without one it refuses.

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "document/document_records.hpp"
#include "velmora/document.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/processor.hpp"

namespace {

using velmora::CorefProcessor;
using velmora::Document;

Document two_sentences() {
  return Document("the cat saw the dog a dog saw the cat",
                  {doc_test::sentence({"the", "cat", "saw", "the", "dog"}), doc_test::sentence({"a", "dog", "the", "cat"})});
}

TEST(CorefProcessor, LoadedStageAnnotatesLikeItsPlan) {
  coref_test::require_data();
  const auto path = coref_test::data_dir() / "full";
  const CorefProcessor stage(path, false);
  EXPECT_TRUE(stage.implemented());
  EXPECT_EQ(stage.bundle_path(), velmora::CorefPlan(path, false).bundle().path());
  EXPECT_TRUE(stage.predicts_singletons());
  EXPECT_TRUE(stage.predicts_zero_anaphora());

  const Document document = two_sentences();
  const Document result = stage.process(document);
  EXPECT_TRUE(result.same_storage(document));
  const Document expected = velmora::CorefPlan(path, false).process(two_sentences());
  ASSERT_EQ(result.coref().size(), expected.coref().size());
  for (std::size_t i = 0; i < expected.coref().size(); ++i) {
    EXPECT_EQ(result.coref()[i]->representative_text(), expected.coref()[i]->representative_text());
    EXPECT_EQ(result.coref()[i]->mentions().size(), expected.coref()[i]->mentions().size());
  }
  const auto bulk = stage.process_bulk({two_sentences(), two_sentences()});
  ASSERT_EQ(bulk.size(), 2U);
  EXPECT_EQ(bulk[1].coref().size(), expected.coref().size());
}

TEST(CorefProcessor, StageWithoutModelRefusesModelOperations) {
  const CorefProcessor stage;
  EXPECT_FALSE(stage.implemented());
  EXPECT_FALSE(stage.bundle_path().has_value());
  EXPECT_THROW((void)stage.predicts_singletons(), velmora::ProcessorNotImplementedError);
  EXPECT_THROW((void)stage.process(two_sentences()), velmora::ProcessorNotImplementedError);
  EXPECT_TRUE(stage.process_bulk({}).empty());
}

}  // namespace
