// The language identification stage: sets each document's language to the identifier's answer
// for its text, within the stage's language subset.

#include <velmora/document.hpp>
#include <velmora/errors.hpp>
#include <velmora/langid.hpp>

#include <utility>

#include "pipeline/plan_access.hpp"
#include "pipeline/processor_table.hpp"

namespace velmora {
namespace detail {

std::vector<std::string> document_texts(const std::vector<Document>& documents) {
  std::vector<std::string> texts;
  texts.reserve(documents.size());
  for (const Document& document : documents) texts.push_back(document.text());
  return texts;
}

void set_document_languages(std::vector<Document>& documents,
                            const std::vector<std::string>& languages) {
  // Indexing the answer by document position is only sound when the counts agree.
  if (languages.size() != documents.size()) {
    throw LangIDModelError("LangID language and document counts disagree");
  }
  for (std::size_t index = 0; index < documents.size(); ++index) {
    documents[index].set_lang(languages[index]);
  }
}

}  // namespace detail

LangIDProcessor::LangIDProcessor()
    : Processor(detail::processor_row_spec(detail::ProcessorKind::langid)) {}

LangIDProcessor::LangIDProcessor(std::filesystem::path bundle_path, bool verify_checksums,
                                 std::vector<std::string> language_subset)
    : LangIDProcessor() {
  plan_ = std::make_shared<const LangIDPlan>(std::move(bundle_path), verify_checksums);
  language_subset_ = std::move(language_subset);
}

bool LangIDProcessor::implemented() const { return plan_ != nullptr; }

Document LangIDProcessor::process(Document document) const {
  if (!plan_) return Processor::process(std::move(document));
  document.set_lang(plan_->identify(document.text(), language_subset_));
  return document;
}

std::vector<Document> LangIDProcessor::process_bulk(std::vector<Document> documents) const {
  if (!plan_) return Processor::process_bulk(std::move(documents));
  const std::vector<std::string> languages =
      plan_->identify_many(detail::document_texts(documents), language_subset_);
  detail::set_document_languages(documents, languages);
  return documents;
}

std::optional<std::filesystem::path> LangIDProcessor::bundle_path() const {
  return detail::plan_bundle_path(plan_);
}

std::string LangIDProcessor::identify(const std::string& text) const {
  return loaded(plan_).identify(text, language_subset_);
}

std::vector<std::string> LangIDProcessor::identify_many(const std::vector<std::string>& texts) const {
  return loaded(plan_).identify_many(texts, language_subset_);
}

}  // namespace velmora
