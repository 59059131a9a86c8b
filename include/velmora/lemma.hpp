#pragma once

// The lemmatizer: lemmas from a dictionary keyed by universal POS and word, or from the
// character seq2seq model with its edit classes.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora {

class Document;
class ModelBundle;

class LemmaPlan {
 public:
  /// Opens a "lemma" bundle and loads its dictionary and, unless dictionary-only, its seq2seq
  /// model. Fails with LemmaModelError (ModelBundleError, Seq2SeqModelError for their parts).
  LemmaPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~LemmaPlan();
  LemmaPlan(LemmaPlan&&) noexcept;
  LemmaPlan& operator=(LemmaPlan&&) noexcept;
  LemmaPlan(const LemmaPlan&) = delete;
  LemmaPlan& operator=(const LemmaPlan&) = delete;

  const ModelBundle& bundle() const;
  /// Whether lemmas depend on the word's UPOS.
  bool uses_pos() const;
  /// The lemma of one word with its optional UPOS.
  std::string lemmatize(const std::string& word, const std::optional<std::string>& upos) const;
  /// Sets the lemma of every word; the words needing the model run through it together, as in
  /// process_bulk. When a word fails, the words before it keep their new lemmas.
  Document process(Document document) const;
  /// Sets the lemma of every word of every document; the model runs once for all of them.
  std::vector<Document> process_bulk(std::vector<Document> documents) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
