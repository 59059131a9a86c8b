// The tokenizer's public operations: split the text into paragraphs, predict their labels
// (one by one, or batched across documents) and build the result documents.

#include <algorithm>
#include <utility>

#include "tokenize/document_builder.hpp"
#include "tokenize/model_loading.hpp"
#include "tokenize/network.hpp"
#include "velmora/document.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/tokenizer.hpp"

namespace velmora {

const at::Tensor& TokenizerPlan::Impl::weight(std::string_view name) const {
  const auto found = tensors.find(name);
  if (found == tensors.end()) throw TokenizerModelError("missing tokenizer weight: '" + std::string(name) + "'");
  return found->second;
}

TokenizerPlan::TokenizerPlan(std::filesystem::path bundle_path, bool verify_checksums)
    : impl_(detail::load_tokenizer_model(std::move(bundle_path), verify_checksums)) {}

TokenizerPlan::~TokenizerPlan() = default;
TokenizerPlan::TokenizerPlan(TokenizerPlan&&) noexcept = default;
TokenizerPlan& TokenizerPlan::operator=(TokenizerPlan&&) noexcept = default;

const ModelBundle& TokenizerPlan::bundle() const { return *impl_->bundle; }

Document TokenizerPlan::process(const Document& document) const {
  const std::vector<detail::TokenizerParagraph> paragraphs =
      detail::split_tokenizer_paragraphs(document.text(), impl_->skip_newline);
  std::vector<std::vector<std::int64_t>> labels;
  labels.reserve(paragraphs.size());
  for (const auto& paragraph : paragraphs) labels.push_back(detail::tokenizer_predict_labels(*impl_, paragraph));
  return detail::build_tokenized_document(*impl_, document, paragraphs, labels);
}

std::vector<Document> TokenizerPlan::process_bulk(const std::vector<Document>& documents) const {
  const Impl& state = *impl_;
  std::vector<std::vector<detail::TokenizerParagraph>> paragraphs_of;
  paragraphs_of.reserve(documents.size());
  std::vector<const detail::TokenizerParagraph*> all_paragraphs;
  for (const Document& document : documents) {
    paragraphs_of.push_back(detail::split_tokenizer_paragraphs(document.text(), state.skip_newline));
    for (const auto& paragraph : paragraphs_of.back()) all_paragraphs.push_back(&paragraph);
  }

  // Short paragraphs wait in a batch that may span documents; a long one first flushes the
  // batch, then runs alone over windows.
  std::vector<std::vector<std::int64_t>> labels(all_paragraphs.size());
  const auto batch_limit = static_cast<std::size_t>(state.batch_size);
  std::vector<const detail::TokenizerParagraph*> pending;
  std::vector<std::size_t> pending_index;
  // A bundle may ask for huge batches; never reserve more than there are paragraphs.
  pending.reserve(std::min(batch_limit, all_paragraphs.size()));
  pending_index.reserve(std::min(batch_limit, all_paragraphs.size()));
  auto flush = [&] {
    if (pending.empty()) return;
    std::vector<std::vector<std::int64_t>> batch = detail::tokenizer_predict_labels_batched(state, pending);
    for (std::size_t k = 0; k < batch.size(); ++k) labels[pending_index[k]] = std::move(batch[k]);
    pending.clear();
    pending_index.clear();
  };
  for (std::size_t k = 0; k < all_paragraphs.size(); ++k) {
    const detail::TokenizerParagraph& paragraph = *all_paragraphs[k];
    if (paragraph.size() <= detail::kTokenizerWindow) {
      pending.push_back(&paragraph);
      pending_index.push_back(k);
      if (pending.size() == batch_limit) flush();
    } else {
      flush();
      labels[k] = detail::tokenizer_predict_labels(state, paragraph);
    }
  }
  flush();

  std::vector<Document> results;
  results.reserve(documents.size());
  std::size_t next = 0;
  for (std::size_t d = 0; d < documents.size(); ++d) {
    const std::size_t count = paragraphs_of[d].size();
    std::vector<std::vector<std::int64_t>> document_labels(std::make_move_iterator(labels.begin() + next),
                                                           std::make_move_iterator(labels.begin() + next + count));
    next += count;
    results.push_back(detail::build_tokenized_document(state, documents[d], paragraphs_of[d], document_labels));
  }
  return results;
}

std::vector<std::int64_t> TokenizerPlan::predict_labels(const std::string& text) const {
  const std::vector<detail::TokenizerParagraph> paragraphs =
      detail::split_tokenizer_paragraphs(text, impl_->skip_newline);
  if (paragraphs.size() > 1) {
    throw TokenizerModelError("predict_labels expects text containing one tokenizer paragraph");
  }
  if (paragraphs.empty()) return {};
  return detail::tokenizer_predict_labels(*impl_, paragraphs.front());
}

}  // namespace velmora
