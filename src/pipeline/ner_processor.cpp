// The named-entity stage. Its model constructor and the forwarding to NERPlan
// arrive with that model; until then the stage exists only without a model.

#include <velmora/document.hpp>

#include <utility>

#include "pipeline/processor_table.hpp"

namespace velmora {

NERProcessor::NERProcessor() : Processor(detail::processor_row_spec(detail::ProcessorKind::ner)) {}

bool NERProcessor::implemented() const { return plan_ != nullptr; }

Document NERProcessor::process(Document document) const {
  return Processor::process(std::move(document));
}

std::optional<std::filesystem::path> NERProcessor::bundle_path() const { return std::nullopt; }

std::vector<std::string> NERProcessor::tag(const std::vector<std::string>&) const {
  throw_no_model();
}

}  // namespace velmora
