// The dependency parsing stage. Its model constructor and the forwarding to DepparsePlan
// arrive with that model; until then the stage exists only without a model.

#include <velmora/document.hpp>

#include <utility>

#include "pipeline/processor_table.hpp"

namespace velmora {

DepparseProcessor::DepparseProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::depparse)) {}

bool DepparseProcessor::implemented() const { return plan_ != nullptr; }

Document DepparseProcessor::process(Document document) const {
  return Processor::process(std::move(document));
}

std::vector<Document> DepparseProcessor::process_bulk(std::vector<Document> documents) const {
  return Processor::process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> DepparseProcessor::bundle_path() const { return std::nullopt; }

}  // namespace velmora
