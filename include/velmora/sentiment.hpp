#pragma once

// The sentence sentiment classifier: a convolutional network over word vectors (pretrained and
// extra embeddings, character-LM and transformer features, an optional BiLSTM) that gives every
// sentence one class index.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora {

class Document;
class ModelBundle;

class SentimentPlan {
 public:
  /// Opens a "sentiment" bundle, checks its configuration against the supported profile and
  /// binds its weights. Fails with SentimentModelError (the bundle's own ModelBundleError and
  /// the errors of the character LMs and the transformer pass through).
  SentimentPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~SentimentPlan();
  SentimentPlan(SentimentPlan&&) noexcept;
  SentimentPlan& operator=(SentimentPlan&&) noexcept;
  SentimentPlan(const SentimentPlan&) = delete;
  SentimentPlan& operator=(const SentimentPlan&) = delete;

  const ModelBundle& bundle() const;

  /// The class index (position in the bundle's labels) of one sentence given as its words.
  std::int64_t classify(const std::vector<std::string>& words) const;
  /// One class index per sentence, in input order. Sentences run longest first in batches of
  /// at most `batch_size` words (a longer sentence runs alone); 0 is refused with
  /// std::invalid_argument.
  std::vector<std::int64_t> classify_many(const std::vector<std::vector<std::string>>& sentences,
                                          std::size_t batch_size) const;
  /// Sets the sentiment of every sentence, classified from its token texts; returns the same
  /// document. Nothing is written unless every sentence was classified.
  Document process(Document document) const;
  /// The same for a list, with the sentences of all documents batched together.
  std::vector<Document> process_bulk(std::vector<Document> documents) const;

  /// The loaded model state, read by the classifier's internal stages.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
