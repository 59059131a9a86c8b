// The parser's public operations: parse one word list, or annotate documents sentence by
// sentence or all at once in batches.

#include <c10/core/InferenceMode.h>

#include <exception>
#include <utility>

#include "depparse/model_state.hpp"
#include "depparse/parallel_sentences.hpp"
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
  return depparse_decode_sentence(model, words, depparse_sentence_scores(model, encoded));
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
  std::vector<DepparseSentenceScores> scores = depparse_score_sentences(model, encoded, sentences);
  // Sentences are decoded side by side; each releases its scores when done.
  std::vector<std::vector<DepparsePrediction>> predictions(sentences.size());
  rethrow_first_failure(for_each_sentence(sentences.size(), [&](std::size_t s) {
    if (sentences[s].empty()) return;
    c10::InferenceMode decoding;
    predictions[s] = depparse_decode_sentence(model, sentences[s], std::move(scores[s]));
  }));
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
  // Each sentence is parsed on its own, several at a time; results are written in sentence order,
  // so a failure leaves exactly the sentences before the failing one written.
  const SentenceSequence sentences = document.sentences();
  std::vector<WordSequence> sequences;
  std::vector<std::vector<DepparseWord>> words;
  std::exception_ptr reading_failure;
  for (std::uint64_t s = 0; s < sentences.size(); ++s) {
    try {
      WordSequence sequence = sentences.at(static_cast<long>(s)).words();
      words.push_back(detail::depparse_words_from_sentence(sequence));
      sequences.push_back(std::move(sequence));
    } catch (...) {
      reading_failure = std::current_exception();
      break;
    }
  }
  std::vector<std::vector<DepparsePrediction>> predictions(words.size());
  const std::vector<std::exception_ptr> failures = detail::for_each_sentence(
      words.size(), [&](std::size_t s) { predictions[s] = detail::depparse_parse_sentence(*impl_, words[s]); });
  for (std::size_t s = 0; s < sequences.size(); ++s) {
    if (failures[s]) std::rethrow_exception(failures[s]);
    detail::apply_depparse_predictions(sequences[s], predictions[s]);
  }
  if (reading_failure) std::rethrow_exception(reading_failure);
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
