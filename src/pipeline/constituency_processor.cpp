// The constituency parsing stage: forwards to the constituency parser, which sets a tree on
// every sentence of the document it is given.

#include <velmora/constituency.hpp>
#include <velmora/document.hpp>

#include <utility>

#include "pipeline/plan_access.hpp"
#include "pipeline/processor_table.hpp"

namespace velmora {

ConstituencyProcessor::ConstituencyProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::constituency)) {}

ConstituencyProcessor::ConstituencyProcessor(std::filesystem::path bundle_path, bool verify_checksums)
    : ConstituencyProcessor() {
  plan_ = std::make_shared<const ConstituencyPlan>(std::move(bundle_path), verify_checksums);
}

bool ConstituencyProcessor::implemented() const { return plan_ != nullptr; }

Document ConstituencyProcessor::process(Document document) const {
  if (!plan_) return Processor::process(std::move(document));
  return plan_->process(std::move(document));
}

std::vector<Document> ConstituencyProcessor::process_bulk(std::vector<Document> documents) const {
  if (!plan_) return Processor::process_bulk(std::move(documents));
  return plan_->process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> ConstituencyProcessor::bundle_path() const {
  return detail::plan_bundle_path(plan_);
}

bool ConstituencyProcessor::uses_xpos() const { return loaded(plan_).uses_xpos(); }

ConstituencyTree ConstituencyProcessor::parse(const std::vector<std::string>& words,
                                              const std::vector<std::string>& tags) const {
  return loaded(plan_).parse(words, tags);
}

std::vector<ConstituencyTree> ConstituencyProcessor::parse_many(
    const std::vector<std::vector<std::string>>& sentences,
    const std::vector<std::vector<std::string>>& tags) const {
  return loaded(plan_).parse_many(sentences, tags);
}

}  // namespace velmora
