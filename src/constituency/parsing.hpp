#pragma once

// Greedy parsing of a group of sentences stepped together: at each step every unfinished parse
// is scored in one pass of the output layers, chooses and applies its transition, and the stack
// LSTM steps of all of them run as one product per layer. A parse alone reads every weight
// matrix once per transition; a group reads it once per step for all its parses.

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "constituency/model_state.hpp"
#include "velmora/constituency_tree.hpp"

namespace velmora::detail {

/// How one sentence's parse ended: its tree, or the error it failed with.
struct ParseOutcome {
  std::optional<ConstituencyTree> tree;
  std::exception_ptr error;
};

/// The parse of every sentence (its words and one tag per word), in order. Each parse fails or
/// succeeds on its own, with the error it would give alone: an empty sentence, words and tags
/// of different lengths, no legal transition, the transition limit. A failure of a step shared
/// by the group fails every parse still running. The caller enters inference mode.
std::vector<ParseOutcome> parse_together(const ConstituencyPlan::Impl& model,
                                         const std::vector<const std::vector<std::string>*>& words,
                                         const std::vector<const std::vector<std::string>*>& tags);

}  // namespace velmora::detail
