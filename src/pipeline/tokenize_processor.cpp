// The tokenization stage. Its model constructor and the forwarding to TokenizerPlan
// arrive with that model; until then the stage exists only without a model.

#include <velmora/document.hpp>

#include <utility>

#include "pipeline/processor_table.hpp"

namespace velmora {

TokenizeProcessor::TokenizeProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::tokenize)) {}

bool TokenizeProcessor::implemented() const { return plan_ != nullptr; }

Document TokenizeProcessor::process(Document document) const {
  return Processor::process(std::move(document));
}

std::vector<Document> TokenizeProcessor::process_bulk(std::vector<Document> documents) const {
  return Processor::process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> TokenizeProcessor::bundle_path() const { return std::nullopt; }

std::vector<std::int64_t> TokenizeProcessor::predict_labels(const std::string&) const {
  throw_no_model();
}

}  // namespace velmora
