// The tokenization stage: forwards to the tokenizer model, which builds a new document from
// the text of the one it is given.

#include <velmora/document.hpp>
#include <velmora/tokenizer.hpp>

#include <utility>

#include "pipeline/plan_access.hpp"
#include "pipeline/processor_table.hpp"

namespace velmora {

TokenizeProcessor::TokenizeProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::tokenize)) {}

TokenizeProcessor::TokenizeProcessor(std::filesystem::path bundle_path, bool verify_checksums)
    : TokenizeProcessor() {
  plan_ = std::make_shared<const TokenizerPlan>(std::move(bundle_path), verify_checksums);
}

bool TokenizeProcessor::implemented() const { return plan_ != nullptr; }

Document TokenizeProcessor::process(Document document) const {
  if (!plan_) return Processor::process(std::move(document));
  return plan_->process(document);
}

std::vector<Document> TokenizeProcessor::process_bulk(std::vector<Document> documents) const {
  if (!plan_) return Processor::process_bulk(std::move(documents));
  return plan_->process_bulk(documents);
}

std::optional<std::filesystem::path> TokenizeProcessor::bundle_path() const {
  return detail::plan_bundle_path(plan_);
}

std::vector<std::int64_t> TokenizeProcessor::predict_labels(const std::string& text) const {
  return loaded(plan_).predict_labels(text);
}

}  // namespace velmora
