// Building and running pipelines: the argument checks in their order, unknown names and the
// requirement check; against a model directory, every requested processor's bundle is resolved
// from the index in request order before requirements are checked; running text and documents.
#include <gtest/gtest.h>

#include <velmora/document.hpp>
#include <velmora/pipeline.hpp>

#include "pipeline/pipeline_request.hpp"
#include "support/test_data.hpp"

namespace velmora {
namespace {

using pipeline_test::Failure;
using pipeline_test::Names;
using pipeline_test::PackageMap;
using pipeline_test::PipelineRequest;

struct RefusedRequest {
  std::string description;
  PipelineRequest request;
  Failure failure;
};

TEST(PipelineValidation, RefusesFaultyRequestsWithTheFirstFailingCheck) {
  const std::string duplicate = "a processor may only appear once in a pipeline: ";
  const std::string missing = "' is missing requirements: ";
  const std::vector<RefusedRequest> cases = {
      {"empty language before duplicates",
       {.language = "", .processors = {"tokenize", "tokenize"}, .package = ""},
       {"invalid argument", "a pipeline language is required"}},
      {"empty package before empty resources version",
       {.processors = {"tokenize"}, .package = "", .resources_version = ""},
       {"invalid argument", "a pipeline package cannot be empty"}},
      {"empty resources version",
       {.processors = {"tokenize"}, .resources_version = ""},
       {"invalid argument", "a pipeline resources version cannot be empty"}},
      {"empty model directory before duplicates",
       {.processors = {"tokenize", "tokenize"}, .model_dir = std::filesystem::path()},
       {"invalid argument", "a pipeline model directory cannot be empty"}},
      {"duplicate name",
       {.processors = {"tokenize", "tokenize"}},
       {"invalid argument", duplicate + "'tokenize'"}},
      {"duplicate before the package map",
       {.processors = {"tokenize", "pos", "pos"}, .package = PackageMap{{"ner", "x"}}},
       {"invalid argument", duplicate + "'pos'"}},
      {"package for an unrequested processor",
       {.processors = {"tokenize"}, .package = PackageMap{{"ner", "conll03"}}},
       {"invalid argument", "package was specified for unrequested processor: 'ner'"}},
      {"empty package in the map",
       {.processors = {"tokenize"}, .package = PackageMap{{"tokenize", ""}}},
       {"invalid argument", "package for processor 'tokenize' cannot be empty"}},
      {"smaller faulty key first: unrequested",
       {.processors = {"tokenize"}, .package = PackageMap{{"tokenize", ""}, {"ner", "x"}}},
       {"invalid argument", "package was specified for unrequested processor: 'ner'"}},
      {"smaller faulty key first: empty",
       {.processors = {"tokenize", "lemma"}, .package = PackageMap{{"lemma", ""}, {"pos", "x"}}},
       {"invalid argument", "package for processor 'lemma' cannot be empty"}},
      {"unknown name after known ones",
       {.processors = {"tokenize", "parser"}},
       {"invalid argument", "unknown processor: 'parser'"}},
      {"unknown name before the requirement check",
       {.processors = {"pos", "Tokenize"}},
       {"invalid argument", "unknown processor: 'Tokenize'"}},
      {"pos alone",
       {.processors = {"pos"}},
       {"requirements", "processor 'pos" + missing + "tokenize"}},
      {"depparse alone",
       {.processors = {"depparse"}},
       {"requirements", "processor 'depparse" + missing + "tokenize, pos, lemma"}},
      {"depparse after tokenize",
       {.processors = {"tokenize", "depparse"}},
       {"requirements", "processor 'depparse" + missing + "pos, lemma"}},
      {"requirement provided only later",
       {.processors = {"lemma", "tokenize"}},
       {"requirements", "processor 'lemma" + missing + "tokenize"}},
      {"first processor with a gap is reported",
       {.processors = {"tokenize", "constituency", "depparse"}},
       {"requirements", "processor 'constituency" + missing + "pos"}},
  };
  for (const RefusedRequest& refused : cases) {
    SCOPED_TRACE(refused.description);
    EXPECT_EQ(pipeline_test::build_failure(refused.request), refused.failure);
  }
}

TEST(PipelineValidation, RequirementCheckAcceptsEveryOrderThatProvidesInTime) {
  for (const Names& processors :
       {Names{}, Names{"tokenize", "mwt", "pos", "lemma", "depparse"},
        Names{"langid", "tokenize", "pos", "constituency", "ner", "sentiment", "coref", "morphseg"},
        Names{"tokenize", "lemma", "pos", "depparse"}}) {
    EXPECT_EQ(pipeline_test::build_failure({.processors = processors}), (Failure{"none", ""}));
  }
}

TEST(PipelineValidation, WithoutModelsEveryProcessorIsModelLessInRequestOrder) {
  const Pipeline pipeline =
      pipeline_test::build({.processors = {"tokenize", "mwt", "pos", "lemma", "depparse"}});
  Names names;
  for (const std::shared_ptr<Processor>& processor : pipeline.processors()) {
    names.push_back(processor->name());
    EXPECT_FALSE(processor->implemented());
  }
  EXPECT_EQ(names, (Names{"tokenize", "mwt", "pos", "lemma", "depparse"}));
  pipeline.validate_requirements();
  EXPECT_TRUE(pipeline_test::build({}).processors().empty());
}

TEST(PipelineValidation, OnePackageServesEveryProcessor) {
  const Pipeline pipeline = pipeline_test::build({.language = "fr",
                                            .processors = {"tokenize", "pos"},
                                            .package = "gsd",
                                            .resources_version = "1.13.0"});
  EXPECT_EQ(pipeline.language(), "fr");
  EXPECT_EQ(pipeline.package(), "gsd");
  EXPECT_FALSE(pipeline.package_is_mapping());
  EXPECT_TRUE(pipeline.processor_packages().empty());
  EXPECT_EQ(pipeline.model_dir(), std::nullopt);
  EXPECT_EQ(pipeline.resources_version(), "1.13.0");
  EXPECT_EQ(pipeline.package_for("pos"), "gsd");
  EXPECT_EQ(pipeline.package_for("ner"), "gsd");
}

TEST(PipelineValidation, APackageMapFallsBackToDefault) {
  const PackageMap packages = {{"pos", "combined"}, {"tokenize", "ewt"}};
  const Pipeline pipeline =
      pipeline_test::build({.processors = {"tokenize", "pos", "lemma"}, .package = packages});
  EXPECT_EQ(pipeline.package(), "default");
  EXPECT_TRUE(pipeline.package_is_mapping());
  EXPECT_EQ(pipeline.processor_packages(), packages);
  EXPECT_EQ(pipeline.package_for("pos"), "combined");
  EXPECT_EQ(pipeline.package_for("tokenize"), "ewt");
  EXPECT_EQ(pipeline.package_for("lemma"), "default");
  EXPECT_EQ(pipeline.package_for("Pos"), "default");
  // An empty map is still a mapping.
  const Pipeline empty_map = pipeline_test::build({.processors = {"tokenize"}, .package = PackageMap{}});
  EXPECT_TRUE(empty_map.package_is_mapping());
  EXPECT_EQ(empty_map.package_for("tokenize"), "default");
}

TEST(PipelineValidation, WithoutModelsTheLanguageIsNotResolvedAndTheSubsetIsUnused) {
  const Pipeline pipeline = pipeline_test::build(
      {.language = "en/x", .processors = {"langid"}, .language_subset = {"en", "fr"}});
  const auto& langid = dynamic_cast<const LangIDProcessor&>(*pipeline.processors().at(0));
  EXPECT_TRUE(langid.language_subset().empty());
}

namespace fs = std::filesystem;
using velmora::testing::SuiteTestData;

// Each case uses a model directory of tests/support/pipeline_model_dirs.py ("empty" has no
// index at all) and fails with the first failing check: argument checks come before any index
// is read, every requested processor is resolved in request order with its own package, and
// resolution runs before the requirement check.
TEST(ModelDirectory, RefusesEachFaultyRequestOrDirectory) {
  ASSERT_TRUE(SuiteTestData::complete("pipeline")) << "writing the pipeline test data failed";
  const auto index_path = [](const std::string& version, const std::string& language) {
    return (fs::absolute(SuiteTestData::dir("pipeline") / "tokenize_entries") / version / language /
            "index.json")
        .string();
  };
  const struct {
    std::string dir;
    PipelineRequest request;
    Failure failure;
  } cases[] = {
      {"empty", {.processors = {"tokenize", "tokenize"}},
       {"invalid argument", "a processor may only appear once in a pipeline: 'tokenize'"}},
      {"empty", {.processors = {"tokenize"}, .package = PackageMap{{"ner", "x"}}},
       {"invalid argument", "package was specified for unrequested processor: 'ner'"}},
      {"empty", {.processors = {"parser"}}, {"invalid argument", "unknown processor: 'parser'"}},
      {"tokenize_entries", {.language = "fr", .processors = {"tokenize"}},
       {"bundle", "cannot open JSON file: " + index_path("1.14.0", "fr")}},
      {"tokenize_entries", {.processors = {"tokenize"}, .resources_version = "1.13.0"},
       {"bundle", "cannot open JSON file: " + index_path("1.13.0", "en")}},
      {"empty", {.language = "en/x", .processors = {"tokenize"}}, {"bundle", "invalid language: en/x"}},
      {"empty", {.processors = {"tokenize"}, .package = ".."}, {"bundle", "invalid package: .."}},
      {"another_language", {.processors = {"tokenize"}},
       {"bundle", "model index identity does not match requested model"}},
      {"tokenize_entries", {.processors = {"tokenize"}},
       {"bundle", "package 'default' is ambiguous for converted processor 'tokenize'"}},
      {"tokenize_entries", {.processors = {"pos"}}, {"bundle", "no converted bundle for en/pos/default"}},
      {"tokenize_entries", {.processors = {"tokenize"}, .package = "craft"},
       {"bundle", "no converted bundle for en/tokenize/craft"}},
      {"pos_without_package", {.processors = {"pos"}},
       {"bundle", "missing JSON key 'package' at index.bundles[]"}},
      {"tokenize_entries", {.processors = {"pos", "ner"}}, {"bundle", "no converted bundle for en/pos/default"}},
      {"tokenize_entries", {.processors = {"ner", "pos"}}, {"bundle", "no converted bundle for en/ner/default"}},
      {"tokenize_entries", {.processors = {"tokenize"}, .package = PackageMap{{"tokenize", "craft"}}},
       {"bundle", "no converted bundle for en/tokenize/craft"}},
      // A processor the map does not name asks for "default".
      {"tokenize_entries", {.processors = {"pos", "ner"}, .package = PackageMap{{"ner", "conll"}}},
       {"bundle", "no converted bundle for en/pos/default"}},
  };
  for (const auto& c : cases) {
    PipelineRequest request = c.request;
    request.model_dir = SuiteTestData::dir("pipeline") / c.dir;
    EXPECT_EQ(pipeline_test::build_failure(request), c.failure) << c.dir << " " << c.failure.message;
  }
}

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
