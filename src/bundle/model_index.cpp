// Finding a bundle directory through the index.json of a resources version and language.

#include <string>
#include <vector>

#include "velmora/model_bundle.hpp"

namespace velmora {

namespace {

std::filesystem::path resolve_from_index(const std::filesystem::path& language_dir,
                                         std::string_view resources_version,
                                         std::string_view language, std::string_view processor,
                                         std::string_view package) {
  const detail::JsonValue index =
      detail::load_json(detail::contained_bundle_path(language_dir, "index.json", "index.json"));
  if (index.at("format", "index").as_string("") != "velmora-model-index" ||
      index.at("format_version", "index").as_integer("") != 1) {
    throw ModelBundleError("unsupported model index format");
  }
  if (index.at("resources_version", "index").as_string("") != resources_version ||
      index.at("language", "index").as_string("") != language) {
    throw ModelBundleError("model index identity does not match requested model");
  }
  std::vector<std::filesystem::path> selected;
  for (const detail::JsonValue& entry : index.at("bundles", "index").as_array("index.bundles")) {
    if (entry.at("processor", "index.bundles[]").as_string("") != processor) continue;
    const std::string& entry_package = entry.at("package", "index.bundles[]").as_string("");
    if (package != "default" && entry_package != package) continue;
    const std::filesystem::path relative =
        detail::checked_bundle_path(entry.at("path", "index.bundles[]"), "index.bundles[].path");
    selected.push_back(
        detail::contained_bundle_path(language_dir, relative, "index.bundles[].path"));
  }
  if (selected.empty()) {
    throw ModelBundleError("no converted bundle for " + std::string(language) + "/" +
                           std::string(processor) + "/" + std::string(package));
  }
  if (selected.size() > 1) {
    throw ModelBundleError("package 'default' is ambiguous for converted processor '" +
                           std::string(processor) + "'");
  }
  return selected.front();
}

}  // namespace

std::filesystem::path resolve_model_bundle(const std::filesystem::path& root,
                                           std::string_view resources_version,
                                           std::string_view language, std::string_view processor,
                                           std::string_view package) {
  detail::validate_model_identity(resources_version, "resources version");
  detail::validate_model_identity(language, "language");
  detail::validate_model_identity(processor, "processor");
  detail::validate_model_identity(package, "package");
  const std::filesystem::path language_dir =
      std::filesystem::absolute(root) / resources_version / language;
  try {
    return resolve_from_index(language_dir, resources_version, language, processor, package);
  } catch (const detail::JsonError& error) {
    throw ModelBundleError(error.what());
  }
}

}  // namespace velmora
