#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/processor_table.hpp"

namespace velmora::detail {

/// Creates the processor of `kind` with its model loaded from `bundle_dir`; the language
/// identifier also receives a copy of the language subset.
std::shared_ptr<Processor> load_processor(ProcessorKind kind, std::filesystem::path bundle_dir,
                                          bool verify_checksums,
                                          const std::vector<std::string>& language_subset);

}  // namespace velmora::detail
