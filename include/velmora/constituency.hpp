#pragma once

// The constituency parser: an in-order transition parser read from a "constituency" bundle. A
// word encoder, LSTMs over the transition and constituent stacks and MAX composition score the
// transitions of the bundle's table; greedy parsing builds one tree per sentence.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "velmora/constituency_tree.hpp"
#include "velmora/errors.hpp"

namespace velmora {

class Document;
class ModelBundle;

class ConstituencyPlan {
 public:
  /// Opens the bundle, checks its assets against the supported profile and binds its weights.
  /// Fails with ConstituencyModelError (JSON reader errors included); the bundle's own errors
  /// and those of its character LMs and transformer pass through unchanged.
  ConstituencyPlan(std::filesystem::path bundle_path, bool verify_checksums);
  ~ConstituencyPlan();
  ConstituencyPlan(ConstituencyPlan&&) noexcept;
  ConstituencyPlan& operator=(ConstituencyPlan&&) noexcept;
  ConstituencyPlan(const ConstituencyPlan&) = delete;
  ConstituencyPlan& operator=(const ConstituencyPlan&) = delete;

  const ModelBundle& bundle() const;
  /// Whether the model reads XPOS (true) or UPOS (false) tags.
  bool uses_xpos() const;

  /// The tree of one sentence given as its words and one tag per word.
  ConstituencyTree parse(const std::vector<std::string>& words, const std::vector<std::string>& tags) const;
  /// One tree per sentence, in order; the first failure ends the call.
  std::vector<ConstituencyTree> parse_many(const std::vector<std::vector<std::string>>& sentences,
                                           const std::vector<std::vector<std::string>>& tags) const;
  /// Sets a tree on every sentence of the document, or on none when any sentence fails.
  Document process(Document document) const;
  /// process() on each document in turn; stops at the first document that fails.
  std::vector<Document> process_bulk(std::vector<Document> documents) const;

  /// The loaded model state, read by the parser's internal stages.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
