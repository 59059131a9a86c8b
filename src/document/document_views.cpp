// The document handle and the sentence view.

#include <algorithm>
#include <stdexcept>
#include <tuple>

#include "document/view_support.hpp"
#include "velmora/document.hpp"

namespace velmora {

Document::Document(std::string text)
    : storage_(std::make_shared<DocumentStorage>(std::move(text))) {}

Document::Document(std::string text, std::vector<SentenceInput> sentences)
    : Document(std::move(text)) {
  storage_->build(sentences);
}

Document::Document(std::shared_ptr<DocumentStorage> storage) : storage_(std::move(storage)) {
  if (!storage_) throw std::invalid_argument("a document storage pointer cannot be null");
}

std::uint64_t Document::byte_offset(std::size_t codepoint_index) const {
  return storage_->text.byte_offset(codepoint_index);
}

std::optional<std::string> Document::lang() const {
  return storage_->pool.optional(storage_->lang);
}

void Document::set_lang(const std::optional<std::string>& lang) {
  storage_->lang = storage_->pool.intern_optional(lang);
}

SentenceSequence Document::sentences() const {
  return SentenceSequence(storage_, SequenceRange{0, 1, storage_->num_sentences()});
}

TokenSequence Document::tokens() const {
  return TokenSequence(storage_, SequenceRange{0, 1, storage_->num_tokens()});
}

WordSequence Document::words() const {
  return WordSequence(storage_, SequenceRange{0, 1, storage_->num_words});
}

SpanSequence Document::ents() const {
  return SpanSequence(storage_, SequenceRange{0, 1, storage_->num_spans()});
}

void Document::set_coref(const std::vector<CorefChain>& chains) { storage_->set_coref(chains); }

void Document::rebuild_entities() { storage_->rebuild_entities(); }

Sentence::Sentence(std::shared_ptr<DocumentStorage> storage, unsigned int index)
    : storage_(std::move(storage)), index_(index) {
  checked();
}

DocumentStorage& Sentence::checked() const {
  if (!storage_ || index_ >= storage_->num_sentences()) {
    throw std::out_of_range("invalid sentence view");
  }
  return *storage_;
}

std::optional<std::string> Sentence::sent_id() const {
  const auto& doc = checked();
  return doc.pool.optional(doc.sentence_sent_id[index_]);
}

std::optional<std::string> Sentence::speaker() const {
  const auto& doc = checked();
  return doc.pool.optional(doc.sentence_speaker[index_]);
}

std::optional<std::string> Sentence::doc_id() const {
  const auto& doc = checked();
  return doc.pool.optional(doc.sentence_doc_id[index_]);
}

std::string Sentence::text() const {
  const auto& doc = checked();
  return doc.pool.optional(doc.sentence_text[index_]).value_or(std::string());
}

Document Sentence::doc() const {
  checked();
  return Document(storage_);
}

TokenSequence Sentence::tokens() const {
  const auto& doc = checked();
  const std::uint32_t first = doc.sentence_token_offsets[index_];
  return TokenSequence(storage_,
                       SequenceRange{first, 1, doc.sentence_token_offsets[index_ + 1] - first});
}

WordSequence Sentence::words() const {
  const auto& doc = checked();
  const std::uint32_t first = doc.sentence_word_offsets[index_];
  return WordSequence(storage_,
                      SequenceRange{first, 1, doc.sentence_word_offsets[index_ + 1] - first});
}

WordSequence Sentence::empty_words() const {
  const auto& doc = checked();
  return WordSequence(storage_, doc.sentence_empty_words[index_]);
}

WordSequence Sentence::all_words() const {
  const auto& doc = checked();
  std::vector<std::uint32_t> rows;
  const std::uint32_t first = doc.sentence_word_offsets[index_];
  const std::uint32_t end = doc.sentence_word_offsets[index_ + 1];
  const auto& empty = doc.sentence_empty_words[index_];
  rows.reserve(end - first + empty.size());
  for (std::uint32_t r = first; r < end; ++r) rows.push_back(r);
  rows.insert(rows.end(), empty.begin(), empty.end());
  std::stable_sort(rows.begin(), rows.end(), [&doc](std::uint32_t a, std::uint32_t b) {
    return std::tie(doc.word_id[a], doc.word_empty_index[a]) <
           std::tie(doc.word_id[b], doc.word_empty_index[b]);
  });
  return WordSequence(storage_, std::move(rows));
}

SpanSequence Sentence::ents() const {
  const auto& doc = checked();
  const std::uint32_t first = doc.sentence_span_offsets[index_];
  return SpanSequence(storage_,
                      SequenceRange{first, 1, doc.sentence_span_offsets[index_ + 1] - first});
}

std::optional<int> Sentence::sentiment() const {
  return detail::read_int(checked().sentence_sentiment[index_]);
}

void Sentence::set_sentiment(std::optional<int> sentiment) {
  checked().sentence_sentiment[index_] = sentiment ? *sentiment : kNoInt;
}

std::optional<ConstituencyTree> Sentence::constituency() const {
  const auto& node = checked().sentence_tree[index_];
  if (!node) return std::nullopt;
  return ConstituencyTree(node);
}

void Sentence::set_constituency(const std::optional<ConstituencyTree>& tree) {
  auto& doc = checked();
  doc.sentence_tree[index_] = tree ? tree->node() : nullptr;
}

std::vector<std::string> Sentence::comments() const {
  const auto& doc = checked();
  return detail::read_strings(doc.pool, doc.sentence_comments[index_]);
}

}  // namespace velmora
