#pragma once

// A converted model bundle: a directory with manifest.json, an assets JSON file, one raw
// tensor file mapped read-only, and optional artifact files. Models open a bundle, check
// its processor, parse its assets and view their weights in place.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "velmora/errors.hpp"
#include "velmora/json.hpp"

namespace velmora {

/// One entry of a bundle's tensor table.
struct TensorDescriptor {
  std::string name;
  std::string dtype;                ///< as written in the manifest, e.g. "float32"
  std::vector<std::int64_t> shape;  ///< empty for a scalar
  std::uint64_t offset = 0;         ///< bytes from the start of the tensor file
  std::uint64_t nbytes = 0;         ///< element size times the product of the shape
  std::string sha256;               ///< digest text as written in the manifest

  /// Bytes per element of `dtype` (0 for a dtype the bundle would not accept).
  std::size_t element_size() const noexcept;
  /// Whether the data starts on a multiple of its element size, so that it may be read
  /// through a typed pointer. A bundle with a small tensor alignment may place a tensor
  /// anywhere; callers must copy or refuse a tensor that is not aligned.
  bool aligned() const noexcept;
};

/// An opened, checked and mapped model bundle; read-only and shareable across threads.
class ModelBundle {
 public:
  /// Opens the bundle directory, checks its manifest and maps its files; with
  /// `verify_checksums` also checks every SHA-256 digest. Throws ModelBundleError.
  ModelBundle(std::filesystem::path path, bool verify_checksums);
  ModelBundle(ModelBundle&&) noexcept;
  ModelBundle& operator=(ModelBundle&&) noexcept;
  ModelBundle(const ModelBundle&) = delete;
  ModelBundle& operator=(const ModelBundle&) = delete;
  ~ModelBundle();

  /// The bundle directory made absolute (not canonical).
  const std::filesystem::path& path() const;
  const std::string& language() const;
  const std::string& processor() const;
  const std::string& package() const;
  const std::string& dorvek_version() const;
  const std::string& resources_version() const;
  bool checksums_verified() const;
  /// Whether the manifest lists this bundle-relative file as an artifact (so that its size,
  /// and its digest when checksums are verified, were checked).
  bool lists_artifact(const std::filesystem::path& relative) const;

  std::uint64_t tensor_file_size() const;
  const std::vector<TensorDescriptor>& tensors() const;
  std::vector<std::string> tensor_names() const;
  /// Throws ModelBundleError when the name is not in the table.
  const TensorDescriptor& tensor(std::string_view name) const;
  /// The first byte of the tensor inside the read-only mapping (null for an empty tensor
  /// file). Check TensorDescriptor::aligned before viewing it as anything but bytes.
  const std::byte* tensor_data(std::string_view name) const;
  /// The assets JSON text, unparsed.
  const std::string& assets_json() const;

  // Private state of one bundle, released (with its mappings) by the destructor.
 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// The bundle directory for a request, read from
/// root / resources_version / language / index.json. Throws ModelBundleError.
std::filesystem::path resolve_model_bundle(const std::filesystem::path& root,
                                           std::string_view resources_version,
                                           std::string_view language, std::string_view processor,
                                           std::string_view package);

namespace detail {

/// The one rule for paths named in a manifest or index: a non-empty relative path with no
/// ".." element. Returns the path as written.
std::filesystem::path checked_bundle_path(const JsonValue& value, std::string_view where);

/// Refuses a checked relative path that, once symbolic links are followed, leads outside
/// `base`; returns base / relative.
std::filesystem::path contained_bundle_path(const std::filesystem::path& base,
                                            const std::filesystem::path& relative,
                                            std::string_view where);

/// value.as_integer(where) as an unsigned number; negative values are refused.
std::uint64_t as_nonnegative_integer(const JsonValue& value, std::string_view where);

/// Refuses an empty identity part, "." or "..", or any byte other than ASCII letters,
/// digits, '.', '-' and '_'. `what` names the part in the message.
void validate_model_identity(std::string_view value, std::string_view what);

/// Bytes per element of a bundle dtype, 0 when the dtype is not accepted.
std::size_t dtype_element_size(std::string_view dtype) noexcept;

}  // namespace detail

}  // namespace velmora
