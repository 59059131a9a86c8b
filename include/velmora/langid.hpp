#pragma once

// The language identifier: a character-level bidirectional LSTM read from a "langid" bundle that
// answers one language tag per text, optionally restricted to a subset of its languages.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora {

class ModelBundle;

class LangIDPlan {
 public:
  /// Opens and checks the bundle, reads its assets and binds its weights; everything is loaded
  /// here. Fails with LangIDModelError (ModelBundleError for the bundle's own failures).
  LangIDPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~LangIDPlan();
  LangIDPlan(LangIDPlan&&) noexcept;
  LangIDPlan& operator=(LangIDPlan&&) noexcept;
  LangIDPlan(const LangIDPlan&) = delete;
  LangIDPlan& operator=(const LangIDPlan&) = delete;

  const ModelBundle& bundle() const;

  /// The language tag of one non-empty UTF-8 text. A non-empty `language_subset` restricts the
  /// answer to the model's tags named in it (names that are no tag are ignored).
  std::string identify(const std::string& text, const std::vector<std::string>& language_subset) const;
  /// One tag per text, in input order; texts of equal length share one network run.
  std::vector<std::string> identify_many(const std::vector<std::string>& texts,
                                         const std::vector<std::string>& language_subset) const;

  /// The loaded model state.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
