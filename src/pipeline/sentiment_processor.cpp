// The sentiment stage: forwards to the sentiment classifier, which writes a class into every
// sentence of the documents it is given.

#include <velmora/document.hpp>
#include <velmora/sentiment.hpp>

#include <utility>

#include "pipeline/plan_access.hpp"
#include "pipeline/processor_table.hpp"

namespace velmora {

SentimentProcessor::SentimentProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::sentiment)) {}

SentimentProcessor::SentimentProcessor(std::filesystem::path bundle_path, bool verify_checksums)
    : SentimentProcessor() {
  plan_ = std::make_shared<const SentimentPlan>(std::move(bundle_path), verify_checksums);
}

bool SentimentProcessor::implemented() const { return plan_ != nullptr; }

Document SentimentProcessor::process(Document document) const {
  if (!plan_) return Processor::process(std::move(document));
  return plan_->process(std::move(document));
}

std::vector<Document> SentimentProcessor::process_bulk(std::vector<Document> documents) const {
  if (!plan_) return Processor::process_bulk(std::move(documents));
  return plan_->process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> SentimentProcessor::bundle_path() const {
  return detail::plan_bundle_path(plan_);
}

std::int64_t SentimentProcessor::classify(const std::vector<std::string>& words) const {
  return loaded(plan_).classify(words);
}

std::vector<std::int64_t> SentimentProcessor::classify_many(
    const std::vector<std::vector<std::string>>& sentences, std::size_t batch_size) const {
  return loaded(plan_).classify_many(sentences, batch_size);
}

}  // namespace velmora
