// The parser's public operations: greedy parsing of one sentence, of a list of sentences, and
// of every sentence of documents. Each sentence is one unit of work, parsed on one thread.

#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <utility>

#include "constituency/model_loading.hpp"
#include "constituency/network.hpp"
#include "constituency/transition_system.hpp"
#include "models/parallel_units.hpp"
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

// The greedy parse of one non-empty sentence with one tag per word.
ConstituencyTree parse_sentence(const ConstituencyPlan::Impl& model, const std::vector<std::string>& words,
                                const std::vector<std::string>& tags) {
  c10::InferenceMode guard(true);
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

// parse_sentence after the checks of parse(), with their messages.
ConstituencyTree parse_checked(const ConstituencyPlan::Impl& model, const std::vector<std::string>& words,
                               const std::vector<std::string>& tags) {
  if (words.empty()) throw ConstituencyModelError("constituency parser cannot parse an empty sentence");
  if (words.size() != tags.size()) throw ConstituencyModelError("constituency words and tags have different lengths");
  return parse_sentence(model, words, tags);
}

std::vector<ConstituencyTree> unwrapped(std::vector<std::optional<ConstituencyTree>> trees) {
  std::vector<ConstituencyTree> result;
  result.reserve(trees.size());
  for (std::optional<ConstituencyTree>& tree : trees) result.push_back(*std::move(tree));
  return result;
}

// Appends the words and tags of every sentence of the document; a word without the tag the
// model reads fails the document.
void read_sentences(const ConstituencyPlan::Impl& model, const Document& document,
                    std::vector<std::vector<std::string>>& words, std::vector<std::vector<std::string>>& tags) {
  const std::size_t first = words.size();
  const SentenceSequence sentences = document.sentences();
  for (std::uint64_t s = 0; s < sentences.size(); ++s) {
    std::vector<std::string>& sentence_words = words.emplace_back();
    std::vector<std::string>& sentence_tags = tags.emplace_back();
    const WordSequence all = sentences.at(static_cast<long>(s)).words();
    for (std::uint64_t w = 0; w < all.size(); ++w) {
      const Word word = all.at(static_cast<long>(w));
      std::optional<std::string> tag = model.uses_xpos ? word.xpos() : word.upos();
      if (!tag) {
        words.resize(first);
        tags.resize(first);
        throw ConstituencyModelError(std::string("constituency requires ") + (model.uses_xpos ? "XPOS" : "UPOS") +
                                     " on every word");
      }
      sentence_words.push_back(word.text());
      sentence_tags.push_back(*std::move(tag));
    }
  }
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
  std::optional<ConstituencyTree> tree;
  detail::for_each_unit(1, [&](std::size_t) { tree = parse_sentence(*impl_, words, tags); });
  return *std::move(tree);
}

std::vector<ConstituencyTree> ConstituencyPlan::parse_many(const std::vector<std::vector<std::string>>& sentences,
                                                           const std::vector<std::vector<std::string>>& tags) const {
  if (sentences.size() != tags.size()) {
    throw ConstituencyModelError("constituency sentence and tag batches have different lengths");
  }
  std::vector<std::optional<ConstituencyTree>> trees(sentences.size());
  detail::for_each_unit(sentences.size(), [&](std::size_t i) { trees[i] = parse_checked(*impl_, sentences[i], tags[i]); });
  return unwrapped(std::move(trees));
}

Document ConstituencyPlan::process(Document document) const {
  std::vector<Document> documents;
  documents.push_back(std::move(document));
  return std::move(process_bulk(std::move(documents)).front());
}

std::vector<Document> ConstituencyPlan::process_bulk(std::vector<Document> documents) const {
  // The words and tags of the documents up to the first one that lacks a tag.
  std::vector<std::vector<std::string>> words;
  std::vector<std::vector<std::string>> tags;
  std::vector<std::size_t> first_sentence;
  std::exception_ptr missing_tag;
  for (const Document& document : documents) {
    try {
      first_sentence.push_back(words.size());
      read_sentences(*impl_, document, words, tags);
    } catch (const ConstituencyModelError&) {
      missing_tag = std::current_exception();
      first_sentence.pop_back();
      break;
    }
  }
  first_sentence.push_back(words.size());
  std::vector<std::optional<ConstituencyTree>> trees(words.size());
  const std::optional<detail::UnitFailure> failure = detail::try_each_unit(
      words.size(), [&](std::size_t i) { trees[i] = parse_checked(*impl_, words[i], tags[i]); });

  // As if the documents ran one after another, each parsed whole before its trees are stored:
  // the documents before the first failure get their trees, the failing one and the rest keep
  // theirs.
  std::size_t parsed = first_sentence.size() - 1;
  if (failure) {
    parsed = static_cast<std::size_t>(std::upper_bound(first_sentence.begin(), first_sentence.end(), failure->index) -
                                      first_sentence.begin()) - 1;
  }
  for (std::size_t d = 0; d < parsed; ++d) {
    const SentenceSequence sentences = documents[d].sentences();
    for (std::size_t s = 0; s < sentences.size(); ++s) {
      sentences.at(static_cast<long>(s)).set_constituency(*std::move(trees[first_sentence[d] + s]));
    }
  }
  if (failure) std::rethrow_exception(failure->error);
  if (missing_tag) std::rethrow_exception(missing_tag);
  return documents;
}

}  // namespace velmora
