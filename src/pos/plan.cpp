// The tagger as the rest of the system sees it: tagging one sentence, every sentence of a
// document one at a time, or the sentences of many documents in shared batches.

#include <c10/core/InferenceMode.h>

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
  c10::InferenceMode guard;
  const at::Tensor rows = pos_highway_lstm_forward(state, words);
  return pos_predict_heads(state, rows, words.size());
}

std::vector<std::vector<POSTag>> pos_tag_many(const POSModel& state,
                                              const std::vector<std::vector<std::string>>& sentences) {
  std::vector<at::Tensor> forward;
  std::vector<at::Tensor> backward;
  if (state.uses_charlm) {
    // The character language models enter inference mode themselves.
    forward = state.forward_charlm->encode_many(sentences);
    backward = state.backward_charlm->encode_many(sentences);
  }
  c10::InferenceMode guard;
  const std::vector<at::Tensor> encoded = pos_highway_lstm_forward_batch(state, sentences, &forward, &backward);
  return pos_predict_batch(state, encoded, sentences);
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
  // The sentences of one document share batches as those of many do: one sentence at a time
  // leaves every recurrence a single row, which no second core can help with.
  std::vector<Document> documents;
  documents.push_back(std::move(document));
  return std::move(process_bulk(std::move(documents)).front());
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
