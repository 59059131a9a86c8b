// The parser's public operations: greedy parsing of one sentence, of a list of sentences, and
// of every sentence of a document.

#include <c10/core/InferenceMode.h>

#include <cmath>
#include <optional>
#include <utility>

#include "constituency/model_loading.hpp"
#include "constituency/network.hpp"
#include "constituency/transition_system.hpp"
#include "velmora/constituency.hpp"
#include "velmora/document.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {
namespace {

// A sentence of n words may take at most this many transitions per word slot (n + 2 slots).
constexpr std::int64_t kTransitionsPerSlot = 20;

// Whether score a ranks before score b: higher first; a NaN ranks below every number.
bool ranks_before(double a, double b) { return !std::isnan(a) && (std::isnan(b) || a > b); }

// The legal transition of the best score; among equal scores the earlier one in the table.
std::optional<std::size_t> best_legal(const detail::TransitionRules& rules, const detail::ParserState& state,
                                      const std::vector<double>& scores) {
  std::optional<std::size_t> best;
  for (std::size_t t = 0; t < scores.size(); ++t) {
    if ((!best || ranks_before(scores[t], scores[*best])) && detail::is_legal(rules, state, t)) best = t;
  }
  return best;
}

}  // namespace

ConstituencyPlan::ConstituencyPlan(std::filesystem::path bundle_path, bool verify_checksums)
    : impl_(detail::load_constituency_model(std::move(bundle_path), verify_checksums)) {}

ConstituencyPlan::~ConstituencyPlan() = default;
ConstituencyPlan::ConstituencyPlan(ConstituencyPlan&&) noexcept = default;
ConstituencyPlan& ConstituencyPlan::operator=(ConstituencyPlan&&) noexcept = default;

const ModelBundle& ConstituencyPlan::bundle() const { return *impl_->bundle; }

bool ConstituencyPlan::uses_xpos() const { return impl_->uses_xpos; }

ConstituencyTree ConstituencyPlan::parse(const std::vector<std::string>& words,
                                         const std::vector<std::string>& tags) const {
  if (words.empty()) throw ConstituencyModelError("constituency parser cannot parse an empty sentence");
  if (words.size() != tags.size()) throw ConstituencyModelError("constituency words and tags have different lengths");
  c10::InferenceMode guard(true);
  const Impl& model = *impl_;
  const detail::ConstituencyNetwork network(model);
  const detail::TransitionRules rules{model.transitions, model.root_labels, model.unary_limit};

  detail::ParserState state;
  state.num_words = static_cast<std::int64_t>(words.size());
  state.word_vectors = network.word_vectors(words, tags);
  if (static_cast<std::int64_t>(state.word_vectors.size()) != state.num_words + 2) {
    throw ConstituencyModelError("constituency word encoder omitted sentence sentinels");
  }
  state.word_queue.reserve(words.size());
  for (std::size_t i = 0; i < words.size(); ++i) state.word_queue.push_back(detail::preterminal(words[i], tags[i]));
  state.transition_stack.push_back(network.transition_sentinel());
  state.constituent_stack.push_back(network.constituent_sentinel());

  const std::int64_t limit = kTransitionsPerSlot * (state.num_words + 2);
  while (true) {
    if (std::optional<ConstituencyTree> tree = detail::finished_tree(rules, state)) return *std::move(tree);
    const std::optional<std::size_t> chosen = best_legal(rules, state, network.score(state));
    if (!chosen) throw ConstituencyModelError("constituency parser could not find a legal transition");
    if (state.steps >= limit) throw ConstituencyModelError("constituency parser exceeded its transition limit");
    detail::apply_transition(rules, state, *chosen, network);
  }
}

std::vector<ConstituencyTree> ConstituencyPlan::parse_many(const std::vector<std::vector<std::string>>& sentences,
                                                           const std::vector<std::vector<std::string>>& tags) const {
  if (sentences.size() != tags.size()) {
    throw ConstituencyModelError("constituency sentence and tag batches have different lengths");
  }
  std::vector<ConstituencyTree> trees;
  trees.reserve(sentences.size());
  for (std::size_t i = 0; i < sentences.size(); ++i) trees.push_back(parse(sentences[i], tags[i]));
  return trees;
}

Document ConstituencyPlan::process(Document document) const {
  const SentenceSequence sentences = document.sentences();
  std::vector<std::vector<std::string>> words(sentences.size());
  std::vector<std::vector<std::string>> tags(sentences.size());
  for (std::uint64_t s = 0; s < sentences.size(); ++s) {
    const WordSequence sentence_words = sentences.at(static_cast<long>(s)).words();
    for (std::uint64_t w = 0; w < sentence_words.size(); ++w) {
      const Word word = sentence_words.at(static_cast<long>(w));
      std::optional<std::string> tag = impl_->uses_xpos ? word.xpos() : word.upos();
      if (!tag) {
        throw ConstituencyModelError(std::string("constituency requires ") + (impl_->uses_xpos ? "XPOS" : "UPOS") +
                                     " on every word");
      }
      words[s].push_back(word.text());
      tags[s].push_back(*std::move(tag));
    }
  }
  // Every sentence is parsed before the first tree is stored, so a failure changes nothing.
  const std::vector<ConstituencyTree> trees = parse_many(words, tags);
  for (std::uint64_t s = 0; s < sentences.size(); ++s) sentences.at(static_cast<long>(s)).set_constituency(trees[s]);
  return document;
}

std::vector<Document> ConstituencyPlan::process_bulk(std::vector<Document> documents) const {
  for (Document& document : documents) document = process(std::move(document));
  return documents;
}

}  // namespace velmora
