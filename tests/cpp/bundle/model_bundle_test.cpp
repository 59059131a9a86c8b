// Opening model bundles written by the shared Python writer: the tensor table, the
// mappings, and every refusal with its exact message.
//
// Tensors "first" (float32 2x3 = 0..5), "second" (int64 [7, 8, 9]), "empty" (float32 0x7),
// "last" (float16 scalar 1.5); 64-byte alignment leaves gaps of filler bytes between them.

#include <sys/stat.h>

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "bundle/bundle_fixtures.hpp"
#include "support/test_data.hpp"
#include "velmora/model_bundle.hpp"

namespace {

using velmora::ModelBundle;
using velmora::ModelBundleError;
using velmora::testing::SuiteTestData;
using velmora::testing::TempDir;
using velmora::testing::write_file;

// Bundles written by tests/support/model_bundle_cases.py, which breaks each failure case's
// bundle in one way.
struct FailureCase {
  const char* name;
  bool verify;
  const char* message;  // "{dir}" stands for the bundle's absolute directory, "{ff}" for the
                        // offset of the first 0xFF byte in its manifest
};

const FailureCase kFailures[] = {
    {"format", false, "unsupported model bundle format"},
    {"format_version", false, "unsupported model bundle version"},
    {"version_text", false, "expected JSON integer"},
    {"byte_order", false, "only little-endian bundles are supported"},
    {"no_language", false, "missing JSON key 'language' at manifest"},
    {"no_tensors", false, "missing JSON key 'tensors' at manifest"},
    {"alignment_0", false, "tensor alignment must be a non-zero power of two"},
    {"alignment_3", false, "tensor alignment must be a non-zero power of two"},
    {"alignment_negative", false, "expected a non-negative integer at manifest.tensor_alignment"},
    {"assets_absolute", false,
     "bundle path must be non-empty and relative at manifest.assets.path"},
    {"assets_empty", false, "bundle path must be non-empty and relative at manifest.assets.path"},
    {"assets_parent", false, "bundle path may not traverse parents at manifest.assets.path"},
    {"assets_inner_parent", false, "bundle path may not traverse parents at manifest.assets.path"},
    {"assets_not_string", false, "expected JSON string at manifest.assets.path"},
    {"assets_missing", false, "cannot open JSON file: {dir}/assets.json"},
    {"tensor_file_missing", false,
     "cannot open tensor file: {dir}/tensors.bin: No such file or directory"},
    {"tensor_file_size", false, "tensor file size mismatch"},
    {"tensor_file_size_negative", false,
     "expected a non-negative integer at manifest.tensor_file.size"},
    {"tensor_file_parent", false,
     "bundle path may not traverse parents at manifest.tensor_file.path"},
    {"artifacts_null", false, "expected JSON array at manifest.artifacts"},
    {"artifact_missing", false,
     "cannot open tensor file: {dir}/model.pt2: No such file or directory"},
    {"artifact_size", false, "artifact file size mismatch: 'model.pt2'"},
    {"artifact_no_digest", false, "missing JSON key 'sha256' at manifest.artifacts[0]"},
    {"artifact_parent", false,
     "bundle path may not traverse parents at manifest.artifacts[0].path"},
    {"name_not_string", false, "expected JSON string at manifest.tensors[1]"},
    {"offset_negative", false, "expected a non-negative integer at manifest.tensors[0].offset"},
    {"nbytes_missing", false, "missing JSON key 'nbytes' at manifest.tensors[0]"},
    {"tensor_no_digest", false, "missing JSON key 'sha256' at manifest.tensors[0]"},
    {"shape_float", false, "expected JSON integer at manifest.tensors[0].shape"},
    {"negative_dimension", false, "negative tensor dimension for 'first'"},
    {"misaligned", false, "misaligned tensor: 'last'"},
    {"overlapping", false, "invalid tensor range: 'second'"},
    {"beyond_file", false, "invalid tensor range: 'last'"},
    {"past_end", false, "invalid tensor range: 'second'"},
    {"bad_dtype", false, "unsupported tensor dtype: float8"},
    {"size_overflow", false, "tensor size overflow: 'first'"},
    {"shape_mismatch", false, "tensor byte size does not match dtype and shape: 'first'"},
    {"duplicate_name", false, "duplicate tensor name: 'first'"},
    {"assets_digest", true, "assets checksum mismatch"},
    {"assets_no_digest", true, "missing JSON key 'sha256' at manifest.assets"},
    {"tensor_file_no_digest", true, "missing JSON key 'sha256' at manifest.tensor_file"},
    {"tensor_file_digest", true, "tensor file checksum mismatch"},
    {"uppercase_digest", true, "tensor file checksum mismatch"},
    {"flipped_tensor_byte", true, "tensor file checksum mismatch"},
    {"flipped_gap_byte", true, "tensor file checksum mismatch"},
    {"tensor_digest", true, "tensor checksum mismatch: 'first'"},
    {"artifact_digest", true, "artifact checksum mismatch: 'model.pt2'"},
    {"language_not_utf8", false, "invalid UTF-8 in string at JSON byte {ff}"},
};

std::string open_error(const std::filesystem::path& dir, bool verify) {
  try {
    ModelBundle bundle(dir, verify);
  } catch (const ModelBundleError& error) {
    return error.what();
  }
  return "<opened>";
}

class ModelBundleTest : public ::testing::Test {
 protected:
  // A writable copy of the suite's bundles: some cases add bundles next to them.
  static void SetUpTestSuite() {
    ASSERT_TRUE(SuiteTestData::complete("bundle")) << "writing the bundle test data failed";
    temp_ = std::make_unique<TempDir>("bundles");
    std::filesystem::copy(SuiteTestData::dir("bundle"), temp_->path(),
                          std::filesystem::copy_options::recursive);
  }
  static void TearDownTestSuite() { temp_.reset(); }

