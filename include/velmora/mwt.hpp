#pragma once

// The multi-word-token expander: expands tokens marked "MWT=Yes" into their words, by a
// dictionary of known expansions, a character classifier that inserts word breaks, or the
// character seq2seq model.

#include <filesystem>
#include <memory>
#include <string>

#include "velmora/errors.hpp"

namespace velmora {

class Document;
class ModelBundle;

class MWTPlan {
 public:
  /// Opens an "mwt" bundle and loads what its configuration asks for. Fails with
  /// MWTModelError (ModelBundleError, Seq2SeqModelError for the parts they load).
  MWTPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~MWTPlan();
  MWTPlan(MWTPlan&&) noexcept;
  MWTPlan& operator=(MWTPlan&&) noexcept;
  MWTPlan(const MWTPlan&) = delete;
  MWTPlan& operator=(const MWTPlan&) = delete;

  const ModelBundle& bundle() const;
  /// The words of one token separated by single spaces, or the token unchanged.
  std::string expand(const std::string& token) const;
  /// Expands every marked token and renumbers the words; the document's storage is rebuilt in
  /// place and the result shares it.
  Document process(const Document& document) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
