#pragma once

// The sentiment network: a batch of sentences (word lists) to one row of class scores each.

#include <ATen/ATen.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sentiment/model_state.hpp"

namespace velmora::detail {

using SentimentWords = std::vector<std::string>;

/// The pretrain vocabulary id of a word: the word itself, then without a final ASCII quote,
/// then lower-cased; "<UNK>" (1) when none is found.
std::int64_t sentiment_pretrain_id(const SentimentPlan::Impl& state, const std::string& word);

/// The padded length of a batch: its longest sentence, at least the minimum sentence length
/// and the tallest filter.
std::int64_t sentiment_padded_length(const SentimentPlan::Impl& state,
                                     const std::vector<const SentimentWords*>& batch);

/// Logits [sentences, num_classes], row b for sentence b, padded to the batch's own length. The
/// caller enters inference mode.
at::Tensor sentiment_logits(const SentimentPlan::Impl& state, const std::vector<const SentimentWords*>& batch);
/// The same with every sentence padded to `length` words (at least the batch's padded length).
/// Sentences do not interact: a batch may run in parts, each padded to the batch's length.
at::Tensor sentiment_logits(const SentimentPlan::Impl& state, const std::vector<const SentimentWords*>& batch,
                            std::int64_t length);

}  // namespace velmora::detail
