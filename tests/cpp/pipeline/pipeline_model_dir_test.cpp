// Building a pipeline against a model directory: argument checks come first, then every
// requested processor's bundle is resolved from the index in request order, and only then
// are requirements checked.

#include <gtest/gtest.h>

#include <velmora/pipeline.hpp>

#include "pipeline/pipeline_request.hpp"
#include "support/test_data.hpp"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using pipeline_test::Failure;
using pipeline_test::PackageMap;
using velmora::testing::SuiteTestData;

class ModelDirectory : public ::testing::Test {
 protected:
  /// Uses a model directory of tests/support/pipeline_model_dirs.py.
  void use_model_dir(const std::string& name) {
    ASSERT_TRUE(SuiteTestData::complete("pipeline")) << "writing the pipeline test data failed";
    root_ = SuiteTestData::dir("pipeline") / name;
  }

  fs::path index_path(const std::string& resources_version, const std::string& language) const {
    return fs::absolute(root_) / resources_version / language / "index.json";
  }

  Failure build_failure(pipeline_test::PipelineRequest request) const {
    request.model_dir = root_;
    return pipeline_test::build_failure(request);
  }

  // Until a test picks one: a model directory without any index.
  fs::path root_ = SuiteTestData::dir("pipeline") / "empty";
};

TEST_F(ModelDirectory, ArgumentChecksComeBeforeAnyIndexIsRead) {
  EXPECT_EQ(build_failure({.processors = {"tokenize", "tokenize"}}),
            (Failure{"invalid argument",
                     "a processor may only appear once in a pipeline: 'tokenize'"}));
  EXPECT_EQ(build_failure({.processors = {"tokenize"}, .package = PackageMap{{"ner", "x"}}}),
            (Failure{"invalid argument",
                     "package was specified for unrequested processor: 'ner'"}));
}

TEST_F(ModelDirectory, AnUnknownNameIsRefusedWithoutResolvingIt) {
  EXPECT_EQ(build_failure({.processors = {"parser"}}),
            (Failure{"invalid argument", "unknown processor: 'parser'"}));
}

TEST_F(ModelDirectory, ALanguageWithoutADirectoryHasNoIndex) {
  use_model_dir("tokenize_entries");
  EXPECT_EQ(build_failure({.language = "fr", .processors = {"tokenize"}}),
            (Failure{"bundle", "cannot open JSON file: " + index_path("1.14.0", "fr").string()}));
  EXPECT_EQ(build_failure({.processors = {"tokenize"}, .resources_version = "1.13.0"}),
            (Failure{"bundle", "cannot open JSON file: " + index_path("1.13.0", "en").string()}));
}

TEST_F(ModelDirectory, ResolutionRefusesUnsafeIdentities) {
  EXPECT_EQ(build_failure({.language = "en/x", .processors = {"tokenize"}}),
            (Failure{"bundle", "invalid language: en/x"}));
  EXPECT_EQ(build_failure({.processors = {"tokenize"}, .package = ".."}),
            (Failure{"bundle", "invalid package: .."}));
}

TEST_F(ModelDirectory, AnIndexDeclaringAnotherLanguageIsRefused) {
  use_model_dir("another_language");
  EXPECT_EQ(build_failure({.processors = {"tokenize"}}),
            (Failure{"bundle", "model index identity does not match requested model"}));
}

TEST_F(ModelDirectory, TheDefaultPackageIsAmbiguousAmongSeveralEntries) {
  use_model_dir("tokenize_entries");
  EXPECT_EQ(build_failure({.processors = {"tokenize"}}),
            (Failure{"bundle",
                     "package 'default' is ambiguous for converted processor 'tokenize'"}));
}

TEST_F(ModelDirectory, AProcessorWithoutAnEntryHasNoBundle) {
  use_model_dir("tokenize_entries");
  // Resolution runs before the requirement check, so pos alone fails on its missing bundle.
  EXPECT_EQ(build_failure({.processors = {"pos"}}),
            (Failure{"bundle", "no converted bundle for en/pos/default"}));
  EXPECT_EQ(build_failure({.processors = {"tokenize"}, .package = "craft"}),
            (Failure{"bundle", "no converted bundle for en/tokenize/craft"}));
}

TEST_F(ModelDirectory, AnEntryOfTheRequestedProcessorMustNameItsPackage) {
  use_model_dir("pos_without_package");
  EXPECT_EQ(build_failure({.processors = {"pos"}}),
            (Failure{"bundle", "missing JSON key 'package' at index.bundles[]"}));
}

TEST_F(ModelDirectory, ProcessorsAreResolvedInRequestOrderWithTheirOwnPackage) {
  use_model_dir("tokenize_entries");
  EXPECT_EQ(build_failure({.processors = {"pos", "ner"}}),
            (Failure{"bundle", "no converted bundle for en/pos/default"}));
  EXPECT_EQ(build_failure({.processors = {"ner", "pos"}}),
            (Failure{"bundle", "no converted bundle for en/ner/default"}));
  EXPECT_EQ(
      build_failure({.processors = {"tokenize"}, .package = PackageMap{{"tokenize", "craft"}}}),
      (Failure{"bundle", "no converted bundle for en/tokenize/craft"}));
  // A processor the map does not name asks for "default".
  EXPECT_EQ(build_failure({.processors = {"pos", "ner"}, .package = PackageMap{{"ner", "conll"}}}),
            (Failure{"bundle", "no converted bundle for en/pos/default"}));
}

}  // namespace
}  // namespace velmora
