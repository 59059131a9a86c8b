#pragma once

// Label prediction with the tokenizer's hierarchical recurrent network.

#include <cstdint>
#include <vector>

#include "tokenize/model_state.hpp"
#include "tokenize/units.hpp"

namespace velmora::detail {

/// The labels of one paragraph, predicted over windows of at most 1000 units; each window that
/// stops short of the paragraph's end keeps its labels up to its last sentence end. The
/// paragraph is then finished (last unit ends a sentence, addresses repaired). Runs on the
/// calling thread's operators: public callers run it inside a unit.
std::vector<std::int64_t> tokenizer_predict_labels(const TokenizerPlan::Impl& state, const TokenizerParagraph& units);

/// The labels of several non-empty paragraphs in one padded, packed pass (no windows), in the
/// order given, each finished as by tokenizer_predict_labels.
std::vector<std::vector<std::int64_t>> tokenizer_predict_labels_batched(
    const TokenizerPlan::Impl& state, const std::vector<const TokenizerParagraph*>& paragraphs);

/// The labels of paragraphs as the bulk operation predicts them: paragraphs of at most
/// kTokenizerWindow units gather, in order, into batches of at most `batch_limit` (a longer one
/// closes the current batch) and go through the batched prediction; longer ones go alone
/// through tokenizer_predict_labels. Each pass (up to eight rows of a batch, or one long
/// paragraph) is one unit on the intra-op threads, so the labels do not depend on their number.
std::vector<std::vector<std::int64_t>> tokenizer_predict_labels_bulk(
    const TokenizerPlan::Impl& state, const std::vector<const TokenizerParagraph*>& paragraphs,
    std::size_t batch_limit);

/// Paragraphs up to this many units run in one pass; longer ones are cut into windows.
inline constexpr std::size_t kTokenizerWindow = 1000;

}  // namespace velmora::detail
