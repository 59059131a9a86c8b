// The tokenizer's public operations: split the texts into paragraphs, predict their labels
// (batched across paragraphs and documents) and build the result documents.

#include <iterator>
#include <limits>
#include <optional>
#include <utility>

#include "models/parallel_units.hpp"
#include "models/sentence_chunks.hpp"
#include "tokenize/document_builder.hpp"
#include "tokenize/model_loading.hpp"
#include "tokenize/network.hpp"
#include "velmora/document.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/tokenizer.hpp"

namespace velmora {
namespace {

// Units of the splitting and building work: consecutive documents of a quarter of a mebibyte of
// text at least, a few milliseconds of work (less text runs inline).
constexpr detail::ChunkLimits kDocumentUnitLimits{.max_sentences = std::numeric_limits<std::int64_t>::max(),
                                                  .max_padded_rows = std::numeric_limits<std::int64_t>::max(),
                                                  .target_chunks = 32,
                                                  .least_rows = std::int64_t{1} << 18,
                                                  .most_rows = std::int64_t{1} << 22};

// work(d) for every document, consecutive documents of kDocumentUnitLimits as one unit.
void for_each_document(const std::vector<const Document*>& documents, c10::function_ref<void(std::size_t)> work) {
  std::vector<std::int64_t> bytes;
  bytes.reserve(documents.size());
  for (const Document* document : documents) bytes.push_back(static_cast<std::int64_t>(document->text().size()));
  const std::vector<detail::SentenceChunk> units = detail::chunk_sentences(bytes, kDocumentUnitLimits);
  detail::for_each_unit(units.size(), [&](std::size_t unit) {
    for (std::size_t d = units[unit].begin; d < units[unit].end; ++d) work(d);
  });
}

// The tokenization of each document. The paragraphs of every document go through the batched
// prediction together, so a document of many paragraphs is already a batch.
std::vector<Document> tokenize_documents(const TokenizerPlan::Impl& state,
                                         const std::vector<const Document*>& documents) {
  std::vector<std::vector<detail::TokenizerParagraph>> paragraphs_of(documents.size());
  for_each_document(documents, [&](std::size_t d) {
    paragraphs_of[d] = detail::split_tokenizer_paragraphs(documents[d]->text(), state.skip_newline);
  });
  std::vector<const detail::TokenizerParagraph*> all_paragraphs;
  std::vector<std::size_t> first_paragraph;  // of each document in all_paragraphs
  first_paragraph.reserve(documents.size());
  for (const auto& paragraphs : paragraphs_of) {
    first_paragraph.push_back(all_paragraphs.size());
    for (const auto& paragraph : paragraphs) all_paragraphs.push_back(&paragraph);
  }

  std::vector<std::vector<std::int64_t>> labels =
      detail::tokenizer_predict_labels_bulk(state, all_paragraphs, static_cast<std::size_t>(state.batch_size));

  std::vector<std::optional<Document>> built(documents.size());
  for_each_document(documents, [&](std::size_t d) {
    const auto first = labels.begin() + static_cast<std::ptrdiff_t>(first_paragraph[d]);
    std::vector<std::vector<std::int64_t>> document_labels(
        std::make_move_iterator(first),
        std::make_move_iterator(first + static_cast<std::ptrdiff_t>(paragraphs_of[d].size())));
    built[d] = detail::build_tokenized_document(state, *documents[d], paragraphs_of[d], document_labels);
  });
  std::vector<Document> results;
  results.reserve(documents.size());
  for (auto& document : built) results.push_back(std::move(*document));
  return results;
}

}  // namespace

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
  return std::move(tokenize_documents(*impl_, {&document}).front());
}

std::vector<Document> TokenizerPlan::process_bulk(const std::vector<Document>& documents) const {
  std::vector<const Document*> pointers;
  pointers.reserve(documents.size());
  for (const Document& document : documents) pointers.push_back(&document);
  return tokenize_documents(*impl_, pointers);
}

std::vector<std::int64_t> TokenizerPlan::predict_labels(const std::string& text) const {
  const std::vector<detail::TokenizerParagraph> paragraphs =
      detail::split_tokenizer_paragraphs(text, impl_->skip_newline);
  if (paragraphs.size() > 1) {
    throw TokenizerModelError("predict_labels expects text containing one tokenizer paragraph");
  }
  std::vector<std::int64_t> labels;
  if (paragraphs.empty()) return labels;
  detail::for_each_unit(1, [&](std::size_t) { labels = detail::tokenizer_predict_labels(*impl_, paragraphs.front()); });
  return labels;
}

}  // namespace velmora
