#pragma once

// What every processor with a model does with its plan: report the bundle it was loaded from.

#include <velmora/model_bundle.hpp>

#include <filesystem>
#include <memory>
#include <optional>

namespace velmora::detail {

template <class Plan>
std::optional<std::filesystem::path> plan_bundle_path(const std::shared_ptr<const Plan>& plan) {
  if (!plan) return std::nullopt;
  return plan->bundle().path();
}

}  // namespace velmora::detail
