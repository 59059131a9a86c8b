// Building a document storage from input records, and replacing its sentences.

#include <algorithm>
#include <stdexcept>

#include "document/joined_text.hpp"
#include "velmora/document_storage.hpp"

namespace velmora {
namespace {

std::uint32_t stored_offset(const std::optional<std::int32_t>& value) {
  return value ? static_cast<std::uint32_t>(*value) : kNoOffset;
}

std::int8_t stored_flag(const std::optional<bool>& value) {
  return value ? static_cast<std::int8_t>(*value ? 1 : 0) : kNoFlag;
}

std::vector<std::uint32_t> intern_all(StringPool& pool, const std::vector<std::string>& texts) {
  std::vector<std::uint32_t> ids;
  ids.reserve(texts.size());
  for (const auto& text : texts) ids.push_back(pool.intern(text));
  return ids;
}

}  // namespace

DocumentStorage::DocumentStorage(std::string document_text) : text(std::move(document_text)) {}

void DocumentStorage::reserve_for(const std::vector<SentenceInput>& sentences) {
  std::size_t tokens = 0;
  std::size_t words = 0;
  for (const auto& sentence : sentences) {
    tokens += sentence.tokens.size();
    words += sentence.empty_words.size();
    for (const auto& token : sentence.tokens) words += token.words.size();
  }
  const std::size_t n = sentences.size();
  // Small documents pool about three strings per word (forms, lemmas, features, enhanced
  // dependencies, comments); large ones share more. Cap the guess so that a large document
  // does not hold room it will not use.
  pool.reserve(std::min<std::size_t>(3 * words + 4 * n + 16, 4096));
  for (auto* column : {&sentence_text, &sentence_sent_id, &sentence_speaker, &sentence_doc_id}) {
    column->reserve(n);
  }
  sentence_token_offsets.reserve(n + 1);
  sentence_word_offsets.reserve(n + 1);
  sentence_sentiment.reserve(n);
  sentence_comments.reserve(n);
  sentence_tree.reserve(n);
  for (auto* column :
       {&token_sentence, &token_first_word, &token_end_word, &token_text, &token_misc, &token_ner,
        &token_start_char, &token_end_char, &token_spaces_before, &token_spaces_after}) {
    column->reserve(tokens);
  }
  token_id_start.reserve(tokens);
  token_id_end.reserve(tokens);
  token_multi_ner.reserve(tokens);
  token_manual_expansion.reserve(tokens);
  for (auto* column : {&word_sentence, &word_token, &word_text, &word_lemma, &word_upos, &word_xpos,
                       &word_feats, &word_deprel, &word_deps, &word_misc, &word_start_char,
                       &word_end_char}) {
    column->reserve(words);
  }
  word_id.reserve(words);
  word_empty_index.reserve(words);
  word_head.reserve(words);
  word_manual_expansion.reserve(words);
  word_morphemes.reserve(words);
  word_coref.reserve(words);
}

void DocumentStorage::append_word(Row sentence, Row token, const WordInput& word,
                                  std::int32_t empty_index) {
  // Intern first, in the field order that fixes the pool ids, so that a full pool leaves the
  // columns untouched.
  const Id text_id = pool.intern(word.text);
  const Id lemma = pool.intern_optional(word.lemma);
  const Id upos = pool.intern_optional(word.upos);
  const Id xpos = pool.intern_optional(word.xpos);
  const Id feats = pool.intern_optional(word.feats);
  const Id deprel = pool.intern_optional(word.deprel);
  const Id deps = pool.intern_optional(word.deps);
  const Id misc = pool.intern_optional(word.misc);
  std::vector<Id> morphemes = intern_all(pool, word.morphemes);

  word_sentence.push_back(sentence);
  word_token.push_back(token);
  word_id.push_back(word.id);
  word_empty_index.push_back(empty_index);
  word_text.push_back(text_id);
  word_lemma.push_back(lemma);
  word_upos.push_back(upos);
  word_xpos.push_back(xpos);
  word_feats.push_back(feats);
  word_head.push_back(word.head ? *word.head : kNoInt);
  word_deprel.push_back(deprel);
  word_deps.push_back(deps);
  word_misc.push_back(misc);
  word_start_char.push_back(stored_offset(word.start_char));
  word_end_char.push_back(stored_offset(word.end_char));
  word_manual_expansion.push_back(stored_flag(word.manual_expansion));
  word_morphemes.push_back(std::move(morphemes));
  word_coref.emplace_back();
}

DocumentStorage::Id DocumentStorage::derive_sentence_text(Row first_token, Row end_token) {
  if (first_token == end_token) return kNoString;
  const std::uint32_t start = token_start_char[first_token];
  const std::uint32_t end = token_end_char[end_token - 1];
  if (start != kNoOffset && end != kNoOffset && start <= end && end <= text.codepoint_count()) {
    return pool.intern(text.slice_view(start, end));
  }
  // Joined from the records' spacing: the recomputation from the text comes later.
  return pool.intern(detail::joined_token_text(*this, first_token, end_token));
}

void DocumentStorage::intern_sentence_fields(Row sentence, const SentenceInput& input) {
  const Row first_token = sentence_token_offsets[sentence];
  const Row end_token = sentence_token_offsets[sentence + 1];
  const Id text_id =
      input.text ? pool.intern(*input.text) : derive_sentence_text(first_token, end_token);
  const Id sent_id = pool.intern(input.sent_id ? *input.sent_id : std::to_string(sentence));
  const Id speaker = pool.intern_optional(input.speaker);
  const Id doc_id = pool.intern_optional(input.doc_id);
  sentence_text.push_back(text_id);
  sentence_sent_id.push_back(sent_id);
  sentence_speaker.push_back(speaker);
  sentence_doc_id.push_back(doc_id);
  sentence_sentiment.push_back(input.sentiment ? *input.sentiment : kNoInt);
  sentence_comments.push_back(intern_all(pool, input.comments));
  sentence_tree.emplace_back();
}

void DocumentStorage::build(const std::vector<SentenceInput>& sentences) {
  reserve_for(sentences);
  sentence_empty_words.resize(sentences.size());
  for (std::size_t s = 0; s < sentences.size(); ++s) {
    const auto sentence = static_cast<Row>(s);
    const auto first_word = static_cast<Row>(word_text.size());
    for (const TokenInput& token : sentences[s].tokens) {
      if (token.id_start < 1 || token.id_end < token.id_start) {
        throw std::invalid_argument("a token has an invalid ID range");
      }
      if (token.text.empty()) throw std::invalid_argument("a token must have non-empty text");
      const auto row = static_cast<Row>(token_text.size());
      const Id text_id = pool.intern(token.text);
      const Id misc = pool.intern_optional(token.misc);
      const Id ner = pool.intern_optional(token.ner);
      std::vector<Id> multi_ner = intern_all(pool, token.multi_ner);
      const Id spaces_before = pool.intern(token.spaces_before);
      const Id spaces_after = pool.intern(token.spaces_after);
      token_sentence.push_back(sentence);
      token_id_start.push_back(token.id_start);
      token_id_end.push_back(token.id_end);
      token_first_word.push_back(static_cast<Row>(word_text.size()));
      token_text.push_back(text_id);
      token_misc.push_back(misc);
      token_ner.push_back(ner);
      token_multi_ner.push_back(std::move(multi_ner));
      token_start_char.push_back(stored_offset(token.start_char));
      token_end_char.push_back(stored_offset(token.end_char));
      token_manual_expansion.push_back(stored_flag(token.manual_expansion));
      token_spaces_before.push_back(spaces_before);
      token_spaces_after.push_back(spaces_after);
      const bool single_word = token.words.size() == 1;
      for (const WordInput& word : token.words) {
        if (word.id < 1 || word.empty_index || word.text.empty()) {
          throw std::invalid_argument("a word must have a positive ID and non-empty text");
        }
        append_word(sentence, row, word, kNoInt);
        // A single-word token lends its offsets to a word that has none of its own.
        if (single_word) {
          if (!word.start_char) word_start_char.back() = token_start_char.back();
          if (!word.end_char) word_end_char.back() = token_end_char.back();
        }
      }
      token_end_word.push_back(static_cast<Row>(word_text.size()));
    }
    sentence_token_offsets.push_back(static_cast<Row>(token_text.size()));
    sentence_word_offsets.push_back(static_cast<Row>(word_text.size()));
    intern_sentence_fields(sentence, sentences[s]);
    if (sentence_word_offsets[s + 1] < first_word) throw std::logic_error("invalid word offsets");
  }
  num_words = word_text.size();
  for (std::size_t s = 0; s < sentences.size(); ++s) {
    for (const WordInput& word : sentences[s].empty_words) {
      add_empty_word(static_cast<unsigned int>(s), word);
    }
  }
  input_word_count = word_text.size();
  recompute_spacing();
  rebuild_entities();
}

void DocumentStorage::recompute_spacing() {
  const std::uint64_t count = text.codepoint_count();
  if (count == 0 || token_text.empty()) return;
  for (std::size_t t = 0; t < token_text.size(); ++t) {
    const std::uint32_t start = token_start_char[t];
    const std::uint32_t end = token_end_char[t];
    if (start == kNoOffset || end == kNoOffset || end < start || end > count) continue;
    if (t == 0) token_spaces_before[t] = pool.intern(text.slice_view(0, start));
    std::uint64_t next = count;
    if (t + 1 < token_text.size() && token_start_char[t + 1] != kNoOffset) {
      next = token_start_char[t + 1];
    }
    if (end <= next) token_spaces_after[t] = pool.intern(text.slice_view(end, next));
  }
}

void DocumentStorage::replace(std::vector<SentenceInput> sentences) {
  const std::optional<std::string> language = pool.optional(lang);
  DocumentStorage rebuilt(text.bytes());
  rebuilt.build(sentences);
  rebuilt.lang = rebuilt.pool.intern_optional(language);
  *this = std::move(rebuilt);
}

}  // namespace velmora
