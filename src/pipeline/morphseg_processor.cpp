// The morphological segmentation stage: forwards to the segmenter, which sets the morphemes of
// every word in place.

#include <velmora/document.hpp>
#include <velmora/morphseg.hpp>

#include <utility>

#include "pipeline/plan_access.hpp"
#include "pipeline/processor_table.hpp"

namespace velmora {

MorphSegProcessor::MorphSegProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::morphseg)) {}

MorphSegProcessor::MorphSegProcessor(std::filesystem::path bundle_path, bool verify_checksums)
    : MorphSegProcessor() {
  plan_ = std::make_shared<const MorphSegPlan>(std::move(bundle_path), verify_checksums);
}

bool MorphSegProcessor::implemented() const { return plan_ != nullptr; }

Document MorphSegProcessor::process(Document document) const {
  if (!plan_) return Processor::process(std::move(document));
  return plan_->process(std::move(document));
}

std::vector<Document> MorphSegProcessor::process_bulk(std::vector<Document> documents) const {
  if (!plan_) return Processor::process_bulk(std::move(documents));
  return plan_->process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> MorphSegProcessor::bundle_path() const {
  return detail::plan_bundle_path(plan_);
}

std::vector<std::string> MorphSegProcessor::segment(const std::string& word) const {
  return loaded(plan_).segment(word);
}

std::vector<std::vector<std::string>> MorphSegProcessor::segment_many(
    const std::vector<std::string>& words) const {
  return loaded(plan_).segment_many(words);
}

}  // namespace velmora
