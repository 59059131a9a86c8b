#include "constituency/parsing.hpp"

#include <cmath>
#include <cstdint>
#include <utility>

#include "constituency/network.hpp"
#include "constituency/transition_system.hpp"
#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

// A sentence of n words may take at most this many transitions per word slot (n + 2 slots).
constexpr std::int64_t kTransitionsPerSlot = 20;

// Whether score a ranks before score b: higher first; a NaN ranks below every number.
bool ranks_before(double a, double b) { return !std::isnan(a) && (std::isnan(b) || a > b); }

// The legal transition of the best score; among equal scores the earlier one in the table.
std::optional<std::size_t> best_legal(const TransitionRules& rules, const ParserState& state, const double* scores,
                                      std::size_t count) {
  std::optional<std::size_t> best;
  for (std::size_t t = 0; t < count; ++t) {
    if ((!best || ranks_before(scores[t], scores[*best])) && is_legal(rules, state, t)) best = t;
  }
  return best;
}

struct Parse {
  std::size_t sentence = 0;
  ParserState state;
};

// The start state of one sentence, with the checks and messages of a parse alone.
ParserState start_state(const ConstituencyNetwork& network, const std::vector<std::string>& words,
                        const std::vector<std::string>& tags) {
  if (words.empty()) throw ConstituencyModelError("constituency parser cannot parse an empty sentence");
  if (words.size() != tags.size()) throw ConstituencyModelError("constituency words and tags have different lengths");
  ParserState state;
  state.num_words = static_cast<std::int64_t>(words.size());
  state.word_vectors = network.word_vectors(words, tags);
  if (static_cast<std::int64_t>(state.word_vectors.size()) != state.num_words + 2) {
    throw ConstituencyModelError("constituency word encoder omitted sentence sentinels");
  }
  state.word_queue.reserve(words.size());
  for (std::size_t i = 0; i < words.size(); ++i) state.word_queue.push_back(preterminal(words[i], tags[i]));
  state.transition_stack.push_back(network.transition_sentinel());
  state.constituent_stack.push_back(network.constituent_sentinel());
  return state;
}

// The LSTM steps and compositions the deferred encoder left for this step, for all parses.
void finish_step(const ConstituencyNetwork& network, const TransitionRules& rules, std::vector<Parse>& parses) {
  std::vector<StackNode*> closed;
  std::vector<at::Tensor> pooled;
  std::vector<PendingPush> constituents;
  std::vector<PendingPush> transitions;
  for (Parse& parse : parses) {
    std::vector<StackNode>& constituent_stack = parse.state.constituent_stack;
    std::vector<StackNode>& transition_stack = parse.state.transition_stack;
    StackNode& top = constituent_stack.back();
    const std::int64_t transition = *transition_stack.back().transition;
    if (rules.transitions[static_cast<std::size_t>(transition)].kind == ConstituencyTransition::Close) {
      closed.push_back(&top);
      pooled.push_back(top.value->hidden);
    }
    constituents.push_back({&top, &constituent_stack[constituent_stack.size() - 2]});
    transitions.push_back({&transition_stack.back(), &transition_stack[transition_stack.size() - 2]});
  }
  if (!closed.empty()) {
    const at::Tensor composed = network.reduce(at::cat(pooled, 0));
    for (std::size_t i = 0; i < closed.size(); ++i) closed[i]->value->hidden = composed.narrow(0, static_cast<std::int64_t>(i), 1);
  }
  network.finish_constituent_pushes(constituents);
  network.finish_transition_pushes(transitions);
}

}  // namespace

std::vector<ParseOutcome> parse_together(const ConstituencyPlan::Impl& model,
                                         const std::vector<const std::vector<std::string>*>& words,
                                         const std::vector<const std::vector<std::string>*>& tags) {
  const ConstituencyNetwork network(model);
  const DeferredStackEncoder deferred(network);
  const TransitionRules rules{model.transitions, model.root_labels, model.unary_limit};
  std::vector<ParseOutcome> outcomes(words.size());
  std::vector<Parse> parses;
  for (std::size_t s = 0; s < words.size(); ++s) {
    try {
      parses.push_back({s, start_state(network, *words[s], *tags[s])});
    } catch (...) {
      outcomes[s].error = std::current_exception();
    }
  }

  std::vector<Parse> running;
  std::vector<const ParserState*> states;
  while (!parses.empty()) {
    running.clear();
    for (Parse& parse : parses) {
      if (std::optional<ConstituencyTree> tree = finished_tree(rules, parse.state)) {
        outcomes[parse.sentence].tree = std::move(tree);
      } else {
        running.push_back(std::move(parse));
      }
    }
    parses.clear();
    if (running.empty()) break;
    try {
      states.clear();
      for (const Parse& parse : running) states.push_back(&parse.state);
      const at::Tensor scores = network.score_rows(states);
      const auto count = static_cast<std::size_t>(scores.size(1));
      const double* rows = scores.const_data_ptr<double>();
      for (std::size_t p = 0; p < running.size(); ++p) {
        Parse& parse = running[p];
        try {
          const std::optional<std::size_t> chosen = best_legal(rules, parse.state, rows + p * count, count);
          if (!chosen) throw ConstituencyModelError("constituency parser could not find a legal transition");
          const std::int64_t limit = kTransitionsPerSlot * (parse.state.num_words + 2);
          if (parse.state.steps >= limit) throw ConstituencyModelError("constituency parser exceeded its transition limit");
          apply_transition(rules, parse.state, *chosen, deferred);
          parses.push_back(std::move(parse));
        } catch (...) {
          outcomes[parse.sentence].error = std::current_exception();
        }
      }
      finish_step(network, rules, parses);
    } catch (...) {
      // A step the parses share failed: each of them would have failed on it alone.
      for (const Parse& parse : running) {
        if (!outcomes[parse.sentence].error) outcomes[parse.sentence].error = std::current_exception();
      }
      break;
    }
  }
  return outcomes;
}

}  // namespace velmora::detail
