// Resolving a bundle directory from a model directory's index.json.

#include <gtest/gtest.h>

#include "bundle/bundle_fixtures.hpp"
#include "velmora/model_bundle.hpp"

namespace {

using velmora::ModelBundleError;
using velmora::resolve_model_bundle;
using velmora::testing::TempDir;
using velmora::testing::write_file;

class ModelIndexTest : public ::testing::Test {
 protected:
  TempDir temp_{"model_index"};
  std::filesystem::path root() const { return temp_.path(); }
  std::filesystem::path language_dir() const { return root() / "1.14.0" / "en"; }

  void write_index(const std::string& bundles, const std::string& header =
                                                   R"("format": "velmora-model-index",
      "format_version": 1, "resources_version": "1.14.0", "language": "en")") {
    write_file(language_dir() / "index.json", "{" + header + ", \"bundles\": [" + bundles + "]}");
  }

  std::string error_of(std::string_view processor, std::string_view package,
                       std::string_view language = "en", std::string_view version = "1.14.0") {
    try {
      resolve_model_bundle(root(), version, language, processor, package);
    } catch (const ModelBundleError& error) {
      return error.what();
    }
    return "<resolved>";
  }
};

constexpr const char* kTwoTokenizers = R"(
  {"processor": "tokenize", "package": "default", "path": "a"},
  {"processor": "tokenize", "package": "ewt", "path": "nested/b"},
  {"processor": "pos", "package": "gum", "path": "pos_gum"},
  {"processor": "lemma", "path": "/never/checked/../x"})";

TEST_F(ModelIndexTest, ResolvesThePackageNamedOrTheOnlyOneForDefault) {
  write_index(kTwoTokenizers);
  EXPECT_EQ(resolve_model_bundle(root(), "1.14.0", "en", "tokenize", "ewt"),
            language_dir() / "nested/b");
  EXPECT_EQ(resolve_model_bundle(root(), "1.14.0", "en", "pos", "default"),
            language_dir() / "pos_gum");
  EXPECT_EQ(resolve_model_bundle(root(), "1.14.0", "en", "pos", "gum"),
            language_dir() / "pos_gum");
  // The result is made absolute but is neither normalized nor checked for existence.
  const std::filesystem::path relative = std::filesystem::relative(root());
  EXPECT_EQ(resolve_model_bundle(relative, "1.14.0", "en", "pos", "gum"),
            std::filesystem::current_path() / relative / "1.14.0" / "en" / "pos_gum");
}

TEST_F(ModelIndexTest, RefusesAmbiguousOrMissingBundles) {
  write_index(kTwoTokenizers);
  EXPECT_EQ(error_of("tokenize", "default"),
            "package 'default' is ambiguous for converted processor 'tokenize'");
  EXPECT_EQ(error_of("tokenize", "gum"), "no converted bundle for en/tokenize/gum");
  EXPECT_EQ(error_of("ner", "default"), "no converted bundle for en/ner/default");
  // An entry of the requested processor must name its package even for "default".
  EXPECT_EQ(error_of("lemma", "default"), "missing JSON key 'package' at index.bundles[]");
  write_index(R"({"processor": "pos", "package": "x", "path": "p1"},
                 {"processor": "pos", "package": "x", "path": "p2"})");
  EXPECT_EQ(error_of("pos", "x"), "package 'default' is ambiguous for converted processor 'pos'");
}

TEST_F(ModelIndexTest, ChecksPathsOfSelectedEntriesOnly) {
  write_index(R"({"processor": "pos", "package": "a", "path": "ok/../../escape"},
                 {"processor": "pos", "package": "b", "path": "/abs"},
                 {"processor": "pos", "package": "c", "path": ""},
                 {"processor": "pos", "package": "d", "path": 3},
                 {"processor": "pos", "package": "e", "path": "./fine"},
                 {"processor": "pos", "package": "f"})");
  EXPECT_EQ(error_of("pos", "a"), "bundle path may not traverse parents at index.bundles[].path");
  EXPECT_EQ(error_of("pos", "b"),
            "bundle path must be non-empty and relative at index.bundles[].path");
  EXPECT_EQ(error_of("pos", "c"),
            "bundle path must be non-empty and relative at index.bundles[].path");
  EXPECT_EQ(error_of("pos", "d"), "expected JSON string at index.bundles[].path");
  EXPECT_EQ(error_of("pos", "e"), "<resolved>");
  EXPECT_EQ(error_of("pos", "f"), "missing JSON key 'path' at index.bundles[]");
}

