// The dependency parsing stage: forwards to the parser, which writes heads and relations into
// the documents it is given.

#include <velmora/depparse.hpp>
#include <velmora/document.hpp>

#include <utility>

#include "pipeline/plan_access.hpp"
#include "pipeline/processor_table.hpp"

namespace velmora {

DepparseProcessor::DepparseProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::depparse)) {}

DepparseProcessor::DepparseProcessor(std::filesystem::path bundle_path, bool verify_checksums)
    : DepparseProcessor() {
  plan_ = std::make_shared<const DepparsePlan>(std::move(bundle_path), verify_checksums);
}

bool DepparseProcessor::implemented() const { return plan_ != nullptr; }

Document DepparseProcessor::process(Document document) const {
  if (!plan_) return Processor::process(std::move(document));
  return plan_->process(std::move(document));
}

std::vector<Document> DepparseProcessor::process_bulk(std::vector<Document> documents) const {
  if (!plan_) return Processor::process_bulk(std::move(documents));
  return plan_->process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> DepparseProcessor::bundle_path() const {
  return detail::plan_bundle_path(plan_);
}

}  // namespace velmora
