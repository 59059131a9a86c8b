// The coreference plan: loading, argument checks of resolve, and document processing.

#include <stdexcept>
#include <utility>

#include "coref/model_state.hpp"
#include "velmora/document.hpp"
#include "velmora/document_storage.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {

CorefPlan::CorefPlan(std::filesystem::path bundle_path, bool verify_checksums) : impl_(std::make_unique<Impl>()) {
  detail::load_coref_model(*impl_, std::move(bundle_path), verify_checksums);
}

CorefPlan::~CorefPlan() = default;
CorefPlan::CorefPlan(CorefPlan&&) noexcept = default;
CorefPlan& CorefPlan::operator=(CorefPlan&&) noexcept = default;

const ModelBundle& CorefPlan::bundle() const { return *impl_->bundle; }
bool CorefPlan::predicts_singletons() const { return impl_->singletons; }
bool CorefPlan::predicts_zero_anaphora() const { return impl_->use_zeros; }

CorefPrediction CorefPlan::resolve(const std::vector<std::string>& words, const std::vector<std::uint64_t>& sentence_ids,
                                   const std::vector<std::string>& speakers) const {
  if (words.size() != sentence_ids.size()) {
    throw std::invalid_argument("coref words and sentence ids must have equal lengths");
  }
  std::vector<std::string> word_speakers = speakers.empty() ? std::vector<std::string>(words.size(), "_") : speakers;
  if (word_speakers.size() != words.size()) {
    throw std::invalid_argument("coref words and speakers must have equal lengths");
  }
  for (const std::uint64_t sentence : sentence_ids) {
    if (sentence >= words.size()) throw std::invalid_argument("coref sentence id is outside the document");
  }
  return detail::coref_forward(*impl_, words, sentence_ids, word_speakers);
}

Document CorefPlan::process(Document document) const {
  // The resolver reads only the regular words, so it runs before the previous run's empty words
  // are dropped: a model failure leaves the document as it was.
  const detail::CorefDocumentWords words = detail::coref_document_words(document);
  const CorefPrediction prediction = resolve(words.words, words.sentence_ids, words.speakers);
  document.storage()->reset_generated_empty_words();
  detail::store_coref_prediction(document, words, prediction);
  return document;
}

std::vector<Document> CorefPlan::process_bulk(std::vector<Document> documents) const {
  for (Document& document : documents) document = process(std::move(document));
  return documents;
}

}  // namespace velmora
