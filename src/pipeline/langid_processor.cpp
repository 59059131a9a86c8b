// The language identification stage. Its model constructor and the forwarding to LangIDPlan
// arrive with the language identifier; until then the stage exists only without a model.

#include <velmora/document.hpp>
#include <velmora/errors.hpp>

#include <utility>

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

bool LangIDProcessor::implemented() const { return plan_ != nullptr; }

Document LangIDProcessor::process(Document document) const {
  return Processor::process(std::move(document));
}

std::vector<Document> LangIDProcessor::process_bulk(std::vector<Document> documents) const {
  return Processor::process_bulk(std::move(documents));
}

std::optional<std::filesystem::path> LangIDProcessor::bundle_path() const { return std::nullopt; }

std::string LangIDProcessor::identify(const std::string&) const { throw_no_model(); }

std::vector<std::string> LangIDProcessor::identify_many(const std::vector<std::string>&) const {
  throw_no_model();
}

}  // namespace velmora
