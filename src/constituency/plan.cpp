// The parser's public operations: greedy parsing of one sentence, of a list of sentences, and
// of every sentence of documents. Sentences are parsed in groups stepped together, one group
// per unit of work.

#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <exception>
#include <numeric>
#include <optional>
#include <utility>

#include "constituency/model_loading.hpp"
#include "constituency/parsing.hpp"
#include "models/parallel_units.hpp"
#include "velmora/constituency.hpp"
#include "velmora/document.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {
namespace {

using Words = std::vector<std::string>;

// Sentences one unit parses together: enough rows for each read of the stack and output
// weights to serve several parses, few enough that a document gives every thread a group.
constexpr std::size_t kSentencesPerGroup = 4;

// The outcome of every sentence. Sentences of similar length step together for about as long,
// so the groups are cut from the sentences ordered longest first: the order and the groups
// depend on the sentences alone, and so do the results.
std::vector<detail::ParseOutcome> parse_sentences(const ConstituencyPlan::Impl& model, const std::vector<Words>& words,
                                                  const std::vector<Words>& tags) {
  std::vector<std::size_t> order(words.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return words[a].size() > words[b].size(); });
  std::vector<detail::ParseOutcome> outcomes(words.size());
  detail::for_each_unit(detail::unit_count(order.size(), kSentencesPerGroup), [&](std::size_t unit) {
    c10::InferenceMode guard(true);
    const std::size_t first = unit * kSentencesPerGroup;
    const std::size_t end = std::min(order.size(), first + kSentencesPerGroup);
    std::vector<const Words*> group_words;
    std::vector<const Words*> group_tags;
    for (std::size_t k = first; k < end; ++k) {
      group_words.push_back(&words[order[k]]);
      group_tags.push_back(&tags[order[k]]);
    }
    std::vector<detail::ParseOutcome> parsed = detail::parse_together(model, group_words, group_tags);
    for (std::size_t k = first; k < end; ++k) outcomes[order[k]] = std::move(parsed[k - first]);
  });
  return outcomes;
}

// The first sentence, in input order, whose parse failed.
std::optional<std::size_t> first_failure(const std::vector<detail::ParseOutcome>& outcomes) {
  for (std::size_t s = 0; s < outcomes.size(); ++s) {
    if (outcomes[s].error) return s;
  }
  return std::nullopt;
}

// Appends the words and tags of every sentence of the document; a word without the tag the
// model reads fails the document, and then nothing of it is appended.
void read_sentences(const ConstituencyPlan::Impl& model, const Document& document, std::vector<Words>& words,
                    std::vector<Words>& tags) {
  const std::size_t first = words.size();
  const SentenceSequence sentences = document.sentences();
  for (std::uint64_t s = 0; s < sentences.size(); ++s) {
    Words& sentence_words = words.emplace_back();
    Words& sentence_tags = tags.emplace_back();
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
  return std::move(parse_many({words}, {tags}).front());
}

std::vector<ConstituencyTree> ConstituencyPlan::parse_many(const std::vector<std::vector<std::string>>& sentences,
                                                           const std::vector<std::vector<std::string>>& tags) const {
  if (sentences.size() != tags.size()) {
    throw ConstituencyModelError("constituency sentence and tag batches have different lengths");
  }
  std::vector<detail::ParseOutcome> outcomes = parse_sentences(*impl_, sentences, tags);
  if (const std::optional<std::size_t> failed = first_failure(outcomes)) std::rethrow_exception(outcomes[*failed].error);
  std::vector<ConstituencyTree> trees;
  trees.reserve(outcomes.size());
  for (detail::ParseOutcome& outcome : outcomes) trees.push_back(*std::move(outcome.tree));
  return trees;
}

Document ConstituencyPlan::process(Document document) const {
  std::vector<Document> documents;
  documents.push_back(std::move(document));
  return std::move(process_bulk(std::move(documents)).front());
}

std::vector<Document> ConstituencyPlan::process_bulk(std::vector<Document> documents) const {
  // The words and tags of the documents up to the first one that lacks a tag.
  std::vector<Words> words;
  std::vector<Words> tags;
  std::vector<std::size_t> first_sentence;
  std::exception_ptr missing_tag;
  for (const Document& document : documents) {
    try {
      read_sentences(*impl_, document, words, tags);
    } catch (const ConstituencyModelError&) {
      missing_tag = std::current_exception();
      break;
    }
    first_sentence.push_back(words.size() - document.sentences().size());
  }
  first_sentence.push_back(words.size());
  std::vector<detail::ParseOutcome> outcomes = parse_sentences(*impl_, words, tags);

  // As if the documents ran one after another, each parsed whole before its trees are stored:
  // the documents before the first failure get their trees, the failing one and the rest keep
  // theirs.
  const std::optional<std::size_t> failed = first_failure(outcomes);
  std::size_t parsed = first_sentence.size() - 1;
  if (failed) {
    parsed = static_cast<std::size_t>(std::upper_bound(first_sentence.begin(), first_sentence.end(), *failed) -
                                      first_sentence.begin()) - 1;
  }
  for (std::size_t d = 0; d < parsed; ++d) {
    const SentenceSequence sentences = documents[d].sentences();
    for (std::size_t s = 0; s < sentences.size(); ++s) {
      sentences.at(static_cast<long>(s)).set_constituency(*std::move(outcomes[first_sentence[d] + s].tree));
    }
  }
  if (failed) std::rethrow_exception(outcomes[*failed].error);
  if (missing_tag) std::rethrow_exception(missing_tag);
  return documents;
}

}  // namespace velmora
