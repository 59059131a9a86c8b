// The sentiment stage. Its model constructor and the forwarding to SentimentPlan
// arrive with that model; until then the stage exists only without a model.

#include <velmora/document.hpp>

#include <utility>

#include "pipeline/processor_table.hpp"

namespace velmora {

SentimentProcessor::SentimentProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::sentiment)) {}

bool SentimentProcessor::implemented() const { return plan_ != nullptr; }

Document SentimentProcessor::process(Document document) const {
  return Processor::process(std::move(document));
}

std::vector<Document> SentimentProcessor::process_bulk(std::vector<Document> documents) const {
  return Processor::process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> SentimentProcessor::bundle_path() const {
  return std::nullopt;
}

std::int64_t SentimentProcessor::classify(const std::vector<std::string>&) const {
  throw_no_model();
}

std::vector<std::int64_t> SentimentProcessor::classify_many(
    const std::vector<std::vector<std::string>>&, std::size_t) const {
  throw_no_model();
}

}  // namespace velmora
