// The part-of-speech stage. Its model constructor and the forwarding to POSPlan
// arrive with that model; until then the stage exists only without a model.

#include <velmora/document.hpp>

#include <utility>

#include "pipeline/processor_table.hpp"

namespace velmora {

POSProcessor::POSProcessor() : Processor(detail::processor_row_spec(detail::ProcessorKind::pos)) {}

bool POSProcessor::implemented() const { return plan_ != nullptr; }

Document POSProcessor::process(Document document) const {
  return Processor::process(std::move(document));
}

std::vector<Document> POSProcessor::process_bulk(std::vector<Document> documents) const {
  return Processor::process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> POSProcessor::bundle_path() const { return std::nullopt; }

}  // namespace velmora
