// Opening a model bundle: manifest checks in a fixed order, assets text, read-only
// mappings, the tensor table and, on request, SHA-256 verification.

#include "velmora/model_bundle.hpp"

#include <limits>
#include <string>
#include <unordered_map>
#include <utility>

#include "mapped_file.hpp"
#include "velmora/sha256.hpp"

namespace velmora {

namespace detail {
namespace {

struct BundleArtifact {
  std::filesystem::path path;  // the checked relative path as written in the manifest
  std::string sha256;
  std::unique_ptr<MappedFile> file;
};

std::string single_quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string indexed(std::string_view prefix, std::size_t index) {
  return std::string(prefix) + "[" + std::to_string(index) + "]";
}

// Lets the tensor index be searched with a string_view, without building a string.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const noexcept {
    return std::hash<std::string_view>{}(name);
  }
};

std::string digest_of(const MappedFile& file) {
  return sha256_hex(file.base, static_cast<std::size_t>(file.size));
}

}  // namespace

std::size_t dtype_element_size(std::string_view dtype) noexcept {
  if (dtype == "bool" || dtype == "int8" || dtype == "uint8") return 1;
  if (dtype == "int16" || dtype == "uint16" || dtype == "float16" || dtype == "bfloat16") return 2;
  if (dtype == "int32" || dtype == "uint32" || dtype == "float32") return 4;
  if (dtype == "int64" || dtype == "uint64" || dtype == "float64" || dtype == "complex64") return 8;
  if (dtype == "complex128") return 16;
  return 0;
}

}  // namespace detail

std::size_t TensorDescriptor::element_size() const noexcept {
  return detail::dtype_element_size(dtype);
}

bool TensorDescriptor::aligned() const noexcept {
  // Mappings start on a page boundary, so the offset alone decides.
  std::size_t size = element_size();
  return nbytes == 0 || (size != 0 && offset % size == 0);
}

struct ModelBundle::Impl {
  std::filesystem::path path;
  std::string language;
  std::string processor;
  std::string package;
  std::string dorvek_version;
  std::string resources_version;
  bool checksums_verified = false;
  std::string assets_json;
  std::vector<TensorDescriptor> tensors;
  std::unordered_map<std::string, std::size_t, detail::NameHash, std::equal_to<>> tensor_index;
  std::unique_ptr<detail::MappedFile> tensor_file;
  std::vector<detail::BundleArtifact> artifacts;

  void load(const detail::JsonValue& manifest, bool verify_checksums);
  void read_tensor_table(const detail::JsonValue& manifest, std::uint64_t alignment);
  void verify(const detail::JsonValue& manifest);
  const TensorDescriptor& find(std::string_view name) const;
};

ModelBundle::ModelBundle(std::filesystem::path path, bool verify_checksums)
    : impl_(std::make_unique<Impl>()) {
  impl_->path = std::filesystem::absolute(path);
  if (!std::filesystem::is_directory(impl_->path)) {
    throw ModelBundleError("model bundle is not a directory: " + impl_->path.string());
  }
  try {
    // The manifest is held to the rule of every file it names: a link may not lead out.
    const detail::JsonValue manifest = detail::load_json(
        detail::contained_bundle_path(impl_->path, "manifest.json", "manifest.json"));
    impl_->load(manifest, verify_checksums);
  } catch (const detail::JsonError& error) {
    throw ModelBundleError(error.what());
  }
}

