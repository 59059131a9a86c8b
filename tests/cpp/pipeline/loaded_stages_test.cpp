// Stages with loaded models, alone and in pipelines built from a model directory: the tokenizer
// as the first stage, and expansion and lemmatization ("tokenize,mwt" and "tokenize,mwt,lemma").
#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include <velmora/errors.hpp>
#include <velmora/lemma.hpp>
#include <velmora/mwt.hpp>
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
  EXPECT_EQ(processor.predict_labels("Hello there. Bye."), plan.predict_labels("Hello there. Bye."));
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

const std::string long_text =
    "The quick brown Fox jumps over the lazy dog. It costs $1,200.50 today!\n\n"
    "Call (555) 123-4567 now. Name: Jo wrote to jo@example.com on March 3, 2020. Don't stop.";

/// One model directory for the whole suite (tests/support/pipeline_model_dirs.py): English and
/// German tokenizer, expander and lemmatizer bundles; the German lemmatizer reads POS tags.
class LoadedSeq2SeqStages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { at::set_num_threads(1); }
  void SetUp() override {
    ASSERT_TRUE(velmora::testing::SuiteTestData::complete("pipeline"))
        << "writing the pipeline test data failed";
  }

  static fs::path root() { return velmora::testing::SuiteTestData::dir("pipeline") / "seq2seq_stages"; }
  static fs::path bundle(const std::string& name, const std::string& lang = "en") {
    return root() / "1.14.0" / lang / (name + "_default");
  }
};

// A document of one sentence whose second token is marked as a multi-word token.
Document marked_document() {
  SentenceInput sentence;
  for (auto [id, word, misc] : {std::tuple{1, "I", ""}, std::tuple{2, "del", "MWT=Yes"}, std::tuple{3, "Jazz", "MWT=Yes"}}) {
    TokenInput token;
    token.id_start = token.id_end = id;
    token.text = word;
    if (*misc) token.misc = misc;
    sentence.tokens.push_back(token);
  }
  return Document("", {sentence});
}

TEST_F(LoadedSeq2SeqStages, TheStagesForwardToTheirModelsAndTheTagReaderNeedsPos) {
  const MWTProcessor mwt(bundle("mwt"), true);
  EXPECT_EQ(mwt.expand("del"), "de el");
  EXPECT_EQ(mwt.expand("Jazz"), MWTPlan(bundle("mwt"), false).expand("Jazz"));

  const LemmaProcessor lemma(bundle("lemma"), false);
  EXPECT_EQ(lemma.requirements(), (std::vector<std::string>{"tokenize"}));
  EXPECT_EQ(lemma.lemmatize("dogs", std::string("NOUN")), "dog");

  const LemmaProcessor with_pos(bundle("lemma", "de"), false);
  EXPECT_EQ(with_pos.requirements(), (std::vector<std::string>{"tokenize", "pos"}));
}

TEST_F(LoadedSeq2SeqStages, ExpansionRebuildsTheGivenDocument) {
  const MWTProcessor mwt(bundle("mwt"), false);
  const Document document = marked_document();
  const Document result = mwt.process(document);
  EXPECT_TRUE(result.same_storage(document));
  const Token del = document.tokens().at(1);
  EXPECT_EQ(del.id_range(), (std::pair<std::int32_t, std::int32_t>{2, 3}));
  EXPECT_EQ(del.words().at(0).text(), "de");
  EXPECT_FALSE(del.misc());
  EXPECT_EQ(mwt.process_bulk({marked_document(), marked_document()}).size(), 2u);
}

TEST_F(LoadedSeq2SeqStages, PipelinesRunEndToEnd) {
  const Pipeline expanding = pipeline_test::build({.processors = {"tokenize", "mwt"}, .model_dir = root()});
  const TokenizerPlan tokenizer(bundle("tokenize"), false);
  const MWTPlan expander(bundle("mwt"), false);
  const LemmaPlan lemmatizer(bundle("lemma"), false);
  const Document expanded = expanding.process(long_text);
  EXPECT_EQ(expanded.to_conll(), expander.process(tokenizer.process(Document(long_text))).to_conll());

  const Pipeline full = pipeline_test::build({.processors = {"tokenize", "mwt", "lemma"}, .model_dir = root()});
  const Document lemmatized = full.process(long_text);
  const WordSequence words = lemmatized.words();
  ASSERT_GT(words.size(), 10u);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const Word word = words.at(static_cast<long>(i));
    EXPECT_EQ(word.lemma(), lemmatizer.lemmatize(word.text(), word.upos())) << word.text();
  }
  const std::vector<Document> bulk = full.process_bulk(std::vector<std::string>{long_text, "Don't stop."});
  ASSERT_EQ(bulk.size(), 2u);
  EXPECT_EQ(bulk[0].to_conll(), lemmatized.to_conll());
}

TEST_F(LoadedSeq2SeqStages, ALemmatizerThatReadsTagsNeedsThePosStage) {
  EXPECT_EQ(pipeline_test::build_failure(
                {.language = "de", .processors = {"tokenize", "mwt", "lemma"}, .model_dir = root()})
                .kind,
            "requirements");
}

}  // namespace
}  // namespace velmora
