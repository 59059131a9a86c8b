#pragma once

// The named-entity tagger: word, delta and character features (a character BiLSTM or a pair
// of character language models, optionally transformer vectors), a bidirectional tagger LSTM,
// and CRF Viterbi decoding of one tag set into repaired BIOES tags, read from an "ner" bundle.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora {

class Document;
class ModelBundle;

class NERPlan {
 public:
  /// Opens the bundle and loads the whole model. Fails with NERModelError (ModelBundleError for
  /// the bundle's own failures, the shared encoders' errors for theirs).
  NERPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~NERPlan();
  NERPlan(NERPlan&&) noexcept;
  NERPlan& operator=(NERPlan&&) noexcept;
  NERPlan(const NERPlan&) = delete;
  NERPlan& operator=(const NERPlan&) = delete;

  const ModelBundle& bundle() const;

  /// One BIOES tag of the predicted tag set per token text of one sentence.
  std::vector<std::string> tag(const std::vector<std::string>& tokens) const;
  /// Tags every sentence, stores each token's tag (and a one-element tag list) and rebuilds the
  /// entity spans. The result shares the storage of `document`. When a sentence cannot be
  /// tagged, nothing of the document is changed.
  Document process(Document document) const;
  /// process() of every document, in list order, with the sentences of all of them tagged
  /// together. When a sentence cannot be tagged, the documents before its document are tagged
  /// and that one and the rest are not changed.
  std::vector<Document> process_bulk(std::vector<Document> documents) const;

  /// The loaded model state, read by the tagger's internal stages.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
