#include "constituency/transition_system.hpp"

#include <algorithm>
#include <utility>

#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

// How many Open transitions may be pending beyond the sentence length before Open stops.
constexpr std::int64_t kOpenAllowanceBeyondWords = 10;

bool last_was_open(const TransitionRules& rules, const ParserState& state) {
  if (state.transition_stack.size() <= 1) return false;
  const std::optional<std::int64_t>& last = state.transition_stack.back().transition;
  return last && rules.transitions[static_cast<std::size_t>(*last)].kind == ConstituencyTransition::Open;
}

const std::optional<ConstituencyTree>* tree_of(const StackNode& node) {
  return node.value && node.value->tree ? &node.value->tree : nullptr;
}

bool shift_is_legal(const ParserState& state) {
  if (state.word_position == state.num_words) return false;
  // After the first word, every further word goes into an open constituent.
  return state.num_open > 0 || state.constituents_empty();
}

bool open_is_legal(const TransitionRules& rules, const ParserState& state, const ConstituencyTransition& open) {
  if (state.num_open > state.num_words + kOpenAllowanceBeyondWords || state.constituents_empty() ||
      last_was_open(rules, state)) {
    return false;
  }
  if (rules.root_labels.contains(open.labels.front())) {
    return state.num_open == 0 && state.word_position == state.num_words;
  }
  if (state.num_open == 0 && state.word_position < state.num_words) return true;
  const auto* top = tree_of(state.constituent_stack.back());
  return top == nullptr || !too_unary(**top, rules.unary_limit);
}

bool close_is_legal(const TransitionRules& rules, const ParserState& state) {
  if (state.num_open == 0) return false;
  if (!last_was_open(rules, state)) return true;
  // Closing right after Open makes a unary constituent.
  if (state.num_open > 1 || state.word_position == state.num_words) return true;
  if (state.constituent_stack.size() < 3) return false;
  const auto* second = tree_of(state.constituent_stack[state.constituent_stack.size() - 2]);
  return second == nullptr || !too_unary(**second, rules.unary_limit);
}

void apply_shift(ParserState& state, const StackEncoder& encoder) {
  Constituent word;
  word.tree = state.word_queue[static_cast<std::size_t>(state.word_position)];
  word.hidden = encoder.word_constituent(state.word_vectors[static_cast<std::size_t>(state.word_position + 1)]);
  state.word_position += 1;
  state.constituent_stack.push_back(encoder.push_constituent(state.constituent_stack.back(), std::move(word)));
}

void apply_open(ParserState& state, const ConstituencyTransition& open, const StackEncoder& encoder) {
  Constituent marker;
  marker.hidden = encoder.open_marker(open.open_index);
  marker.labels = open.labels;
  marker.is_open_marker = true;
  state.constituent_stack.push_back(encoder.push_constituent(state.constituent_stack.back(), std::move(marker)));
  state.num_open += 1;
}

bool is_open_marker(const StackNode& node) { return node.value && node.value->is_open_marker; }

void apply_close(ParserState& state, const StackEncoder& encoder) {
  std::vector<Constituent> children;
  auto pop = [&] {
    children.push_back(std::move(*state.constituent_stack.back().value));
    state.constituent_stack.pop_back();
  };
  while (!state.constituents_empty() && !is_open_marker(state.constituent_stack.back())) pop();
  if (state.constituents_empty()) throw ConstituencyModelError("constituency Close has no matching Open");
  const std::vector<std::string> labels = std::move(state.constituent_stack.back().value->labels);
  state.constituent_stack.pop_back();
  if (state.constituents_empty()) throw ConstituencyModelError("in-order constituency Close has no left child");
  pop();
  std::reverse(children.begin(), children.end());

  std::vector<ConstituencyTree> trees;
  std::vector<at::Tensor> hiddens;
  trees.reserve(children.size());
  hiddens.reserve(children.size());
  for (Constituent& child : children) {
    if (!child.tree) throw ConstituencyModelError("constituency child is a dummy marker");
    trees.push_back(std::move(*child.tree));
    hiddens.push_back(std::move(child.hidden));
  }
  Constituent closed;
  closed.hidden = encoder.compose(hiddens);
  closed.tree = build_constituent(labels, trees);
  state.constituent_stack.push_back(encoder.push_constituent(state.constituent_stack.back(), std::move(closed)));
  state.num_open -= 1;
}

}  // namespace

ConstituencyTree preterminal(const std::string& word, const std::string& tag) {
  return ConstituencyTree(tag, {ConstituencyTree(word)});
}

bool too_unary(const ConstituencyTree& tree, std::int64_t unary_limit) {
  const TreeNode* node = tree.node().get();
  for (std::int64_t steps = 0; node->children().size() == 1; ++steps) {
    if (steps >= unary_limit) return true;
    node = node->children().front().get();
  }
  return false;
}

ConstituencyTree build_constituent(const std::vector<std::string>& labels,
                                   const std::vector<ConstituencyTree>& children) {
  if (labels.empty()) throw ConstituencyModelError("cannot build a constituent without a label");
  ConstituencyTree result(labels.back(), children);
  for (auto label = labels.rbegin() + 1; label != labels.rend(); ++label) result = ConstituencyTree(*label, {result});
  return result;
}

bool is_legal(const TransitionRules& rules, const ParserState& state, std::size_t transition) {
  const ConstituencyTransition& candidate = rules.transitions[transition];
  switch (candidate.kind) {
    case ConstituencyTransition::Shift: return shift_is_legal(state);
    case ConstituencyTransition::Open: return open_is_legal(rules, state, candidate);
    default: return close_is_legal(rules, state);
  }
}

void apply_transition(const TransitionRules& rules, ParserState& state, std::size_t transition,
                      const StackEncoder& encoder) {
  const ConstituencyTransition& chosen = rules.transitions[transition];
  switch (chosen.kind) {
    case ConstituencyTransition::Shift: apply_shift(state, encoder); break;
    case ConstituencyTransition::Open: apply_open(state, chosen, encoder); break;
    default: apply_close(state, encoder); break;
  }
  state.transition_stack.push_back(
      encoder.push_transition(state.transition_stack.back(), static_cast<std::int64_t>(transition)));
  state.steps += 1;
}

std::optional<ConstituencyTree> finished_tree(const TransitionRules& rules, const ParserState& state) {
  if (state.word_position != state.num_words || state.constituent_stack.size() != 2) return std::nullopt;
  const auto* top = tree_of(state.constituent_stack.back());
  if (top == nullptr || !rules.root_labels.contains((*top)->label())) return std::nullopt;
  return **top;
}

}  // namespace velmora::detail
