#pragma once

// The part-of-speech tagger: universal POS, language-specific POS and morphological features of
// every word, from word, pretrained and character features through a highway BiLSTM and three
// classifier heads.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora {

class Document;
class ModelBundle;

/// The tags of one word; "_" means no value (written into a document as an absent field).
struct POSTag {
  std::string upos;
  std::string xpos;
  std::string feats;

  friend bool operator==(const POSTag&, const POSTag&) = default;
};

class POSPlan {
 public:
  /// Opens a "pos" bundle and loads the tagger. Fails with POSModelError (JSON errors of the
  /// assets included); errors of the bundle, the character LMs and the transformer pass as
  /// their own types.
  POSPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~POSPlan();
  POSPlan(POSPlan&&) noexcept;
  POSPlan& operator=(POSPlan&&) noexcept;
  POSPlan(const POSPlan&) = delete;
  POSPlan& operator=(const POSPlan&) = delete;

  const ModelBundle& bundle() const;
  /// The tags of one sentence's words, in order.
  std::vector<POSTag> tag(const std::vector<std::string>& words) const;
  /// Tags every sentence; the sentences share batches as a list's do. When a sentence fails,
  /// the sentences before it are written and no later one.
  Document process(Document document) const;
  /// Tags the sentences of all documents together in batches; nothing is written until every
  /// sentence is tagged.
  std::vector<Document> process_bulk(std::vector<Document> documents) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
