// The tokenization stage with a loaded model, alone and as the first stage of a pipeline
// built from a model directory.

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include <velmora/errors.hpp>
#include <velmora/pipeline.hpp>
#include <velmora/tokenizer.hpp>

#include <memory>

#include "pipeline/pipeline_request.hpp"
#include "support/test_data.hpp"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using pipeline_test::Failure;

const std::string text = "The quick brown Fox jumps. It costs $1,200.50 today!\n\nCall now.";

/// One model directory for the whole suite (tests/support/pipeline_model_dirs.py): an English
/// tokenizer bundle in the index, and a German index whose tokenizer entry names a directory
/// that does not exist.
class LoadedTokenizer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { at::set_num_threads(1); }
  void SetUp() override {
    ASSERT_TRUE(velmora::testing::SuiteTestData::complete("pipeline"))
        << "writing the pipeline test data failed";
  }

  static fs::path root() { return velmora::testing::SuiteTestData::dir("pipeline") / "loaded_tokenizer"; }
  static fs::path bundle() { return root() / "1.14.0" / "en" / "tokenize_default"; }
};

TEST_F(LoadedTokenizer, ReportsItsModelAndBundle) {
  const TokenizeProcessor processor(bundle(), false);
  EXPECT_TRUE(processor.implemented());
  EXPECT_EQ(processor.bundle_path(), bundle());
  EXPECT_EQ(processor.name(), "tokenize");
  EXPECT_TRUE(processor.requirements().empty());
}

TEST_F(LoadedTokenizer, ProcessBuildsANewDocumentInTheBundleLanguage) {
  const TokenizeProcessor processor(bundle(), true);
  const TokenizerPlan plan(bundle(), false);
  Document given(text);
  given.set_lang("fr");

  const Document result = processor.process(given);
  EXPECT_FALSE(result.same_storage(given));
  EXPECT_EQ(result.lang(), "en");
  EXPECT_EQ(result.to_conll(), plan.process(given).to_conll());
  EXPECT_GT(result.sentences().size(), 0u);
  // The given document is left as it was.
  EXPECT_EQ(given.sentences().size(), 0u);
  EXPECT_EQ(given.lang(), "fr");
}

TEST_F(LoadedTokenizer, ProcessBulkTokenizesEveryDocumentInOrder) {
  const TokenizeProcessor processor(bundle(), false);
  const std::vector<Document> given = {Document("Hello there. Bye."), Document(text)};
  const std::vector<Document> result = processor.process_bulk(given);
  ASSERT_EQ(result.size(), 2u);
  for (std::size_t index = 0; index < given.size(); ++index) {
    EXPECT_EQ(result[index].text(), given[index].text());
    EXPECT_EQ(result[index].to_conll(), processor.process(given[index]).to_conll());
  }
  EXPECT_TRUE(processor.process_bulk({}).empty());
}

TEST_F(LoadedTokenizer, PredictLabelsForwardsToTheModel) {
  const TokenizeProcessor processor(bundle(), false);
  const TokenizerPlan plan(bundle(), false);
  EXPECT_EQ(processor.predict_labels("Hello there. Bye."),
            plan.predict_labels("Hello there. Bye."));
}

TEST_F(LoadedTokenizer, APipelineLoadsTheIndexedBundle) {
  const Pipeline pipeline =
      pipeline_test::build({.processors = {"tokenize"}, .model_dir = root()});
  ASSERT_EQ(pipeline.processors().size(), 1u);
  const auto& tokenizer = dynamic_cast<const TokenizeProcessor&>(*pipeline.processors()[0]);
  EXPECT_TRUE(tokenizer.implemented());
  EXPECT_EQ(tokenizer.bundle_path(), bundle());

  const Document from_text = pipeline.process(text);
  EXPECT_EQ(from_text.lang(), "en");
  EXPECT_EQ(from_text.to_conll(), pipeline.process(Document(text)).to_conll());

  const std::vector<Document> bulk =
      pipeline.process_bulk(std::vector<std::string>{"A b.", text});
  ASSERT_EQ(bulk.size(), 2u);
  EXPECT_EQ(bulk[1].to_conll(), from_text.to_conll());
}

TEST_F(LoadedTokenizer, AnUnknownNameFailsAfterTheProcessorsBeforeItWereLoaded) {
  const pipeline_test::Names processors = {"tokenize", "parser"};
  EXPECT_EQ(pipeline_test::build_failure({.processors = processors, .model_dir = root()}),
            (Failure{"invalid argument", "unknown processor: 'parser'"}));
  // With a broken tokenizer entry the tokenizer's loading fails first.
  EXPECT_EQ(pipeline_test::build_failure(
                {.language = "de", .processors = processors, .model_dir = root()})
                .kind,
            "bundle");
}

TEST_F(LoadedTokenizer, BundleErrorsPassThroughUnchanged) {
  const fs::path missing = root() / "1.14.0" / "de" / "missing";
  const Failure direct = pipeline_test::failure_of([&] { TokenizeProcessor(missing, false); });
  EXPECT_EQ(direct.kind, "bundle");
  EXPECT_EQ(pipeline_test::build_failure(
                {.language = "de", .processors = {"tokenize"}, .model_dir = root()}),
            direct);
}

}  // namespace
}  // namespace velmora