  static std::filesystem::path dir(const std::string& name) { return temp_->path() / name; }

  static std::unique_ptr<TempDir> temp_;
};

std::unique_ptr<TempDir> ModelBundleTest::temp_;

TEST_F(ModelBundleTest, OpensAndVerifiesAWellFormedBundle) {
  const ModelBundle bundle(dir("valid"), true);
  EXPECT_TRUE(bundle.checksums_verified());
  EXPECT_EQ(bundle.path(), dir("valid"));
  EXPECT_EQ(bundle.language(), "de");
  EXPECT_EQ(bundle.processor(), "pos");
  EXPECT_EQ(bundle.package(), "gsd");
  EXPECT_EQ(bundle.dorvek_version(), "1.10.0");
  EXPECT_EQ(bundle.resources_version(), "1.14.0");
  EXPECT_EQ(bundle.assets_json(), R"({"config": {"hidden": 3}, "vocab": ["a", "b"]})");
  EXPECT_EQ(bundle.tensor_names(), (std::vector<std::string>{"first", "second", "empty", "last"}));
  EXPECT_EQ(bundle.tensor_file_size(), std::filesystem::file_size(dir("valid") / "tensors.bin"));

  const velmora::TensorDescriptor& first = bundle.tensor("first");
  EXPECT_EQ(first.dtype, "float32");
  EXPECT_EQ(first.shape, (std::vector<std::int64_t>{2, 3}));
  EXPECT_EQ(first.offset, 0u);
  EXPECT_EQ(first.nbytes, 24u);
  EXPECT_EQ(first.sha256.size(), 64u);
  float floats[6];
  std::memcpy(floats, bundle.tensor_data("first"), sizeof floats);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(floats[i], static_cast<float>(i));

  const velmora::TensorDescriptor& second = bundle.tensor("second");
  EXPECT_EQ(second.offset, 64u);
  std::int64_t ints[3];
  std::memcpy(ints, bundle.tensor_data("second"), sizeof ints);
  EXPECT_EQ(ints[2], 9);
  // A zero-byte tensor may share its offset with the tensor after it.
  EXPECT_EQ(bundle.tensor("empty").nbytes, 0u);
  EXPECT_EQ(bundle.tensor("empty").offset, bundle.tensor("last").offset);
  EXPECT_TRUE(bundle.tensor("last").shape.empty());
  EXPECT_EQ(bundle.tensor("last").nbytes, 2u);
}

TEST_F(ModelBundleTest, WithoutVerificationNoDigestIsChecked) {
  const ModelBundle bundle(dir("tensor_digest"), false);
  EXPECT_FALSE(bundle.checksums_verified());
  EXPECT_NO_THROW(ModelBundle(dir("no_digests"), false));
  EXPECT_NO_THROW(ModelBundle(dir("flipped_tensor_byte"), false));
}

TEST_F(ModelBundleTest, AcceptsOptionalAndExtraMembers) {
  for (const char* name : {"no_artifacts", "artifacts_absent", "extra_member", "dot_path"}) {
    EXPECT_EQ(open_error(dir(name), true), "<opened>") << name;
  }
  EXPECT_EQ(ModelBundle(dir("dot_path"), false).assets_json(),
            ModelBundle(dir("valid"), false).assets_json());
}

TEST_F(ModelBundleTest, AcceptsEveryDtypeOfTheTable) {
  const ModelBundle bundle(dir("all_dtypes"), true);
  std::size_t wide = 0;
  for (const velmora::TensorDescriptor& tensor : bundle.tensors()) {
    EXPECT_EQ(tensor.nbytes, 2 * tensor.element_size()) << tensor.dtype;
    wide += tensor.element_size() == 16;
  }
  EXPECT_EQ(bundle.tensors().size(), 15u);
  EXPECT_EQ(wide, 1u);
}

TEST_F(ModelBundleTest, EmptyTensorFileIsNotMapped) {
  const ModelBundle bundle(dir("empty_file"), true);
  EXPECT_EQ(bundle.tensor_file_size(), 0u);
  EXPECT_EQ(bundle.tensor_data("e"), nullptr);
  EXPECT_EQ(bundle.tensor("f").shape, (std::vector<std::int64_t>{3, 0}));
  EXPECT_TRUE(bundle.tensor("f").aligned());
}

TEST_F(ModelBundleTest, TightPackingReportsTensorsThatCannotBeReadInPlace) {
  const ModelBundle bundle(dir("packed"), true);
  EXPECT_EQ(bundle.tensor("floats").offset, 3u);
  EXPECT_FALSE(bundle.tensor("floats").aligned());
  EXPECT_TRUE(bundle.tensor("bytes").aligned());
  EXPECT_TRUE(bundle.tensor("none").aligned());
  EXPECT_EQ(bundle.tensor("next").offset, 11u);
  EXPECT_FALSE(bundle.tensor("next").aligned());
  float value = 0;
  std::memcpy(&value, bundle.tensor_data("floats") + 4, sizeof value);
  EXPECT_EQ(value, -2.0f);
}

TEST_F(ModelBundleTest, RefusesBrokenBundlesWithTheirMessage) {
  for (const FailureCase& failure : kFailures) {
    std::string expected = failure.message;
    if (auto at = expected.find("{dir}"); at != std::string::npos) {
      expected.replace(at, 5, dir(failure.name).string());
    }
    if (auto at = expected.find("{ff}"); at != std::string::npos) {
      const std::string manifest =
          velmora::detail::load_text_file(dir(failure.name) / "manifest.json");
      expected.replace(at, 4, std::to_string(manifest.find('\xFF')));
    }
    EXPECT_EQ(open_error(dir(failure.name), failure.verify), expected) << failure.name;
  }
}

TEST_F(ModelBundleTest, UnknownTensorNamesAreRefused) {
  const ModelBundle bundle(dir("valid"), false);
  EXPECT_EQ(open_error(dir("valid"), false), "<opened>");
  for (const auto& lookup : std::vector<std::function<void()>>{
           [&] { bundle.tensor("nope"); }, [&] { bundle.tensor_data("nope"); }}) {
    try {
      lookup();
      ADD_FAILURE() << "no error";
    } catch (const ModelBundleError& error) {
      EXPECT_STREQ(error.what(), "tensor is not present in bundle: 'nope'");
    }
  }
}

TEST_F(ModelBundleTest, MovedBundleKeepsItsMappings) {
  ModelBundle original(dir("valid"), false);
  const std::byte* data = original.tensor_data("second");
  ModelBundle moved(std::move(original));
  EXPECT_EQ(moved.tensor_data("second"), data);
  ModelBundle assigned(dir("no_artifacts"), false);
  assigned = std::move(moved);
  EXPECT_EQ(assigned.tensor_data("second"), data);
}

// Cases that need the file system arranged by hand: copies of the valid bundle.
std::filesystem::path copy_of_valid(const std::filesystem::path& valid, const std::string& name) {
  const std::filesystem::path target = valid.parent_path() / name;
  std::filesystem::remove_all(target);
  std::filesystem::copy(valid, target, std::filesystem::copy_options::recursive);
  return target;
}

TEST_F(ModelBundleTest, RefusesAMissingDirectoryOrManifest) {
  EXPECT_EQ(open_error(dir("absent"), false), "model bundle is not a directory: " + dir("absent").string());
  const std::filesystem::path file = dir("valid") / "assets.json";
  EXPECT_EQ(open_error(file, false), "model bundle is not a directory: " + file.string());
  const std::filesystem::path empty = dir("empty_dir");
  std::filesystem::create_directories(empty);
  EXPECT_EQ(open_error(empty, false),
            "cannot open JSON file: " + (empty / "manifest.json").string());
  const std::filesystem::path broken = copy_of_valid(dir("valid"), "broken_manifest");
  write_file(broken / "manifest.json", "{\"format\": \"velmora-model-bundle\",}");
  EXPECT_EQ(open_error(broken, false), "expected object key at JSON byte 34");
}

TEST_F(ModelBundleTest, KeepsARelativePathAsGivenButAbsolute) {
  const std::filesystem::path relative = std::filesystem::relative(dir("valid"));
  ASSERT_TRUE(relative.is_relative());
  EXPECT_EQ(ModelBundle(relative, false).path(), std::filesystem::current_path() / relative);
}

TEST_F(ModelBundleTest, RefusesTensorFilesThatAreNotRegularFiles) {
  const std::filesystem::path fifo = copy_of_valid(dir("valid"), "fifo");
  std::filesystem::remove(fifo / "tensors.bin");
  ASSERT_EQ(::mkfifo((fifo / "tensors.bin").c_str(), 0600), 0);
  // Must fail at once rather than block waiting for a writer.
  EXPECT_EQ(open_error(fifo, false),
            "tensor file is not a regular file: " + (fifo / "tensors.bin").string());

  const std::filesystem::path directory = copy_of_valid(dir("valid"), "directory");
  std::filesystem::remove(directory / "model.pt2");
  std::filesystem::create_directory(directory / "model.pt2");
  EXPECT_EQ(open_error(directory, false),
            "tensor file is not a regular file: " + (directory / "model.pt2").string());
}

TEST_F(ModelBundleTest, SymbolicLinksMayNotLeaveTheBundle) {
  const std::filesystem::path escape = copy_of_valid(dir("valid"), "escape");
  std::filesystem::remove(escape / "assets.json");
  std::filesystem::create_symlink(dir("valid") / "assets.json", escape / "assets.json");
  EXPECT_EQ(open_error(escape, false),
            "bundle path leaves its directory at manifest.assets.path");

  const std::filesystem::path escape_up = copy_of_valid(dir("valid"), "escape_up");
  std::filesystem::remove(escape_up / "tensors.bin");
  std::filesystem::create_symlink("../valid/tensors.bin", escape_up / "tensors.bin");
  EXPECT_EQ(open_error(escape_up, false),
            "bundle path leaves its directory at manifest.tensor_file.path");

  // The manifest itself is held to the same rule: its paths would otherwise be trusted.
  const std::filesystem::path escape_manifest = copy_of_valid(dir("valid"), "escape_manifest");
  std::filesystem::remove(escape_manifest / "manifest.json");
  std::filesystem::create_symlink("../valid/manifest.json", escape_manifest / "manifest.json");
  EXPECT_EQ(open_error(escape_manifest, false),
            "bundle path leaves its directory at manifest.json");

  // Links that stay inside, and a bundle directory reached through a link, are fine.
  const std::filesystem::path inside = copy_of_valid(dir("valid"), "inside");
  std::filesystem::create_directory(inside / "store");
  std::filesystem::rename(inside / "tensors.bin", inside / "store" / "tensors.bin");
  std::filesystem::create_symlink("store/tensors.bin", inside / "tensors.bin");
  std::filesystem::create_directory_symlink(inside, dir("linked"));
  EXPECT_EQ(open_error(dir("linked"), true), "<opened>");
  EXPECT_EQ(ModelBundle(dir("linked"), false).path(), dir("linked"));
}

}  // namespace
