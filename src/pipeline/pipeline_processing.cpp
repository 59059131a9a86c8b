// Running documents through a pipeline: one document from stage to stage, or a whole list
// from stage to stage so that each stage can batch across documents.

#include <velmora/document.hpp>
#include <velmora/pipeline.hpp>

#include <utility>

namespace velmora {

Document Pipeline::process(std::string text) const {
  return process(Document(std::move(text)));
}

Document Pipeline::process(Document document) const {
  for (const std::shared_ptr<Processor>& processor : processors_) {
    document = processor->process(std::move(document));
  }
  return document;
}

std::vector<Document> Pipeline::process_bulk(std::vector<std::string> texts) const {
  // Every text is checked (as UTF-8) before any processor runs.
  std::vector<Document> documents;
  documents.reserve(texts.size());
  for (std::string& text : texts) documents.emplace_back(std::move(text));
  return process_bulk(std::move(documents));
}

std::vector<Document> Pipeline::process_bulk(std::vector<Document> documents) const {
  for (const std::shared_ptr<Processor>& processor : processors_) {
    documents = processor->process_bulk(std::move(documents));
  }
  return documents;
}

}  // namespace velmora
