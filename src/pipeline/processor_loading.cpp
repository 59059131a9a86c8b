// Processors with a model. A processor class takes part as soon as it declares its model
// constructor, so wiring a model plan never touches this file.

#include "pipeline/processor_loading.hpp"

#include <velmora/errors.hpp>

#include <type_traits>
#include <utility>

namespace velmora::detail {

std::shared_ptr<Processor> load_processor(ProcessorKind kind, std::filesystem::path bundle_dir,
                                          bool verify_checksums,
                                          const std::vector<std::string>& language_subset) {
  return visit_processor_class(kind, [&](auto type) -> std::shared_ptr<Processor> {
    using Class = typename decltype(type)::type;
    using Path = std::filesystem::path;
    using Subset = std::vector<std::string>;
    if constexpr (std::is_constructible_v<Class, Path, bool, Subset>) {
      return std::make_shared<Class>(std::move(bundle_dir), verify_checksums, language_subset);
    } else if constexpr (std::is_constructible_v<Class, Path, bool>) {
      return std::make_shared<Class>(std::move(bundle_dir), verify_checksums);
    } else {
      throw ModelBundleError("the '" +
                             std::string(processor_rows[static_cast<std::size_t>(kind)].name) +
                             "' processor cannot load model bundles yet");
    }
  });
}

}  // namespace velmora::detail
