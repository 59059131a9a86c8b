// The lemmatization stage. Its model constructor and the forwarding to LemmaPlan
// arrive with that model; until then the stage exists only without a model.

#include <velmora/document.hpp>

#include <utility>

#include "pipeline/processor_table.hpp"

namespace velmora {

LemmaProcessor::LemmaProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::lemma)) {}

bool LemmaProcessor::implemented() const { return plan_ != nullptr; }

Document LemmaProcessor::process(Document document) const {
  return Processor::process(std::move(document));
}

std::vector<Document> LemmaProcessor::process_bulk(std::vector<Document> documents) const {
  return Processor::process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> LemmaProcessor::bundle_path() const { return std::nullopt; }

std::string LemmaProcessor::lemmatize(const std::string&, const std::optional<std::string>&) const {
  throw_no_model();
}

}  // namespace velmora
