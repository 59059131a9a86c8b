#pragma once

// The dependency parser: gives every regular word of a sentence a head and a relation, from a
// "depparse" bundle (embeddings, a highway BiLSTM, deep biaffine arc and relation scorers,
// single-root spanning-tree decoding and relation labelling under per-head constraints).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora {

class Document;
class ModelBundle;

/// One input word of the parser. Either UPOS or XPOS must be present for document parsing.
struct DepparseWord {
  std::string text;
  std::optional<std::string> lemma;
  std::optional<std::string> upos;
  std::optional<std::string> xpos;
  std::optional<std::string> feats;
};

/// The parse of one word: `head` is 0 for the root, else the 1-based position of the head
/// among the sentence's words; `deprel` names the relation.
struct DepparsePrediction {
  std::int32_t head = 0;
  std::string deprel;

  friend bool operator==(const DepparsePrediction&, const DepparsePrediction&) = default;
};

class DepparsePlan {
 public:
  /// Opens and checks the bundle, reads its assets and binds its weights; everything is loaded
  /// here. Fails with DepparseModelError (ModelBundleError for the bundle's own failures).
  DepparsePlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~DepparsePlan();
  DepparsePlan(DepparsePlan&&) noexcept;
  DepparsePlan& operator=(DepparsePlan&&) noexcept;
  DepparsePlan(const DepparsePlan&) = delete;
  DepparsePlan& operator=(const DepparsePlan&) = delete;

  const ModelBundle& bundle() const;

  /// One prediction per word, in word order; an empty sentence gives an empty result.
  std::vector<DepparsePrediction> parse(const std::vector<DepparseWord>& words) const;
  /// Parses and annotates the document; returns the same handle. The sentences share batches
  /// as a list's do; when a sentence fails, the sentences before it are written and no later one.
  Document process(Document document) const;
  /// Parses the sentences of all documents in batches and writes back only once all are done.
  std::vector<Document> process_bulk(std::vector<Document> documents) const;

  /// The loaded model state, read by the parser's internal stages.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
