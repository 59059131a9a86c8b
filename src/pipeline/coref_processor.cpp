// The coreference stage: forwards documents to the coreference plan, which replaces their
// chains and generated empty words in place.

#include <velmora/coref.hpp>
#include <velmora/document.hpp>

#include <utility>

#include "pipeline/plan_access.hpp"
#include "pipeline/processor_table.hpp"

namespace velmora {

CorefProcessor::CorefProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::coref)) {}

CorefProcessor::CorefProcessor(std::filesystem::path bundle_path, bool verify_checksums) : CorefProcessor() {
  plan_ = std::make_shared<const CorefPlan>(std::move(bundle_path), verify_checksums);
}

bool CorefProcessor::implemented() const { return plan_ != nullptr; }

Document CorefProcessor::process(Document document) const {
  if (!plan_) return Processor::process(std::move(document));
  return plan_->process(std::move(document));
}

std::vector<Document> CorefProcessor::process_bulk(std::vector<Document> documents) const {
  if (!plan_) return Processor::process_bulk(std::move(documents));
  return plan_->process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> CorefProcessor::bundle_path() const { return detail::plan_bundle_path(plan_); }

bool CorefProcessor::predicts_singletons() const { return loaded(plan_).predicts_singletons(); }

bool CorefProcessor::predicts_zero_anaphora() const { return loaded(plan_).predicts_zero_anaphora(); }

}  // namespace velmora
