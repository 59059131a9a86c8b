// The tagger as the rest of the system sees it: tagging one sentence, or the sentences of one
// document or many in shared batches.

#include <exception>
#include <utility>

#include "models/model_config.hpp"
#include "pos/model_state.hpp"
#include "velmora/document.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {
namespace detail {
namespace {

std::vector<std::string> word_texts(const WordSequence& words) {
  std::vector<std::string> texts;
  texts.reserve(words.size());
  for (std::uint64_t i = 0; i < words.size(); ++i) texts.push_back(words.at(static_cast<long>(i)).text());
  return texts;
}

std::optional<std::string> field(const std::string& value) {
  if (value == "_") return std::nullopt;
  return value;
}

}  // namespace

std::vector<POSTag> pos_tag_sentence(const POSModel& state, const std::vector<std::string>& words) {
  if (words.empty()) return {};
  return std::move(pos_tag_many(state, {words}).front());
}

std::vector<std::vector<POSTag>> pos_tag_many(const POSModel& state,
                                              const std::vector<std::vector<std::string>>& sentences) {
  std::vector<std::vector<POSTag>> tags;
  const ChunkedRun run = pos_tag_chunks(state, sentences, tags);
  if (run.error) std::rethrow_exception(run.error);
  return tags;
}

void write_pos_tags(const WordSequence& words, const std::vector<POSTag>& tags) {
  if (words.size() != tags.size()) throw POSModelError("POS word and tag counts disagree");
  for (std::size_t i = 0; i < tags.size(); ++i) {
    Word word = words.at(static_cast<long>(i));
    word.set_upos(field(tags[i].upos));
    word.set_xpos(field(tags[i].xpos));
    word.set_feats(field(tags[i].feats));
  }
}

}  // namespace detail

POSPlan::POSPlan(std::filesystem::path bundle_path, bool verify_checksums) : impl_(std::make_unique<Impl>()) {
  detail::with_model_error<POSModelError>(
      [&] { detail::load_pos_model(*impl_, std::move(bundle_path), verify_checksums); });
}

POSPlan::~POSPlan() = default;
POSPlan::POSPlan(POSPlan&&) noexcept = default;
POSPlan& POSPlan::operator=(POSPlan&&) noexcept = default;

const ModelBundle& POSPlan::bundle() const { return *impl_->bundle; }

std::vector<POSTag> POSPlan::tag(const std::vector<std::string>& words) const {
  return detail::pos_tag_sentence(*impl_, words);
}

Document POSPlan::process(Document document) const {
  // The sentences are tagged together, as a list's are: one sentence at a time leaves every
  // recurrence a single row. As when they are tagged one at a time in order, a failure leaves
  // exactly the sentences before the failing one written.
  const SentenceSequence sentences = document.sentences();
  std::vector<WordSequence> sequences;
  std::vector<std::vector<std::string>> texts;
  for (std::uint64_t s = 0; s < sentences.size(); ++s) {
    sequences.push_back(sentences.at(static_cast<long>(s)).words());
    texts.push_back(detail::word_texts(sequences.back()));
  }
  std::vector<std::vector<POSTag>> tags;
  const detail::ChunkedRun run = detail::pos_tag_chunks(*impl_, texts, tags);
  for (std::size_t s = 0; s < run.completed; ++s) detail::write_pos_tags(sequences[s], tags[s]);
  if (run.error) std::rethrow_exception(run.error);
  return document;
}

std::vector<Document> POSPlan::process_bulk(std::vector<Document> documents) const {
  std::vector<WordSequence> sequences;
  std::vector<std::vector<std::string>> texts;
  for (const Document& document : documents) {
    const SentenceSequence sentences = document.sentences();
    for (std::uint64_t s = 0; s < sentences.size(); ++s) {
      sequences.push_back(sentences.at(static_cast<long>(s)).words());
      texts.push_back(detail::word_texts(sequences.back()));
    }
  }
  const std::vector<std::vector<POSTag>> tags = detail::pos_tag_many(*impl_, texts);
  for (std::size_t j = 0; j < sequences.size(); ++j) detail::write_pos_tags(sequences[j], tags[j]);
  return documents;
}

}  // namespace velmora
