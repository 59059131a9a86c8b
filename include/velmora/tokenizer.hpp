#pragma once

// The neural tokenizer: splits raw text into paragraphs, sentences, tokens and multi-word-token
// marks with a character-level hierarchical recurrent network read from a "tokenize" bundle.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora {

class Document;
class ModelBundle;

class TokenizerPlan {
 public:
  /// Opens and checks the bundle, reads its assets and binds its weights; everything is loaded
  /// here. Fails with TokenizerModelError (ModelBundleError for the bundle's own failures).
  TokenizerPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~TokenizerPlan();
  TokenizerPlan(TokenizerPlan&&) noexcept;
  TokenizerPlan& operator=(TokenizerPlan&&) noexcept;
  TokenizerPlan(const TokenizerPlan&) = delete;
  TokenizerPlan& operator=(const TokenizerPlan&) = delete;

  const ModelBundle& bundle() const;

  /// A new document built from `document`'s text alone, in the bundle's language. Its
  /// paragraphs are batched as process_bulk batches them, so it equals process_bulk({document}).
  Document process(const Document& document) const;
  /// One new document per input, in order; short paragraphs are batched across documents.
  std::vector<Document> process_bulk(const std::vector<Document>& documents) const;
  /// The per-unit labels (0 none, 1 token end, 2 sentence end, 3 multi-word token end,
  /// 4 multi-word token and sentence end) of a text holding at most one paragraph.
  std::vector<std::int64_t> predict_labels(const std::string& text) const;

  /// The loaded model state, read by the tokenizer's internal stages.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
