// The tagger's public operations: load, tag one sentence, tag documents and rebuild their
// entity spans. Sentences run in chunks of consecutive sentences, one chunk per unit of work.

#include <c10/core/InferenceMode.h>

#include <optional>
#include <utility>

#include "models/model_config.hpp"
#include "models/parallel_units.hpp"
#include "ner/model_state.hpp"
#include "velmora/document.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {
namespace {

// Tokens a chunk of sentences takes at most (a longer sentence is a chunk of its own): enough
// rows for the recurrences to share each load of their weights, small enough that a document
// gives every thread work.
constexpr std::size_t kChunkTokens = 128;

using Tokens = std::vector<std::string>;

struct Chunk {
  std::size_t document = 0;
  std::size_t first = 0;  // first sentence, counted over all documents
  std::size_t end = 0;
};

// The token texts of every sentence of every document, in order.
struct DocumentTokens {
  std::vector<Tokens> sentences;
  std::vector<std::size_t> first_sentence;  // per document, and one past the last sentence
};

DocumentTokens document_tokens(const std::vector<Document>& documents) {
  DocumentTokens all;
  for (const Document& document : documents) {
    all.first_sentence.push_back(all.sentences.size());
    const SentenceSequence sentences = document.sentences();
    for (std::size_t s = 0; s < sentences.size(); ++s) {
      const TokenSequence tokens = sentences.at(static_cast<long>(s)).tokens();
      Tokens& texts = all.sentences.emplace_back();
      texts.reserve(tokens.size());
      for (std::size_t t = 0; t < tokens.size(); ++t) texts.push_back(tokens.at(static_cast<long>(t)).text());
    }
  }
  all.first_sentence.push_back(all.sentences.size());
  return all;
}

// Consecutive sentences of one document up to kChunkTokens tokens: fixed by the documents
// alone, so the chunks, and with them every result, are the same at any thread count.
std::vector<Chunk> chunks_of(const DocumentTokens& all) {
  std::vector<Chunk> chunks;
  for (std::size_t d = 0; d + 1 < all.first_sentence.size(); ++d) {
    std::size_t tokens = 0;
    for (std::size_t s = all.first_sentence[d]; s < all.first_sentence[d + 1]; ++s) {
      const std::size_t count = all.sentences[s].size();
      if (count == 0) continue;
      if (chunks.empty() || chunks.back().document != d || tokens + count > kChunkTokens) {
        chunks.push_back({d, s, s});
        tokens = 0;
      }
      chunks.back().end = s + 1;
      tokens += count;
    }
  }
  return chunks;
}

void write_tags(Document& document, const std::vector<Tokens>& tags_of, std::size_t first) {
  const SentenceSequence sentences = document.sentences();
  for (std::size_t s = 0; s < sentences.size(); ++s) {
    const TokenSequence tokens = sentences.at(static_cast<long>(s)).tokens();
    const Tokens& tags = tags_of[first + s];
    for (std::size_t t = 0; t < tags.size(); ++t) {
      Token token = tokens.at(static_cast<long>(t));
      token.set_ner(tags[t]);
      token.set_multi_ner({tags[t]});
    }
  }
  document.rebuild_entities();
}

}  // namespace

NERPlan::NERPlan(std::filesystem::path bundle_path, bool verify_checksums) : impl_(std::make_unique<Impl>()) {
  detail::with_model_error<NERModelError>(
      [&] { detail::load_ner_model(*impl_, std::move(bundle_path), verify_checksums); });
}

NERPlan::~NERPlan() = default;
NERPlan::NERPlan(NERPlan&&) noexcept = default;
NERPlan& NERPlan::operator=(NERPlan&&) noexcept = default;

const ModelBundle& NERPlan::bundle() const { return *impl_->bundle; }

std::vector<std::string> NERPlan::tag(const std::vector<std::string>& tokens) const {
  std::vector<std::string> tags;
  detail::for_each_unit(1, [&](std::size_t) {
    c10::InferenceMode inference;
    tags = std::move(detail::ner_tag_sentences(*impl_, {&tokens}).front());
  });
  return tags;
}

Document NERPlan::process(Document document) const {
  std::vector<Document> documents;
  documents.push_back(std::move(document));
  return std::move(process_bulk(std::move(documents)).front());
}

std::vector<Document> NERPlan::process_bulk(std::vector<Document> documents) const {
  const DocumentTokens all = document_tokens(documents);
  const std::vector<Chunk> chunks = chunks_of(all);
  std::vector<Tokens> tags_of(all.sentences.size());
  const std::optional<detail::UnitFailure> failure = detail::try_each_unit(chunks.size(), [&](std::size_t c) {
    c10::InferenceMode inference;
    std::vector<const Tokens*> sentences;
    for (std::size_t s = chunks[c].first; s < chunks[c].end; ++s) sentences.push_back(&all.sentences[s]);
    std::vector<Tokens> tags = detail::ner_tag_sentences(*impl_, sentences);
    for (std::size_t s = chunks[c].first; s < chunks[c].end; ++s) tags_of[s] = std::move(tags[s - chunks[c].first]);
  });
  // A document is written only when all its sentences were tagged: the documents before the
  // first failing one get their tags and entity spans, that one and the rest stay as they were.
  const std::size_t tagged = failure ? chunks[failure->index].document : documents.size();
  for (std::size_t d = 0; d < tagged; ++d) write_tags(documents[d], tags_of, all.first_sentence[d]);
  if (failure) std::rethrow_exception(failure->error);
  return documents;
}

}  // namespace velmora
