// The morphological segmentation stage. Its model constructor and the forwarding to MorphSegPlan
// arrive with that model; until then the stage exists only without a model.

#include <velmora/document.hpp>

#include <utility>

#include "pipeline/processor_table.hpp"

namespace velmora {

MorphSegProcessor::MorphSegProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::morphseg)) {}

bool MorphSegProcessor::implemented() const { return plan_ != nullptr; }

Document MorphSegProcessor::process(Document document) const {
  return Processor::process(std::move(document));
}

std::vector<Document> MorphSegProcessor::process_bulk(std::vector<Document> documents) const {
  return Processor::process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> MorphSegProcessor::bundle_path() const { return std::nullopt; }

std::vector<std::string> MorphSegProcessor::segment(const std::string&) const { throw_no_model(); }

std::vector<std::vector<std::string>> MorphSegProcessor::segment_many(
    const std::vector<std::string>&) const {
  throw_no_model();
}

}  // namespace velmora