void ModelBundle::Impl::load(const detail::JsonValue& manifest, bool verify_checksums) {
  using detail::as_nonnegative_integer;
  using detail::checked_bundle_path;
  using detail::contained_bundle_path;

  if (manifest.at("format", "manifest").as_string("") != "velmora-model-bundle") {
    throw ModelBundleError("unsupported model bundle format");
  }
  if (manifest.at("format_version", "manifest").as_integer("") != 1) {
    throw ModelBundleError("unsupported model bundle version");
  }
  if (manifest.at("byte_order", "manifest").as_string("") != "little") {
    throw ModelBundleError("only little-endian bundles are supported");
  }
  language = manifest.at("language", "manifest").as_string("");
  processor = manifest.at("processor", "manifest").as_string("");
  package = manifest.at("package", "manifest").as_string("");
  dorvek_version = manifest.at("dorvek_version", "manifest").as_string("");
  resources_version = manifest.at("resources_version", "manifest").as_string("");

  const std::uint64_t alignment =
      as_nonnegative_integer(manifest.at("tensor_alignment", "manifest"), "manifest.tensor_alignment");
  if (alignment == 0 || (alignment & (alignment - 1)) != 0) {
    throw ModelBundleError("tensor alignment must be a non-zero power of two");
  }

  const detail::JsonValue& assets = manifest.at("assets", "manifest");
  const std::filesystem::path assets_path =
      checked_bundle_path(assets.at("path", "manifest.assets"), "manifest.assets.path");
  assets_json =
      detail::load_text_file(contained_bundle_path(path, assets_path, "manifest.assets.path"));

  const detail::JsonValue& tensor_entry = manifest.at("tensor_file", "manifest");
  const std::filesystem::path tensor_path = checked_bundle_path(
      tensor_entry.at("path", "manifest.tensor_file"), "manifest.tensor_file.path");
  tensor_file = detail::map_bundle_file(
      contained_bundle_path(path, tensor_path, "manifest.tensor_file.path"));
  if (as_nonnegative_integer(tensor_entry.at("size", "manifest.tensor_file"),
                             "manifest.tensor_file.size") != tensor_file->size) {
    throw ModelBundleError("tensor file size mismatch");
  }

  if (const detail::JsonValue* list = manifest.find("artifacts")) {
    const auto& entries = list->as_array("manifest.artifacts");
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::string where = detail::indexed("manifest.artifacts", i);
      detail::BundleArtifact artifact;
      artifact.path = checked_bundle_path(entries[i].at("path", where), where + ".path");
      artifact.file =
          detail::map_bundle_file(contained_bundle_path(path, artifact.path, where + ".path"));
      if (as_nonnegative_integer(entries[i].at("size", where), where + ".size") !=
          artifact.file->size) {
        throw ModelBundleError("artifact file size mismatch: " +
                               detail::single_quoted(artifact.path.string()));
      }
      artifact.sha256 = entries[i].at("sha256", where).as_string(where + ".sha256");
      artifacts.push_back(std::move(artifact));
    }
  }

  read_tensor_table(manifest, alignment);
  if (verify_checksums) verify(manifest);
}

void ModelBundle::Impl::read_tensor_table(const detail::JsonValue& manifest,
                                          std::uint64_t alignment) {
  using detail::as_nonnegative_integer;
  using detail::single_quoted;

  const auto& entries = manifest.at("tensors", "manifest").as_array("manifest.tensors");
  const std::uint64_t file_size = tensor_file->size;
  std::uint64_t previous_end = 0;
  tensors.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const detail::JsonValue& entry = entries[i];
    const std::string where = detail::indexed("manifest.tensors", i);
    TensorDescriptor descriptor;
    descriptor.name = entry.at("name", where).as_string(where);
    descriptor.dtype = entry.at("dtype", where).as_string(where);
    descriptor.offset = as_nonnegative_integer(entry.at("offset", where), where + ".offset");
    descriptor.nbytes = as_nonnegative_integer(entry.at("nbytes", where), where + ".nbytes");
    descriptor.sha256 = entry.at("sha256", where).as_string(where);
    const std::string shape_where = where + ".shape";
    for (const detail::JsonValue& dimension : entry.at("shape", where).as_array(shape_where)) {
      const long long value = dimension.as_integer(shape_where);
      if (value < 0) {
        throw ModelBundleError("negative tensor dimension for " + single_quoted(descriptor.name));
      }
      descriptor.shape.push_back(value);
    }
    if (descriptor.offset % alignment != 0) {
      throw ModelBundleError("misaligned tensor: " + single_quoted(descriptor.name));
    }
    // Written so that no sum can overflow: offset + nbytes <= file_size afterwards.
    if (descriptor.offset < previous_end || descriptor.offset > file_size ||
        file_size - descriptor.offset < descriptor.nbytes) {
      throw ModelBundleError("invalid tensor range: " + single_quoted(descriptor.name));
    }
    const std::uint64_t element_size = detail::dtype_element_size(descriptor.dtype);
    if (element_size == 0) throw ModelBundleError("unsupported tensor dtype: " + descriptor.dtype);
    // Any zero dimension makes the tensor empty, whatever the other dimensions are.
    std::uint64_t total = element_size;
    bool empty = false;
    for (std::int64_t dimension : descriptor.shape) empty = empty || dimension == 0;
    if (empty) {
      total = 0;
    } else {
      for (std::int64_t dimension : descriptor.shape) {
        const auto factor = static_cast<std::uint64_t>(dimension);
        if (total > std::numeric_limits<std::uint64_t>::max() / factor) {
          throw ModelBundleError("tensor size overflow: " + single_quoted(descriptor.name));
        }
        total *= factor;
      }
    }
    if (total != descriptor.nbytes) {
      throw ModelBundleError("tensor byte size does not match dtype and shape: " +
                             single_quoted(descriptor.name));
    }
    if (!tensor_index.emplace(descriptor.name, tensors.size()).second) {
      throw ModelBundleError("duplicate tensor name: " + single_quoted(descriptor.name));
    }
    previous_end = descriptor.offset + descriptor.nbytes;
    tensors.push_back(std::move(descriptor));
  }
}

