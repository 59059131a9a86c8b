// The constituency parsing stage. Its model constructor and the forwarding to ConstituencyPlan
// arrive with that model; until then the stage exists only without a model.

#include <velmora/document.hpp>

#include <utility>

#include "pipeline/processor_table.hpp"

namespace velmora {

ConstituencyProcessor::ConstituencyProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::constituency)) {}

bool ConstituencyProcessor::implemented() const { return plan_ != nullptr; }

Document ConstituencyProcessor::process(Document document) const {
  return Processor::process(std::move(document));
}

std::vector<Document> ConstituencyProcessor::process_bulk(std::vector<Document> documents) const {
  return Processor::process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> ConstituencyProcessor::bundle_path() const {
  return std::nullopt;
}

bool ConstituencyProcessor::uses_xpos() const { throw_no_model(); }

ConstituencyTree ConstituencyProcessor::parse(const std::vector<std::string>&,
                                              const std::vector<std::string>&) const {
  throw_no_model();
}

std::vector<ConstituencyTree> ConstituencyProcessor::parse_many(
    const std::vector<std::vector<std::string>>&,
    const std::vector<std::vector<std::string>>&) const {
  throw_no_model();
}

}  // namespace velmora
