// The coreference stage. Its model constructor and the forwarding to CorefPlan
// arrive with that model; until then the stage exists only without a model.

#include <velmora/document.hpp>

#include <utility>

#include "pipeline/processor_table.hpp"

namespace velmora {

CorefProcessor::CorefProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::coref)) {}

bool CorefProcessor::implemented() const { return plan_ != nullptr; }

Document CorefProcessor::process(Document document) const {
  return Processor::process(std::move(document));
}

std::vector<Document> CorefProcessor::process_bulk(std::vector<Document> documents) const {
  return Processor::process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> CorefProcessor::bundle_path() const { return std::nullopt; }

bool CorefProcessor::predicts_singletons() const { throw_no_model(); }

bool CorefProcessor::predicts_zero_anaphora() const { throw_no_model(); }

}  // namespace velmora
