// Checking a pipeline request without model directories: the argument checks in their order,
// unknown names and the requirement check.

#include <gtest/gtest.h>

#include <velmora/pipeline.hpp>

#include "pipeline/pipeline_request.hpp"

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
}

TEST(PipelineValidation, AnEmptyRequestBuildsNoProcessors) {
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
}

TEST(PipelineValidation, AnEmptyPackageMapIsStillAMapping) {
  const Pipeline pipeline =
      pipeline_test::build({.processors = {"tokenize"}, .package = PackageMap{}});
  EXPECT_TRUE(pipeline.package_is_mapping());
  EXPECT_EQ(pipeline.package_for("tokenize"), "default");
}

TEST(PipelineValidation, WithoutModelsTheLanguageIsNotResolvedAndTheSubsetIsUnused) {
  const Pipeline pipeline = pipeline_test::build(
      {.language = "en/x", .processors = {"langid"}, .language_subset = {"en", "fr"}});
  const auto& langid = dynamic_cast<const LangIDProcessor&>(*pipeline.processors().at(0));
  EXPECT_TRUE(langid.language_subset().empty());
}

}  // namespace
}  // namespace velmora
