// The lemmatization stage: forwards to the lemmatizer, which writes lemmas into the documents
// it is given.

#include <velmora/document.hpp>
#include <velmora/lemma.hpp>

#include <utility>

#include "pipeline/plan_access.hpp"
#include "pipeline/processor_table.hpp"

namespace velmora {

LemmaProcessor::LemmaProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::lemma)) {}

LemmaProcessor::LemmaProcessor(std::filesystem::path bundle_path, bool verify_checksums) : LemmaProcessor() {
  plan_ = std::make_shared<const LemmaPlan>(std::move(bundle_path), verify_checksums);
  if (plan_->uses_pos()) set_requirements({"tokenize", "pos"});
}

bool LemmaProcessor::implemented() const { return plan_ != nullptr; }

Document LemmaProcessor::process(Document document) const {
  if (!plan_) return Processor::process(std::move(document));
  return plan_->process(std::move(document));
}

std::vector<Document> LemmaProcessor::process_bulk(std::vector<Document> documents) const {
  if (!plan_) return Processor::process_bulk(std::move(documents));
  return plan_->process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> LemmaProcessor::bundle_path() const { return detail::plan_bundle_path(plan_); }

std::string LemmaProcessor::lemmatize(const std::string& word, const std::optional<std::string>& upos) const {
  return loaded(plan_).lemmatize(word, upos);
}

}  // namespace velmora
