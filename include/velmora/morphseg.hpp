#pragma once

// The morphological segmenter: a character-level bidirectional LSTM read from a "morphseg"
// bundle that predicts one edit action per character of a (normalised) word; the actions
// rebuild the word with morpheme markers, and the word is cut into morphemes there.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora {

class Document;
class ModelBundle;

class MorphSegPlan {
 public:
  /// Opens and checks the bundle, reads its assets and binds its weights; everything is loaded
  /// here. Fails with MorphSegModelError (ModelBundleError for the bundle's own failures).
  MorphSegPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~MorphSegPlan();
  MorphSegPlan(MorphSegPlan&&) noexcept;
  MorphSegPlan& operator=(MorphSegPlan&&) noexcept;
  MorphSegPlan(const MorphSegPlan&) = delete;
  MorphSegPlan& operator=(const MorphSegPlan&) = delete;

  const ModelBundle& bundle() const;

  /// The morphemes of one word; a word that normalises to nothing has none.
  std::vector<std::string> segment(const std::string& word) const;
  /// The morphemes of each word, in input order.
  std::vector<std::vector<std::string>> segment_many(const std::vector<std::string>& words) const;
  /// Sets the morphemes of every regular word of the document (the same storage, changed in
  /// place once every word has been segmented).
  Document process(Document document) const;
  /// The same for every document, with the words of all documents batched together.
  std::vector<Document> process_bulk(std::vector<Document> documents) const;

  /// The loaded model state.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