void ModelBundle::Impl::verify(const detail::JsonValue& manifest) {
  const std::string& assets_digest =
      manifest.at("assets", "manifest").at("sha256", "manifest.assets").as_string("");
  if (detail::sha256_hex(assets_json.data(), assets_json.size()) != assets_digest) {
    throw ModelBundleError("assets checksum mismatch");
  }
  const std::string& file_digest =
      manifest.at("tensor_file", "manifest").at("sha256", "manifest.tensor_file").as_string("");
  if (detail::digest_of(*tensor_file) != file_digest) {
    throw ModelBundleError("tensor file checksum mismatch");
  }
  const auto* base = static_cast<const unsigned char*>(tensor_file->base);
  for (const TensorDescriptor& descriptor : tensors) {
    const unsigned char* start = base == nullptr ? nullptr : base + descriptor.offset;
    if (detail::sha256_hex(start, static_cast<std::size_t>(descriptor.nbytes)) !=
        descriptor.sha256) {
      throw ModelBundleError("tensor checksum mismatch: " + detail::single_quoted(descriptor.name));
    }
  }
  for (const detail::BundleArtifact& artifact : artifacts) {
    if (detail::digest_of(*artifact.file) != artifact.sha256) {
      throw ModelBundleError("artifact checksum mismatch: " +
                             detail::single_quoted(artifact.path.string()));
    }
  }
  checksums_verified = true;
}

const TensorDescriptor& ModelBundle::Impl::find(std::string_view name) const {
  auto found = tensor_index.find(name);
  if (found == tensor_index.end()) {
    throw ModelBundleError("tensor is not present in bundle: " + detail::single_quoted(name));
  }
  return tensors[found->second];
}

ModelBundle::ModelBundle(ModelBundle&&) noexcept = default;
ModelBundle& ModelBundle::operator=(ModelBundle&&) noexcept = default;
ModelBundle::~ModelBundle() = default;

const std::filesystem::path& ModelBundle::path() const { return impl_->path; }
const std::string& ModelBundle::language() const { return impl_->language; }
const std::string& ModelBundle::processor() const { return impl_->processor; }
const std::string& ModelBundle::package() const { return impl_->package; }
const std::string& ModelBundle::dorvek_version() const { return impl_->dorvek_version; }
const std::string& ModelBundle::resources_version() const { return impl_->resources_version; }
bool ModelBundle::checksums_verified() const { return impl_->checksums_verified; }
bool ModelBundle::lists_artifact(const std::filesystem::path& relative) const {
  const std::filesystem::path wanted = relative.lexically_normal();
  for (const detail::BundleArtifact& artifact : impl_->artifacts) {
    if (artifact.path.lexically_normal() == wanted) return true;
  }
  return false;
}
std::uint64_t ModelBundle::tensor_file_size() const { return impl_->tensor_file->size; }
const std::vector<TensorDescriptor>& ModelBundle::tensors() const { return impl_->tensors; }

std::vector<std::string> ModelBundle::tensor_names() const {
  std::vector<std::string> names;
  names.reserve(impl_->tensors.size());
  for (const TensorDescriptor& descriptor : impl_->tensors) names.push_back(descriptor.name);
  return names;
}

const TensorDescriptor& ModelBundle::tensor(std::string_view name) const {
  return impl_->find(name);
}

const std::byte* ModelBundle::tensor_data(std::string_view name) const {
  const TensorDescriptor& descriptor = impl_->find(name);
  const auto* base = static_cast<const std::byte*>(impl_->tensor_file->base);
  return base == nullptr ? nullptr : base + descriptor.offset;
}

const std::string& ModelBundle::assets_json() const { return impl_->assets_json; }

}  // namespace velmora