TEST_F(ModelIndexTest, RefusesALinkThatLeavesTheLanguageDirectory) {
  write_index(R"({"processor": "pos", "package": "a", "path": "linked"})");
  std::filesystem::create_directories(root() / "elsewhere");
  std::filesystem::create_directory_symlink(root() / "elsewhere", language_dir() / "linked");
  EXPECT_EQ(error_of("pos", "a"), "bundle path leaves its directory at index.bundles[].path");

  // The index itself may not be a link out of its directory either.
  std::filesystem::remove(language_dir() / "index.json");
  write_file(root() / "elsewhere" / "index.json",
             R"({"format": "velmora-model-index", "format_version": 1, "resources_version": "1.14.0",
                 "language": "en", "bundles": [{"processor": "pos", "package": "a", "path": "b"}]})");
  std::filesystem::create_symlink(root() / "elsewhere" / "index.json", language_dir() / "index.json");
  EXPECT_EQ(error_of("pos", "a"), "bundle path leaves its directory at index.json");
}

TEST_F(ModelIndexTest, RefusesInvalidIdentityParts) {
  write_index(kTwoTokenizers);
  EXPECT_EQ(error_of("tokenize", "ewt", "en/x"), "invalid language: en/x");
  EXPECT_EQ(error_of("tokenize", ""), "invalid package: ");
  EXPECT_EQ(error_of("..", "ewt"), "invalid processor: ..");
  EXPECT_EQ(error_of("tokenize", "ewt", "en", "."), "invalid resources version: .");
  EXPECT_EQ(error_of("tokenize", "e w"), "invalid package: e w");
  EXPECT_EQ(error_of("tokenize", "ewt", "\xC3\xA9n"), "invalid language: \xC3\xA9n");
  // Checked in order: resources version first.
  EXPECT_EQ(error_of("/", "", "", "a b"), "invalid resources version: a b");
  for (const char* valid : {"1.14.0", "en", "grc", "zh-hans", "a_b", "..."}) {
    EXPECT_NO_THROW(velmora::detail::validate_model_identity(valid, "language")) << valid;
  }
}

TEST_F(ModelIndexTest, RefusesIndexesOfAnotherFormatOrIdentity) {
  EXPECT_EQ(error_of("pos", "gum"),
            "cannot open JSON file: " + (language_dir() / "index.json").string());
  const std::pair<std::string, std::string> cases[] = {
      {R"("format": "velmora-model-index", "format_version": 2, "resources_version": "1.14.0",
          "language": "en")",
       "unsupported model index format"},
      {R"("format": "velmora-model-bundle", "format_version": 1, "resources_version": "1.14.0",
          "language": "en")",
       "unsupported model index format"},
      {R"("format": "velmora-model-index", "format_version": "1")", "expected JSON integer"},
      {R"("format": "velmora-model-index", "format_version": 1, "resources_version": "1.14.1",
          "language": "en")",
       "model index identity does not match requested model"},
      {R"("format": "velmora-model-index", "format_version": 1, "resources_version": "1.14.0",
          "language": "EN")",
       "model index identity does not match requested model"},
      {R"("format": "velmora-model-index", "format_version": 1, "resources_version": "1.14.0")",
       "missing JSON key 'language' at index"},
  };
  for (const auto& [header, message] : cases) {
    write_index(kTwoTokenizers, header);
    EXPECT_EQ(error_of("pos", "gum"), message) << header;
  }
  write_file(language_dir() / "index.json", R"({"format": "velmora-model-index", "format_version": 1,
      "resources_version": "1.14.0", "language": "en", "bundles": {}})");
  EXPECT_EQ(error_of("pos", "gum"), "expected JSON array at index.bundles");
  write_file(language_dir() / "index.json", "[");
  EXPECT_EQ(error_of("pos", "gum"), "unexpected end of JSON at JSON byte 1");
}

}  // namespace
