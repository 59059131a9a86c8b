#pragma once

// The parser's network: the word encoder (embeddings, character LMs, transformer, a
// bidirectional LSTM and a projection), one LSTM step per push on either stack, MAX
// composition of closed constituents, and the output layers that score every transition.

#include <ATen/ATen.h>

#include <cstdint>
#include <string>
#include <vector>

#include "constituency/model_state.hpp"
#include "constituency/transition_system.hpp"

namespace velmora::detail {

/// The row of `embedding.weight` of a word: its exact form (lower-cased when the vocabulary is),
/// then its lower-cased form, each with ASCII spaces as U+00A0; 1 ("<UNK>") when neither is known.
std::int64_t pretrain_id(const ConstituencyPlan::Impl& model, const std::string& word);

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

  at::Tensor word_constituent(const at::Tensor& word_vector) const override;
  at::Tensor open_marker(std::int64_t open_index) const override;
  at::Tensor compose(const std::vector<at::Tensor>& children) const override;
  StackNode push_constituent(const StackNode& top, Constituent value) const override;
  StackNode push_transition(const StackNode& top, std::int64_t transition) const override;

 private:
  at::Tensor word_features(const std::vector<std::string>& words, const std::vector<std::string>& tags) const;
  StackNode sentinel(const std::vector<at::Tensor>& weights, const std::pair<at::Tensor, at::Tensor>& initial,
                     const char* start_embedding) const;
  StackNode push(const std::vector<at::Tensor>& weights, std::int64_t width, const StackNode& top,
                 const at::Tensor& input) const;

  const ConstituencyPlan::Impl& model_;
};

}  // namespace velmora::detail
