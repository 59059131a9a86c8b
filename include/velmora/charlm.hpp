#pragma once

// A character language model bundle ("forward_charlm" or "backward_charlm") used on its own:
// one vector of hidden_size() floats per word of a sentence.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora {

class ModelBundle;

class CharLMPlan {
 public:
  /// Opens the bundle and loads the model. Fails with CharLMModelError, the bundle's
  /// ModelBundleError, or the JSON reader's JsonError for malformed assets.
  CharLMPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~CharLMPlan();
  CharLMPlan(CharLMPlan&&) noexcept;
  CharLMPlan& operator=(CharLMPlan&&) noexcept;
  CharLMPlan(const CharLMPlan&) = delete;
  CharLMPlan& operator=(const CharLMPlan&) = delete;

  const ModelBundle& bundle() const;
  /// Whether the model reads sentences left to right (the assets' is_forward_lm).
  bool is_forward() const;
  std::int64_t hidden_size() const;
  /// One row of hidden_size() float32 values per word, in word order.
  std::vector<std::vector<float>> encode(const std::vector<std::string>& words) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
