// Processors with a model: each processor class is built from its bundle directory by its model
// constructor, which the language identifier's takes with the language subset.

#include "pipeline/processor_loading.hpp"

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
    } else {
      static_assert(std::is_constructible_v<Class, Path, bool>, "every processor loads its model from a bundle");
      return std::make_shared<Class>(std::move(bundle_dir), verify_checksums);
    }
  });
}

}  // namespace velmora::detail
