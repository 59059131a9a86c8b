#pragma once

#include <filesystem>
#include <memory>

#include "tokenize/model_state.hpp"

namespace velmora::detail {

/// Opens a "tokenize" bundle, reads and checks its assets against the supported profile and
/// binds its weights. Fails with TokenizerModelError (ModelBundleError when opening fails).
std::unique_ptr<TokenizerPlan::Impl> load_tokenizer_model(std::filesystem::path bundle_path, bool verify_checksums);

}  // namespace velmora::detail
