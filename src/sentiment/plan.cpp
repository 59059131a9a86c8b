// The sentiment classifier's operations: the batch driver that orders sentences by length, cuts
// them into batches by a word budget and runs the batches in parts, and the classification of
// documents.

#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "models/parallel_units.hpp"
#include "sentiment/batching.hpp"
#include "sentiment/model_loading.hpp"
#include "sentiment/network.hpp"
#include "velmora/document.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/sentiment.hpp"

namespace velmora {
namespace detail {
namespace {

// The word budget of classify() and of document processing.
constexpr std::size_t kDefaultBatchSize = 5000;

// The index of each row's largest logit; ties go to the lowest class.
std::vector<std::int64_t> best_classes(const at::Tensor& logits) {
  const at::Tensor scores = logits.to(at::kDouble).contiguous();
  const std::int64_t rows = scores.size(0);
  const std::int64_t classes = scores.size(1);
  const double* data = scores.const_data_ptr<double>();
  std::vector<std::int64_t> best(static_cast<std::size_t>(rows), 0);
  for (std::int64_t row = 0; row < rows; ++row) {
    const double* row_scores = data + row * classes;
    for (std::int64_t k = 1; k < classes; ++k) {
      if (row_scores[k] > row_scores[best[static_cast<std::size_t>(row)]]) best[static_cast<std::size_t>(row)] = k;
    }
  }
  return best;
}

// Sentences per unit of work: a batch runs in parts of at most this many sentences, each padded
// to the batch's length, so that a few long batches still give every thread work. It matches
// the rows a recurrence step runs together.
constexpr std::size_t kSentencesPerUnit = 16;

// Part of a batch: sentences [first, end) of the batch's order, padded to `length` words.
struct BatchPart {
  const std::vector<std::size_t>* indices = nullptr;
  std::size_t first = 0;
  std::size_t end = 0;
  std::int64_t length = 0;
};

// One class per sentence, in input order. The batches and their parts are fixed by the sentences
// and the budget alone; each part runs as one unit of work.
std::vector<std::int64_t> classify_sentences(const SentimentPlan::Impl& state,
                                             const std::vector<const SentimentWords*>& sentences,
                                             std::size_t batch_size) {
  if (batch_size == 0) throw std::invalid_argument("sentiment batch_size must be positive");
  std::vector<std::int64_t> classes(sentences.size(), 0);
  if (sentences.empty()) return classes;
  std::vector<std::size_t> lengths;
  lengths.reserve(sentences.size());
  for (const SentimentWords* words : sentences) lengths.push_back(words->size());
  const std::vector<std::vector<std::size_t>> batches = sentiment_batches(lengths, batch_size);
  std::vector<BatchPart> parts;
  std::vector<const SentimentWords*> members;
  for (const std::vector<std::size_t>& indices : batches) {
    members.clear();
    for (std::size_t index : indices) members.push_back(sentences[index]);
    const std::int64_t length = sentiment_padded_length(state, members);
    for (std::size_t first = 0; first < indices.size(); first += kSentencesPerUnit) {
      parts.push_back({&indices, first, std::min(indices.size(), first + kSentencesPerUnit), length});
    }
  }
  for_each_unit(parts.size(), [&](std::size_t p) {
    c10::InferenceMode guard(true);
    const BatchPart& part = parts[p];
    std::vector<const SentimentWords*> batch;
    for (std::size_t k = part.first; k < part.end; ++k) batch.push_back(sentences[(*part.indices)[k]]);
    const std::vector<std::int64_t> best = best_classes(sentiment_logits(state, batch, part.length));
    // Each part writes only its own sentences' slots.
    for (std::size_t k = part.first; k < part.end; ++k) classes[(*part.indices)[k]] = best[k - part.first];
  });
  return classes;
}

// The token texts of every sentence of the documents, in list and document order; a
// multi-word token takes part with its surface text.
std::vector<SentimentWords> sentence_tokens(const std::vector<Document>& documents) {
  std::vector<SentimentWords> sentences;
  for (const Document& document : documents) {
    const SentenceSequence all = document.sentences();
    for (std::uint64_t s = 0; s < all.size(); ++s) {
      const TokenSequence tokens = all.at(static_cast<long>(s)).tokens();
      SentimentWords& texts = sentences.emplace_back();
      texts.reserve(tokens.size());
      for (std::uint64_t t = 0; t < tokens.size(); ++t) texts.push_back(tokens.at(static_cast<long>(t)).text());
    }
  }
  return sentences;
}

std::vector<const SentimentWords*> pointers_to(const std::vector<SentimentWords>& sentences) {
  std::vector<const SentimentWords*> pointers;
  pointers.reserve(sentences.size());
  for (const SentimentWords& words : sentences) pointers.push_back(&words);
  return pointers;
}

// Writes the classes back in the order sentence_tokens() read the sentences.
void set_sentiments(std::vector<Document>& documents, const std::vector<std::int64_t>& classes) {
  std::size_t next = 0;
  for (Document& document : documents) {
    const SentenceSequence all = document.sentences();
    for (std::uint64_t s = 0; s < all.size(); ++s) {
      all.at(static_cast<long>(s)).set_sentiment(static_cast<int>(classes[next++]));
    }
  }
}

}  // namespace
}  // namespace detail

const at::Tensor& SentimentPlan::Impl::weight(std::string_view name) const {
  const auto found = tensors.find(name);
  if (found == tensors.end()) throw SentimentModelError("missing sentiment tensor: '" + std::string(name) + "'");
  return found->second;
}

SentimentPlan::SentimentPlan(std::filesystem::path bundle_path, bool verify_checksums)
    : impl_(detail::load_sentiment_model(std::move(bundle_path), verify_checksums)) {}

SentimentPlan::~SentimentPlan() = default;
SentimentPlan::SentimentPlan(SentimentPlan&&) noexcept = default;
SentimentPlan& SentimentPlan::operator=(SentimentPlan&&) noexcept = default;

const ModelBundle& SentimentPlan::bundle() const { return *impl_->bundle; }

std::int64_t SentimentPlan::classify(const std::vector<std::string>& words) const {
  return detail::classify_sentences(*impl_, {&words}, detail::kDefaultBatchSize).front();
}

std::vector<std::int64_t> SentimentPlan::classify_many(const std::vector<std::vector<std::string>>& sentences,
                                                       std::size_t batch_size) const {
  return detail::classify_sentences(*impl_, detail::pointers_to(sentences), batch_size);
}

Document SentimentPlan::process(Document document) const {
  std::vector<Document> documents;
  documents.push_back(std::move(document));
  documents = process_bulk(std::move(documents));
  return std::move(documents.front());
}

std::vector<Document> SentimentPlan::process_bulk(std::vector<Document> documents) const {
  const std::vector<detail::SentimentWords> sentences = detail::sentence_tokens(documents);
  const std::vector<std::int64_t> classes =
      detail::classify_sentences(*impl_, detail::pointers_to(sentences), detail::kDefaultBatchSize);
  detail::set_sentiments(documents, classes);
  return documents;
}

}  // namespace velmora
