#pragma once

// The parser's network: the word encoder (embeddings, character LMs, transformer, a
// bidirectional LSTM and a projection), one LSTM step per push on either stack, MAX
// composition of closed constituents, and the output layers that score every transition. The
// steps, compositions and scores of several parses can run together, one row per parse.

#include <ATen/ATen.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "constituency/model_state.hpp"
#include "constituency/transition_system.hpp"

namespace velmora::detail {

/// The row of `embedding.weight` of a word: its exact form (lower-cased when the vocabulary is),
/// then its lower-cased form, each with ASCII spaces as U+00A0; 1 ("<UNK>") when neither is known.
std::int64_t pretrain_id(const ConstituencyPlan::Impl& model, const std::string& word);

/// A node pushed on a stack before its LSTM step ran, and the node below it.
struct PendingPush {
  StackNode* node = nullptr;
  const StackNode* below = nullptr;
};

class ConstituencyNetwork final : public StackEncoder {
 public:
  explicit ConstituencyNetwork(const ConstituencyPlan::Impl& model) : model_(model) {}

  /// n + 2 vectors [hidden]: the start sentinel, one per word, the end sentinel.
  std::vector<at::Tensor> word_vectors(const std::vector<std::string>& words,
                                       const std::vector<std::string>& tags) const;
  StackNode transition_sentinel() const;
  StackNode constituent_sentinel() const;
  /// One score per transition of the table, in table order.
  std::vector<double> score(const ParserState& state) const;
  /// The scores of several states at once: [states, transitions], float64, row i for state i.
  at::Tensor score_rows(const std::vector<const ParserState*>& states) const;

  /// The element-wise maximum of a closed constituent's children, [1, hidden].
  at::Tensor pool(const std::vector<at::Tensor>& children) const;
  /// The vectors of closed constituents from their pooled children: rows [count, hidden].
  at::Tensor reduce(const at::Tensor& pooled) const;
  /// One LSTM step of the constituent stack for every pending node at once, each from its
  /// value's vector and the state of the node below it.
  void finish_constituent_pushes(const std::vector<PendingPush>& pushes) const;
  /// The same for the transition stack, each node from its transition's embedding.
  void finish_transition_pushes(const std::vector<PendingPush>& pushes) const;

  at::Tensor word_constituent(const at::Tensor& word_vector) const override;
  at::Tensor open_marker(std::int64_t open_index) const override;
  at::Tensor compose(const std::vector<at::Tensor>& children) const override;
  StackNode push_constituent(const StackNode& top, Constituent value) const override;
  StackNode push_transition(const StackNode& top, std::int64_t transition) const override;

 private:
  at::Tensor word_features(const std::vector<std::string>& words, const std::vector<std::string>& tags) const;
  StackNode sentinel(const std::vector<at::Tensor>& weights, const std::pair<at::Tensor, at::Tensor>& initial,
                     const char* start_embedding) const;
  void finish_pushes(const std::vector<at::Tensor>& weights, const std::optional<PreparedLstmStep>& prepared,
                     std::int64_t width, const std::vector<PendingPush>& pushes,
                     const std::vector<at::Tensor>& inputs) const;

  const ConstituencyPlan::Impl& model_;
};

/// The stack encoder of many parses stepped together: it leaves the stack LSTM steps and the
/// composition's linear layer to the caller, which runs them for all the parses at once. Pushed
/// nodes have no LSTM state yet, and a closed constituent's vector is its pooled children until
/// ConstituencyNetwork::reduce replaces it.
class DeferredStackEncoder final : public StackEncoder {
 public:
  explicit DeferredStackEncoder(const ConstituencyNetwork& network) : network_(network) {}

  at::Tensor word_constituent(const at::Tensor& word_vector) const override;
  at::Tensor open_marker(std::int64_t open_index) const override;
  at::Tensor compose(const std::vector<at::Tensor>& children) const override;
  StackNode push_constituent(const StackNode& top, Constituent value) const override;
  StackNode push_transition(const StackNode& top, std::int64_t transition) const override;

 private:
  const ConstituencyNetwork& network_;
};

}  // namespace velmora::detail
