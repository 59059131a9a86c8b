#pragma once

// The in-order transition system: the parser state of one sentence, the legality rules of the
// three transition kinds, what each transition does to the two stacks, and how closed
// constituents become trees. The vectors the stacks carry come from a StackEncoder (the
// network in parsing, a stand-in in tests).

#include <ATen/ATen.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "constituency/model_state.hpp"
#include "models/string_hash.hpp"
#include "velmora/constituency_tree.hpp"

namespace velmora::detail {

/// The value of a constituent-stack node: a finished subtree, or the marker pushed by Open.
struct Constituent {
  std::optional<ConstituencyTree> tree;  // absent for an open marker
  at::Tensor hidden;                     // [1, hidden_size]
  std::vector<std::string> labels;       // open marker only
  bool is_open_marker = false;
};

/// One element of either stack, with the stack LSTM's state after it.
struct StackNode {
  std::optional<Constituent> value;       // constituent stack only, absent in the sentinel
  std::optional<std::int64_t> transition;  // transition stack only, absent in the sentinel
  at::Tensor h;       // [layers, width]
  at::Tensor c;       // [layers, width]
  at::Tensor output;  // [width]
};

struct ParserState {
  std::vector<at::Tensor> word_vectors;  // n + 2: start sentinel, the words, end sentinel
  std::vector<ConstituencyTree> word_queue;  // tag_i(word_i)
  std::vector<StackNode> transition_stack;   // sentinel first, top last
  std::vector<StackNode> constituent_stack;
  std::int64_t num_words = 0;
  std::int64_t word_position = 0;
  std::int64_t num_open = 0;
  std::int64_t steps = 0;

  /// Only the sentinel is left.
  bool constituents_empty() const { return constituent_stack.size() <= 1; }
};

/// What the transition system needs of the network.
class StackEncoder {
 public:
  virtual ~StackEncoder() = default;
  /// The vector of a shifted word from its word vector, [1, hidden].
  virtual at::Tensor word_constituent(const at::Tensor& word_vector) const = 0;
  /// The vector of an open marker: row `open_index` of the dummy embedding, [1, hidden].
  virtual at::Tensor open_marker(std::int64_t open_index) const = 0;
  /// The vector of a closed constituent from its children's vectors, left to right.
  virtual at::Tensor compose(const std::vector<at::Tensor>& children) const = 0;
  /// A constituent-stack node for `value` pushed on `top`.
  virtual StackNode push_constituent(const StackNode& top, Constituent value) const = 0;
  /// A transition-stack node for transition `transition` pushed on `top`.
  virtual StackNode push_transition(const StackNode& top, std::int64_t transition) const = 0;
};

/// The transition table with the rules that depend on the model: root labels and unary limit.
struct TransitionRules {
  const std::vector<ConstituencyTransition>& transitions;
  const StringSet& root_labels;
  std::int64_t unary_limit = 0;
};

/// The preterminal tag(word) that enters the word queue.
ConstituencyTree preterminal(const std::string& word, const std::string& tag);

/// Whether a chain of single-child nodes from `tree` down is longer than the limit allows.
bool too_unary(const ConstituencyTree& tree, std::int64_t unary_limit);

/// L0(L1(...Lm(children))).
ConstituencyTree build_constituent(const std::vector<std::string>& labels,
                                   const std::vector<ConstituencyTree>& children);

bool is_legal(const TransitionRules& rules, const ParserState& state, std::size_t transition);

/// Applies the transition and pushes it on the transition stack.
void apply_transition(const TransitionRules& rules, ParserState& state, std::size_t transition,
                      const StackEncoder& encoder);

/// The finished tree when the state is an end state.
std::optional<ConstituencyTree> finished_tree(const TransitionRules& rules, const ParserState& state);

}  // namespace velmora::detail
