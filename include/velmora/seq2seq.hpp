#pragma once

// The character sequence-to-sequence model shared by the lemmatizer and the multi-word-token
// expander: a bidirectional LSTM encoder, a soft-attention LSTM decoder with an optional copy
// gate, an optional edit classifier, decoded greedily (batched) or by beam search.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora {

class ModelBundle;

/// The output of one word: the decoded text and, when the model has an edit classifier, the
/// index of its largest output.
struct Seq2SeqPrediction {
  std::string text;
  std::optional<std::int64_t> edit_class;

  friend bool operator==(const Seq2SeqPrediction&, const Seq2SeqPrediction&) = default;
};

class Seq2SeqPlan {
 public:
  /// Opens a "lemma" or "mwt" bundle and loads its seq2seq model. Fails with
  /// Seq2SeqModelError (ModelBundleError for the bundle's own failures).
  Seq2SeqPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~Seq2SeqPlan();
  Seq2SeqPlan(Seq2SeqPlan&&) noexcept;
  Seq2SeqPlan& operator=(Seq2SeqPlan&&) noexcept;
  Seq2SeqPlan(const Seq2SeqPlan&) = delete;
  Seq2SeqPlan& operator=(const Seq2SeqPlan&) = delete;

  const ModelBundle& bundle() const;
  /// Whether a prediction needs a POS tag.
  bool uses_pos() const;
  /// The beam size used when a prediction gives none (at least 1).
  std::int64_t configured_beam_size() const;

  /// One word; beam size 1 decodes greedily, a larger one by beam search.
  Seq2SeqPrediction predict(const std::string& word, const std::optional<std::string>& pos,
                            std::optional<long long> beam_size, bool suppress_unk) const;
  /// Many words, result i for word i; greedy decoding runs in length-sorted batches.
  std::vector<Seq2SeqPrediction> predict_many(const std::vector<std::string>& words,
                                              const std::vector<std::optional<std::string>>& pos,
                                              std::optional<long long> beam_size,
                                              bool suppress_unk) const;

  /// The loaded model state, read by the seq2seq internals.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
