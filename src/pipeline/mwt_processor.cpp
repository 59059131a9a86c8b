// The multi-word-token expansion stage. Its model constructor and the forwarding to MWTPlan
// arrive with that model; until then the stage exists only without a model.

#include <velmora/document.hpp>

#include <utility>

#include "pipeline/processor_table.hpp"

namespace velmora {

MWTProcessor::MWTProcessor() : Processor(detail::processor_row_spec(detail::ProcessorKind::mwt)) {}

bool MWTProcessor::implemented() const { return plan_ != nullptr; }

Document MWTProcessor::process(Document document) const {
  return Processor::process(std::move(document));
}

std::optional<std::filesystem::path> MWTProcessor::bundle_path() const { return std::nullopt; }

std::string MWTProcessor::expand(const std::string&) const { throw_no_model(); }

}  // namespace velmora
