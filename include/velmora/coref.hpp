#pragma once

// The word-level coreference resolver read from a "coref" bundle: every word of a document is
// a potential mention head; linked heads form clusters, each head gets the span of the mention
// it heads, and heads marked as zero anaphors become generated empty words of the document.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora {

class Document;
class ModelBundle;

/// The clusters of one resolution; the three lists have one entry per cluster, in one order.
struct CorefPrediction {
  /// The head words of each cluster, ascending; clusters are ordered by their word lists.
  std::vector<std::vector<std::uint64_t>> word_clusters;
  /// The half-open word span [start, end) of the mention each head of word_clusters heads.
  std::vector<std::vector<std::pair<std::uint64_t, std::uint64_t>>> span_clusters;
  /// The heads of each cluster that stand for an elided (zero) mention, in cluster order.
  std::vector<std::vector<std::uint64_t>> zero_words;

  friend bool operator==(const CorefPrediction&, const CorefPrediction&) = default;
};

class CorefPlan {
 public:
  /// Opens the bundle and loads the model and its transformer. Fails with CorefModelError, the
  /// bundle's ModelBundleError, the transformer's errors, or the JSON reader's JsonError for
  /// malformed assets (passed on unchanged, with the dotted path of the key).
  CorefPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~CorefPlan();
  CorefPlan(CorefPlan&&) noexcept;
  CorefPlan& operator=(CorefPlan&&) noexcept;
  CorefPlan(const CorefPlan&) = delete;
  CorefPlan& operator=(const CorefPlan&) = delete;

  const ModelBundle& bundle() const;
  /// Whether single-word mentions without antecedent links form clusters of their own.
  bool predicts_singletons() const;
  /// Whether clustered heads may be marked as zero anaphors.
  bool predicts_zero_anaphora() const;

  /// Resolves one document given as a flat word list with one sentence id per word and one
  /// speaker per word (an empty speaker list means "_" for every word). Mismatched lengths and
  /// sentence ids not below the word count are std::invalid_argument.
  CorefPrediction resolve(const std::vector<std::string>& words, const std::vector<std::uint64_t>& sentence_ids,
                          const std::vector<std::string>& speakers) const;
  /// Replaces the document's coreference chains and its generated empty words; returns it.
  Document process(Document document) const;
  /// process() on each document in list order.
  std::vector<Document> process_bulk(std::vector<Document> documents) const;

  /// The loaded model state, read by the resolver's internal stages.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
