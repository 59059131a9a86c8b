// The langid pipeline stage: it loads the identifier, answers within its subset and sets the
// language of every document it processes, replacing any language set before.

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "velmora/document.hpp"
#include "velmora/langid.hpp"
#include "velmora/processor.hpp"

namespace {

using velmora::Document;
using velmora::LangIDPlan;
using velmora::LangIDProcessor;

TEST(LangIDProcessor, SetsTheLanguageOfEachDocument) {
  LANGID_REQUIRE_DATA();
  const LangIDPlan plan(langid_test::bundle("main"), false);
  const LangIDProcessor stage(langid_test::bundle("main"), false, {});
  Document document("the cat sat on the mat");
  document.set_lang("zz");
  const Document result = stage.process(document);
  EXPECT_TRUE(result.same_storage(document));
  EXPECT_EQ(result.lang(), plan.identify("the cat sat on the mat", {}));
  EXPECT_EQ(stage.identify("the cat sat on the mat"), *result.lang());
}

TEST(LangIDProcessor, ListOfDocumentsGetsOneAnswerEach) {
  LANGID_REQUIRE_DATA();
  const LangIDProcessor stage(langid_test::bundle("main"), false, {"it", "de"});
  const std::vector<std::string> texts = {"the cat", "x", "le chat est sur la table"};
  std::vector<Document> documents;
  for (const std::string& text : texts) documents.emplace_back(text);
  documents[1].set_lang("en");
  const std::vector<Document> result = stage.process_bulk(documents);
  ASSERT_EQ(result.size(), texts.size());
  const std::vector<std::string> answers = stage.identify_many(texts);
  for (std::size_t k = 0; k < texts.size(); ++k) {
    EXPECT_TRUE(result[k].same_storage(documents[k]));
    EXPECT_EQ(result[k].lang(), answers[k]);
    EXPECT_EQ(answers[k], stage.identify(texts[k]));
  }
  EXPECT_TRUE(stage.process_bulk({}).empty());
}

TEST(LangIDProcessor, EmptyDocumentTextFailsWithTheModelsError) {
  LANGID_REQUIRE_DATA();
  const LangIDProcessor stage(langid_test::bundle("main"), false, {});
  EXPECT_THROW(stage.process(Document("")), velmora::LangIDModelError);
  EXPECT_THROW(stage.process_bulk({Document("fine"), Document("")}), velmora::LangIDModelError);
}

}  // namespace
