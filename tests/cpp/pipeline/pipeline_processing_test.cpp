// Running text and documents through a pipeline.

#include <gtest/gtest.h>

#include <velmora/document.hpp>
#include <velmora/pipeline.hpp>

#include "pipeline/pipeline_request.hpp"

namespace velmora {
namespace {

using pipeline_test::Failure;

const std::string tokenize_not_implemented =
    "the 'tokenize' processor is registered but native inference is not implemented";

TEST(PipelineProcessing, WithoutProcessorsTheGivenDocumentComesBack) {
  const Pipeline pipeline = pipeline_test::build({});
  const Document given("Hello world.");
  EXPECT_TRUE(pipeline.process(given).same_storage(given));

  const Document from_text = pipeline.process(std::string("Hello world."));
  EXPECT_EQ(from_text.text(), "Hello world.");
  EXPECT_EQ(from_text.sentences().size(), 0u);
}

TEST(PipelineProcessing, WithoutProcessorsAListComesBackInOrder) {
  const Pipeline pipeline = pipeline_test::build({});
  const std::vector<Document> given = {Document("a"), Document("b")};
  const std::vector<Document> result = pipeline.process_bulk(given);
  ASSERT_EQ(result.size(), 2u);
  EXPECT_TRUE(result[0].same_storage(given[0]));
  EXPECT_TRUE(result[1].same_storage(given[1]));

  const std::vector<Document> texts =
      pipeline.process_bulk(std::vector<std::string>{"x", "y", "z"});
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].text(), "x");
  EXPECT_EQ(texts[1].text(), "y");
  EXPECT_EQ(texts[2].text(), "z");
}

TEST(PipelineProcessing, AModelLessPipelineFailsInItsFirstProcessor) {
  const Pipeline pipeline =
      pipeline_test::build({.processors = {"tokenize", "mwt", "pos", "lemma", "depparse"}});
  const Failure expected{"not implemented", tokenize_not_implemented};
  EXPECT_EQ(pipeline_test::failure_of([&] { pipeline.process(std::string("Hi.")); }), expected);
  EXPECT_EQ(pipeline_test::failure_of([&] { pipeline.process(Document("Hi.")); }), expected);
  EXPECT_EQ(pipeline_test::failure_of([&] {
              pipeline.process_bulk(std::vector<std::string>{"Hi.", "Bye."});
            }),
            expected);
  EXPECT_EQ(pipeline_test::failure_of([&] {
              pipeline.process_bulk(std::vector<Document>{Document("Hi.")});
            }),
            expected);
}

TEST(PipelineProcessing, AModelLessPipelinePassesAnEmptyListThrough) {
  const Pipeline pipeline =
      pipeline_test::build({.processors = {"tokenize", "mwt", "pos", "lemma", "depparse"}});
  EXPECT_TRUE(pipeline.process_bulk(std::vector<std::string>{}).empty());
  EXPECT_TRUE(pipeline.process_bulk(std::vector<Document>{}).empty());
}

TEST(PipelineProcessing, BadTextsFailBeforeAnyProcessorRuns) {
  const Pipeline pipeline = pipeline_test::build({.processors = {"tokenize"}});
  const std::string invalid_utf8 = "caf\xC3";
  const Failure single = pipeline_test::failure_of([&] { pipeline.process(invalid_utf8); });
  EXPECT_NE(single.kind, "none");
  EXPECT_NE(single.kind, "not implemented");
  // The bad text is the second: every text becomes a document before the first stage runs.
  const Failure bulk = pipeline_test::failure_of([&] {
    pipeline.process_bulk(std::vector<std::string>{"fine", invalid_utf8});
  });
  EXPECT_EQ(bulk, single);
}

}  // namespace
}  // namespace velmora
