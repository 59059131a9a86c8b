#pragma once

// One annotated document held column-wise, and the input records it is built from.
//
// Every field of sentences, tokens, words (regular and empty) and entity spans is one vector,
// indexed by the row of its table; string fields are ids of the document's own StringPool.
// Views (document.hpp) are a shared pointer to this storage plus a row, and every model reads
// and writes the document through them.

#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "velmora/constituency_tree.hpp"
#include "velmora/coref_values.hpp"
#include "velmora/string_pool.hpp"
#include "velmora/utf8_text.hpp"

namespace velmora {

/// Row number meaning "none": the ROOT word's row, an empty word's token.
inline constexpr std::uint32_t kNoRow = 0xFFFFFFFFu;
/// Absent character offset.
inline constexpr std::uint32_t kNoOffset = 0xFFFFFFFFu;
/// Absent head, empty index or sentiment.
inline constexpr std::int32_t kNoInt = INT32_MIN;
/// Manual-expansion flag values: absent, false, true.
inline constexpr std::int8_t kNoFlag = -1;

/// One syntactic word of a token, or one empty word N.M of a sentence.
struct WordInput {
  std::int32_t id = 0;
  std::optional<std::int32_t> empty_index;
  std::string text;
  std::optional<std::string> lemma;
  std::optional<std::string> upos;
  std::optional<std::string> xpos;
  std::optional<std::string> feats;
  std::optional<std::int32_t> head;
  std::optional<std::string> deprel;
  std::optional<std::string> deps;
  std::optional<std::string> misc;
  std::optional<std::int32_t> start_char;
  std::optional<std::int32_t> end_char;
  std::optional<bool> manual_expansion;
  std::vector<std::string> morphemes;
};

/// One surface token with its words (several for a multi-word token).
struct TokenInput {
  std::int32_t id_start = 0;
  std::int32_t id_end = 0;
  std::string text;
  std::optional<std::string> misc;
  std::optional<std::string> ner;
  std::vector<std::string> multi_ner;
  std::optional<std::int32_t> start_char;
  std::optional<std::int32_t> end_char;
  std::optional<bool> manual_expansion;
  std::string spaces_before;
  std::string spaces_after;
  std::vector<WordInput> words;
};

/// One sentence: its tokens, its empty words and its sentence-level fields.
struct SentenceInput {
  std::vector<TokenInput> tokens;
  std::vector<WordInput> empty_words;
  std::optional<std::string> text;
  std::optional<std::string> sent_id;
  std::optional<std::string> speaker;
  std::optional<std::string> doc_id;
  std::optional<std::int32_t> sentiment;
  std::vector<std::string> comments;
};

class DocumentStorage {
 public:
  using Row = std::uint32_t;
  using Id = std::uint32_t;

  /// A document with this text (validated as UTF-8) and no sentences.
  explicit DocumentStorage(std::string text);

  DocumentStorage(DocumentStorage&&) noexcept = default;
  DocumentStorage& operator=(DocumentStorage&&) noexcept = default;
  DocumentStorage(const DocumentStorage&) = delete;
  DocumentStorage& operator=(const DocumentStorage&) = delete;

  /// Appends the records to a freshly constructed storage. A failure leaves a half-filled
  /// storage that the caller must discard.
  void build(const std::vector<SentenceInput>& sentences);

  /// Adds an empty word to `sentence` and returns its row; a refused word changes nothing.
  Row add_empty_word(unsigned int sentence, WordInput word);
  /// Removes every empty word added after the build.
  void reset_generated_empty_words();

  /// Rebuilds the sentences from new records, keeping the text and the language. A failure
  /// leaves the storage unchanged.
  void replace(std::vector<SentenceInput> sentences);

  /// Recomputes every entity span from the tokens' entity tags.
  void rebuild_entities();

  /// Replaces the coreference chains and every word's attachments. A failure leaves the
  /// previous annotation in place.
  void set_coref(const std::vector<CorefChain>& chains);

  std::size_t num_sentences() const noexcept { return sentence_text.size(); }
  std::size_t num_tokens() const noexcept { return token_text.size(); }
  std::size_t num_word_rows() const noexcept { return word_text.size(); }
  std::size_t num_spans() const noexcept { return span_text.size(); }

  Utf8Text text;
  StringPool pool;
  Id lang = kNoString;

  std::vector<Row> sentence_token_offsets{0};
  std::vector<Row> sentence_word_offsets{0};
  std::vector<std::vector<Row>> sentence_empty_words;
  std::vector<Row> sentence_span_offsets{0};
  std::vector<Id> sentence_text;
  std::vector<Id> sentence_sent_id;
  std::vector<Id> sentence_speaker;
  std::vector<Id> sentence_doc_id;
  std::vector<std::int32_t> sentence_sentiment;
  std::vector<std::vector<Id>> sentence_comments;
  std::vector<std::shared_ptr<const TreeNode>> sentence_tree;

  std::vector<Row> token_sentence;
  std::vector<std::int32_t> token_id_start;
  std::vector<std::int32_t> token_id_end;
  std::vector<Row> token_first_word;
  std::vector<Row> token_end_word;
  std::vector<Id> token_text;
  std::vector<Id> token_misc;
  std::vector<Id> token_ner;
  std::vector<std::vector<Id>> token_multi_ner;
  std::vector<std::uint32_t> token_start_char;
  std::vector<std::uint32_t> token_end_char;
  std::vector<std::int8_t> token_manual_expansion;
  std::vector<Id> token_spaces_before;
  std::vector<Id> token_spaces_after;

  std::vector<Row> word_sentence;
  std::vector<Row> word_token;
  std::vector<std::int32_t> word_id;
  std::vector<std::int32_t> word_empty_index;
  std::vector<Id> word_text;
  std::vector<Id> word_lemma;
  std::vector<Id> word_upos;
  std::vector<Id> word_xpos;
  std::vector<Id> word_feats;
  std::vector<std::int32_t> word_head;
  std::vector<Id> word_deprel;
  std::vector<Id> word_deps;
  std::vector<Id> word_misc;
  std::vector<std::uint32_t> word_start_char;
  std::vector<std::uint32_t> word_end_char;
  std::vector<std::int8_t> word_manual_expansion;
  std::vector<std::vector<Id>> word_morphemes;
  std::vector<std::vector<CorefAttachment>> word_coref;

  std::vector<Row> span_sentence;
  std::vector<Row> span_first_token;
  std::vector<Row> span_end_token;
  std::vector<Row> span_first_word;
  std::vector<Row> span_end_word;
  std::vector<Id> span_text;
  std::vector<Id> span_type;
  std::vector<std::uint32_t> span_start_char;
  std::vector<std::uint32_t> span_end_char;

  std::vector<std::shared_ptr<const CorefChain>> coref_chains;

  std::uint64_t num_words = 0;
  std::uint64_t input_word_count = 0;

 private:
  void append_word(Row sentence, Row token, const WordInput& word, std::int32_t empty_index);
  void reserve_for(const std::vector<SentenceInput>& sentences);
  void intern_sentence_fields(Row sentence, const SentenceInput& input);
  Id derive_sentence_text(Row first_token, Row end_token);
  void recompute_spacing();
};

}  // namespace velmora
