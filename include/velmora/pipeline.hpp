#pragma once

// An ordered list of processors built for one language. The constructor checks the request,
// builds (and loads) every processor, and checks that each processor's requirements are
// provided by the processors before it; the pipeline is immutable afterwards.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <velmora/processor.hpp>

namespace velmora {

class Pipeline {
 public:
  /// One package for every processor.
  Pipeline(std::string language, std::vector<std::string> processors, std::string package,
           std::optional<std::filesystem::path> model_dir, std::string resources_version,
           bool verify_checksums, std::vector<std::string> language_subset);

  /// A package per processor name; processors the map does not name use "default".
  Pipeline(std::string language, std::vector<std::string> processors,
           std::map<std::string, std::string> processor_packages,
           std::optional<std::filesystem::path> model_dir, std::string resources_version,
           bool verify_checksums, std::vector<std::string> language_subset);

  /// The mapped package of a processor name, else the pipeline package.
  const std::string& package_for(const std::string& processor) const noexcept;

  /// Throws ProcessorRequirementsError for the first processor whose requirements no
  /// earlier processor provides.
  void validate_requirements() const;

  const std::string& language() const { return language_; }
  const std::string& package() const { return package_; }
  bool package_is_mapping() const { return package_is_mapping_; }
  const std::map<std::string, std::string>& processor_packages() const {
    return processor_packages_;
  }
  const std::optional<std::filesystem::path>& model_dir() const { return model_dir_; }
  const std::string& resources_version() const { return resources_version_; }
  const std::vector<std::shared_ptr<Processor>>& processors() const { return processors_; }

  /// Runs a document holding only the text through every processor in order.
  Document process(std::string text) const;
  Document process(Document document) const;
  /// Hands the whole list to each processor in turn, so that processors can batch across
  /// documents.
  std::vector<Document> process_bulk(std::vector<std::string> texts) const;
  std::vector<Document> process_bulk(std::vector<Document> documents) const;

 private:
  Pipeline(std::string language, std::vector<std::string> processors, std::string package,
           std::map<std::string, std::string> processor_packages, bool package_is_mapping,
           std::optional<std::filesystem::path> model_dir, std::string resources_version,
           bool verify_checksums, std::vector<std::string> language_subset);

  void check_request(const std::vector<std::string>& processors) const;
  std::shared_ptr<Processor> build_processor(const std::string& name, bool verify_checksums,
                                             const std::vector<std::string>& language_subset) const;

  std::string language_;
  std::string package_;
  std::map<std::string, std::string> processor_packages_;
  bool package_is_mapping_;
  std::optional<std::filesystem::path> model_dir_;
  std::string resources_version_;
  std::vector<std::shared_ptr<Processor>> processors_;
};

}  // namespace velmora
