// The multi-word-token expansion stage: forwards to the expander, which rebuilds the document
// it is given in place. Lists are handled one document at a time by the base class.

#include <velmora/document.hpp>
#include <velmora/mwt.hpp>

#include <utility>

#include "pipeline/plan_access.hpp"
#include "pipeline/processor_table.hpp"

namespace velmora {

MWTProcessor::MWTProcessor() : Processor(detail::processor_row_spec(detail::ProcessorKind::mwt)) {}

MWTProcessor::MWTProcessor(std::filesystem::path bundle_path, bool verify_checksums) : MWTProcessor() {
  plan_ = std::make_shared<const MWTPlan>(std::move(bundle_path), verify_checksums);
}

bool MWTProcessor::implemented() const { return plan_ != nullptr; }

Document MWTProcessor::process(Document document) const {
  if (!plan_) return Processor::process(std::move(document));
  return plan_->process(document);
}

std::optional<std::filesystem::path> MWTProcessor::bundle_path() const { return detail::plan_bundle_path(plan_); }

std::string MWTProcessor::expand(const std::string& token) const { return loaded(plan_).expand(token); }

}  // namespace velmora
