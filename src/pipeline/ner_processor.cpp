// The named-entity stage: forwards to the tagger, which writes token tags and entity spans
// into the documents it is given.

#include <velmora/document.hpp>
#include <velmora/ner.hpp>

#include <utility>

#include "pipeline/plan_access.hpp"
#include "pipeline/processor_table.hpp"

namespace velmora {

NERProcessor::NERProcessor() : Processor(detail::processor_row_spec(detail::ProcessorKind::ner)) {}

NERProcessor::NERProcessor(std::filesystem::path bundle_path, bool verify_checksums) : NERProcessor() {
  plan_ = std::make_shared<const NERPlan>(std::move(bundle_path), verify_checksums);
}

bool NERProcessor::implemented() const { return plan_ != nullptr; }

Document NERProcessor::process(Document document) const {
  if (!plan_) return Processor::process(std::move(document));
  return plan_->process(std::move(document));
}

std::vector<Document> NERProcessor::process_bulk(std::vector<Document> documents) const {
  if (!plan_) return Processor::process_bulk(std::move(documents));
  return plan_->process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> NERProcessor::bundle_path() const { return detail::plan_bundle_path(plan_); }

std::vector<std::string> NERProcessor::tag(const std::vector<std::string>& tokens) const {
  return loaded(plan_).tag(tokens);
}

}  // namespace velmora
