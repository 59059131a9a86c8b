// The part-of-speech stage: forwards to the tagger, which writes UPOS, XPOS and features into
// the documents it is given; lists are tagged together.

#include <velmora/document.hpp>
#include <velmora/pos.hpp>

#include <utility>

#include "pipeline/plan_access.hpp"
#include "pipeline/processor_table.hpp"

namespace velmora {

POSProcessor::POSProcessor() : Processor(detail::processor_row_spec(detail::ProcessorKind::pos)) {}

POSProcessor::POSProcessor(std::filesystem::path bundle_path, bool verify_checksums) : POSProcessor() {
  plan_ = std::make_shared<const POSPlan>(std::move(bundle_path), verify_checksums);
}

bool POSProcessor::implemented() const { return plan_ != nullptr; }

Document POSProcessor::process(Document document) const {
  if (!plan_) return Processor::process(std::move(document));
  return plan_->process(std::move(document));
}

std::vector<Document> POSProcessor::process_bulk(std::vector<Document> documents) const {
  if (!plan_) return Processor::process_bulk(std::move(documents));
  return plan_->process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> POSProcessor::bundle_path() const { return detail::plan_bundle_path(plan_); }

}  // namespace velmora
