// Building a pipeline: the request checks, one processor per requested name, and the
// requirement check over the finished list.

#include <velmora/pipeline.hpp>

#include <velmora/errors.hpp>
#include <velmora/model_bundle.hpp>

#include <stdexcept>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "pipeline/processor_loading.hpp"

namespace velmora {

Pipeline::Pipeline(std::string language, std::vector<std::string> processors, std::string package,
                   std::optional<std::filesystem::path> model_dir, std::string resources_version,
                   bool verify_checksums, std::vector<std::string> language_subset)
    : Pipeline(std::move(language), std::move(processors), std::move(package), {}, false,
               std::move(model_dir), std::move(resources_version), verify_checksums,
               std::move(language_subset)) {}

Pipeline::Pipeline(std::string language, std::vector<std::string> processors,
                   std::map<std::string, std::string> processor_packages,
                   std::optional<std::filesystem::path> model_dir, std::string resources_version,
                   bool verify_checksums, std::vector<std::string> language_subset)
    : Pipeline(std::move(language), std::move(processors), "default",
               std::move(processor_packages), true, std::move(model_dir),
               std::move(resources_version), verify_checksums, std::move(language_subset)) {}

Pipeline::Pipeline(std::string language, std::vector<std::string> processors, std::string package,
                   std::map<std::string, std::string> processor_packages, bool package_is_mapping,
                   std::optional<std::filesystem::path> model_dir, std::string resources_version,
                   bool verify_checksums, std::vector<std::string> language_subset)
    : language_(std::move(language)),
      package_(std::move(package)),
      processor_packages_(std::move(processor_packages)),
      package_is_mapping_(package_is_mapping),
      model_dir_(std::move(model_dir)),
      resources_version_(std::move(resources_version)) {
  check_request(processors);
  processors_.reserve(processors.size());
  for (const std::string& name : processors) {
    processors_.push_back(build_processor(name, verify_checksums, language_subset));
  }
  validate_requirements();
}

void Pipeline::check_request(const std::vector<std::string>& processors) const {
  if (language_.empty()) throw std::invalid_argument("a pipeline language is required");
  if (package_.empty()) throw std::invalid_argument("a pipeline package cannot be empty");
  if (resources_version_.empty()) {
    throw std::invalid_argument("a pipeline resources version cannot be empty");
  }
  // An empty path names no directory: reading the model index from it would fail in the
  // filesystem layer without saying what is wrong. "No models" is said with no directory.
  if (model_dir_ && model_dir_->empty()) {
    throw std::invalid_argument("a pipeline model directory cannot be empty");
  }
  std::unordered_set<std::string_view> requested;
  for (const std::string& name : processors) {
    if (!requested.insert(name).second) {
      throw std::invalid_argument("a processor may only appear once in a pipeline: '" + name +
                                  "'");
    }
  }
  // The map is ordered by key, so the smallest faulty key is the one reported.
  for (const auto& [processor, package] : processor_packages_) {
    if (!requested.contains(processor)) {
      throw std::invalid_argument("package was specified for unrequested processor: '" +
                                  processor + "'");
    }
    if (package.empty()) {
      throw std::invalid_argument("package for processor '" + processor + "' cannot be empty");
    }
  }
}

std::shared_ptr<Processor> Pipeline::build_processor(
    const std::string& name, bool verify_checksums,
    const std::vector<std::string>& language_subset) const {
  const std::optional<detail::ProcessorKind> kind = detail::find_processor_kind(name);
  // Without models every stage is model-less; an unknown name fails here either way.
  if (!model_dir_ || !kind) return make_processor(name);
  std::filesystem::path bundle_dir = resolve_model_bundle(*model_dir_, resources_version_,
                                                          language_, name, package_for(name));
  return detail::load_processor(*kind, std::move(bundle_dir), verify_checksums, language_subset);
}

const std::string& Pipeline::package_for(const std::string& processor) const noexcept {
  const auto found = processor_packages_.find(processor);
  return found != processor_packages_.end() ? found->second : package_;
}

void Pipeline::validate_requirements() const {
  std::unordered_set<std::string_view> provided;
  for (const std::shared_ptr<Processor>& processor : processors_) {
    std::string missing;
    for (const std::string& requirement : processor->requirements()) {
      if (provided.contains(requirement)) continue;
      if (!missing.empty()) missing += ", ";
      missing += requirement;
    }
    if (!missing.empty()) {
      throw ProcessorRequirementsError("processor '" + processor->name() +
                                       "' is missing requirements: " + missing);
    }
    for (const std::string& name : processor->provides()) provided.insert(name);
  }
}

}  // namespace velmora
