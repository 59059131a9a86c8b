// The parser's public operations: parse one word list, or annotate documents sentence by
// sentence or all at once in batches.

#include <c10/core/InferenceMode.h>

#include <utility>

#include "depparse/model_state.hpp"
#include "velmora/document.hpp"

namespace velmora {
namespace detail {
namespace {

std::vector<DepparseWord> depparse_words_from_sentence(const WordSequence& sequence) {
  std::vector<DepparseWord> words;
  words.reserve(sequence.size());
  for (std::uint64_t i = 0; i < sequence.size(); ++i) {
    const Word word = sequence.at(static_cast<long>(i));
    DepparseWord input{word.text(), word.lemma(), word.upos(), word.xpos(), word.feats()};
    if (!input.upos && !input.xpos) throw DepparseModelError("POS must run before depparse");
    words.push_back(std::move(input));
  }
  return words;
}

void apply_depparse_predictions(const WordSequence& sequence, const std::vector<DepparsePrediction>& predictions) {
  if (sequence.size() != predictions.size()) throw DepparseModelError("depparse word and prediction counts disagree");
  for (std::size_t i = 0; i < predictions.size(); ++i) {
    Word word = sequence.at(static_cast<long>(i));
    word.set_head(predictions[i].head);
    word.set_deprel(predictions[i].deprel);
  }
}

// The character language model's words of a sentence: a line feed for the root, then the texts.
std::vector<std::string> charlm_words(const std::vector<DepparseWord>& words) {
  std::vector<std::string> texts;
  texts.reserve(words.size() + 1);
  texts.emplace_back("\n");
  for (const DepparseWord& word : words) texts.push_back(word.text);
  return texts;
}

}  // namespace

std::vector<DepparsePrediction> depparse_parse_sentence(const DepparseModel& model,
                                                        const std::vector<DepparseWord>& words) {
  if (words.empty()) return {};
  c10::InferenceMode inference;
  const at::Tensor encoded = depparse_highway_lstm_forward(model, words, nullptr, nullptr);
  auto [arcs, relations] = depparse_scores(model, encoded, nullptr);
  return depparse_decode_sentence(model, words, arcs, relations);
}

std::vector<std::vector<DepparsePrediction>> depparse_parse_batch(
    const DepparseModel& model, const std::vector<std::vector<DepparseWord>>& sentences) {
  std::vector<at::Tensor> forward_rows;
  std::vector<at::Tensor> backward_rows;
  if (model.charlm) {
    std::vector<std::vector<std::string>> texts;
    texts.reserve(sentences.size());
    for (const auto& words : sentences) texts.push_back(charlm_words(words));
    forward_rows = model.forward_charlm->encode_many(texts);
    backward_rows = model.backward_charlm->encode_many(texts);
  }
  c10::InferenceMode inference;
  const std::vector<at::Tensor> encoded =
      depparse_highway_lstm_forward_batch(model, sentences, forward_rows, backward_rows);
  std::vector<std::pair<at::Tensor, at::Tensor>> scores = depparse_score_batch(model, encoded, sentences);
  std::vector<std::vector<DepparsePrediction>> predictions(sentences.size());
  for (std::size_t s = 0; s < sentences.size(); ++s) {
    if (sentences[s].empty()) continue;
    predictions[s] = depparse_decode_sentence(model, sentences[s], scores[s].first, scores[s].second);
  }
  return predictions;
}

}  // namespace detail

DepparsePlan::DepparsePlan(std::filesystem::path bundle_path, bool verify_checksums)
    : impl_(detail::load_depparse_model(std::move(bundle_path), verify_checksums)) {}

DepparsePlan::~DepparsePlan() = default;
DepparsePlan::DepparsePlan(DepparsePlan&&) noexcept = default;
DepparsePlan& DepparsePlan::operator=(DepparsePlan&&) noexcept = default;

const ModelBundle& DepparsePlan::bundle() const { return *impl_->bundle; }

std::vector<DepparsePrediction> DepparsePlan::parse(const std::vector<DepparseWord>& words) const {
  return detail::depparse_parse_sentence(*impl_, words);
}

Document DepparsePlan::process(Document document) const {
  const SentenceSequence sentences = document.sentences();
  for (std::uint64_t s = 0; s < sentences.size(); ++s) {
    const WordSequence words = sentences.at(static_cast<long>(s)).words();
    detail::apply_depparse_predictions(
        words, detail::depparse_parse_sentence(*impl_, detail::depparse_words_from_sentence(words)));
  }
  return document;
}

std::vector<Document> DepparsePlan::process_bulk(std::vector<Document> documents) const {
  std::vector<WordSequence> sequences;
  std::vector<std::vector<DepparseWord>> sentences;
  for (const Document& document : documents) {
    const SentenceSequence of_document = document.sentences();
    for (std::uint64_t s = 0; s < of_document.size(); ++s) {
      sequences.push_back(of_document.at(static_cast<long>(s)).words());
      sentences.push_back(detail::depparse_words_from_sentence(sequences.back()));
    }
  }
  const std::vector<std::vector<DepparsePrediction>> predictions = detail::depparse_parse_batch(*impl_, sentences);
  for (std::size_t s = 0; s < sequences.size(); ++s) detail::apply_depparse_predictions(sequences[s], predictions[s]);
  return documents;
}

}  // namespace velmora
