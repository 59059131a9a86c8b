// The parser's public operations: parse one word list, or annotate one document or many, their
// sentences in batches.

#include <exception>
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

}  // namespace

std::vector<DepparsePrediction> depparse_parse_sentence(const DepparseModel& model,
                                                        const std::vector<DepparseWord>& words) {
  if (words.empty()) return {};
  return std::move(depparse_parse_batch(model, {words}).front());
}

std::vector<std::vector<DepparsePrediction>> depparse_parse_batch(
    const DepparseModel& model, const std::vector<std::vector<DepparseWord>>& sentences) {
  std::vector<std::vector<DepparsePrediction>> predictions;
  const ChunkedRun run = depparse_parse_chunks(model, sentences, predictions);
  if (run.error) std::rethrow_exception(run.error);
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
  // The sentences are parsed together, as a list's are. As when they are parsed one at a time
  // in order, a failure leaves exactly the sentences before the failing one written.
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
  std::vector<std::vector<DepparsePrediction>> predictions;
  const detail::ChunkedRun run = detail::depparse_parse_chunks(*impl_, words, predictions);
  for (std::size_t s = 0; s < run.completed; ++s) detail::apply_depparse_predictions(sequences[s], predictions[s]);
  if (run.error) std::rethrow_exception(run.error);
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
