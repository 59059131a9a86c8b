#pragma once

#include <filesystem>
#include <memory>

#include "constituency/model_state.hpp"

namespace velmora::detail {

/// Opens a "constituency" bundle, checks its assets against the supported profile, reads its
/// vocabularies and transition table, builds its character LMs and transformer and binds its
/// weights. Fails with ConstituencyModelError (the bundle's and encoders' own errors pass).
std::unique_ptr<ConstituencyPlan::Impl> load_constituency_model(std::filesystem::path bundle_path,
                                                                bool verify_checksums);

}  // namespace velmora::detail
