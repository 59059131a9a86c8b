#pragma once

#include <filesystem>
#include <memory>

#include "sentiment/model_state.hpp"

namespace velmora::detail {

/// Opens a "sentiment" bundle, reads its assets against the supported profile and binds and
/// checks every tensor the network reads. Refusals are SentimentModelError; JSON errors are
/// turned into it; the bundle's, the character LMs' and the transformer's own errors pass.
std::unique_ptr<SentimentPlan::Impl> load_sentiment_model(std::filesystem::path bundle_path, bool verify_checksums);

}  // namespace velmora::detail
