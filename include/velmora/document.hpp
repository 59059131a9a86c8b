#pragma once

// Views of an annotated document. A Document is a shared handle on one DocumentStorage;
// Sentence, Token, Word and Span add a row. Getters turn pool ids and sentinels into strings
// and optionals, setters intern into the document's pool and overwrite one cell. Every
// access checks the row against the storage as it is now, so a view that outlived a rebuild
// of its document fails with its own out-of-range error instead of reading past a column.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "velmora/constituency_tree.hpp"
#include "velmora/coref_values.hpp"
#include "velmora/document_storage.hpp"
#include "velmora/sequences.hpp"

namespace velmora {

class Document {
 public:
  /// A document with this text and no sentences.
  explicit Document(std::string text);
  /// A document with this text built from the records.
  Document(std::string text, std::vector<SentenceInput> sentences);
  /// A handle on an existing storage; std::invalid_argument for a null pointer.
  explicit Document(std::shared_ptr<DocumentStorage> storage);

  const std::string& text() const noexcept { return storage_->text.bytes(); }
  std::uint64_t codepoint_count() const noexcept { return storage_->text.codepoint_count(); }
  std::uint64_t byte_offset(std::size_t codepoint_index) const;

  std::optional<std::string> lang() const;
  void set_lang(const std::optional<std::string>& lang);

  SentenceSequence sentences() const;
  TokenSequence tokens() const;
  /// The regular words of the document, without empty words.
  WordSequence words() const;
  SpanSequence ents() const;
  std::size_t num_tokens() const noexcept { return storage_->num_tokens(); }
  std::size_t num_words() const noexcept { return static_cast<std::size_t>(storage_->num_words); }

  const std::vector<std::shared_ptr<const CorefChain>>& coref() const noexcept {
    return storage_->coref_chains;
  }
  void set_coref(const std::vector<CorefChain>& chains);
  void rebuild_entities();

  const std::shared_ptr<DocumentStorage>& storage() const noexcept { return storage_; }
  bool same_storage(const Document& other) const noexcept { return storage_ == other.storage_; }

  /// The document as CoNLL-U text: sentence blocks separated by one empty line.
  std::string to_conll() const;

 private:
  std::shared_ptr<DocumentStorage> storage_;
};

class Sentence {
 public:
  /// std::out_of_range "invalid sentence view" for a null storage or an index out of range.
  Sentence(std::shared_ptr<DocumentStorage> storage, unsigned int index);

  const std::shared_ptr<DocumentStorage>& storage() const noexcept { return storage_; }
  std::uint32_t index() const noexcept { return index_; }

  std::optional<std::string> sent_id() const;
  std::optional<std::string> speaker() const;
  std::optional<std::string> doc_id() const;
  /// The sentence text; empty when the sentence has none.
  std::string text() const;
  Document doc() const;

  TokenSequence tokens() const;
  /// The regular words of the sentence.
  WordSequence words() const;
  /// The empty words in the order they were added.
  WordSequence empty_words() const;
  /// Regular and empty words in word order: N.M after word N, by empty index.
  WordSequence all_words() const;
  SpanSequence ents() const;

  std::optional<int> sentiment() const;
  void set_sentiment(std::optional<int> sentiment);
  std::optional<ConstituencyTree> constituency() const;
  void set_constituency(const std::optional<ConstituencyTree>& tree);
  std::vector<std::string> comments() const;

  bool same_view(const Sentence& other) const noexcept {
    return storage_ == other.storage_ && index_ == other.index_;
  }
  /// The sentence as one CoNLL-U block, without a final line feed.
  std::string to_conll() const;

 private:
  DocumentStorage& checked() const;

  std::shared_ptr<DocumentStorage> storage_;
  std::uint32_t index_;
};

class Token {
 public:
  /// std::out_of_range "invalid token view" for a null storage or a row out of range.
  Token(std::shared_ptr<DocumentStorage> storage, unsigned int index);

  const std::shared_ptr<DocumentStorage>& storage() const noexcept { return storage_; }
  std::uint32_t index() const noexcept { return index_; }

  /// The first and last word ids the token covers.
  std::pair<std::int32_t, std::int32_t> id_range() const;
  std::string text() const;
  void set_text(std::string text);
  std::optional<std::string> misc() const;
  void set_misc(const std::optional<std::string>& misc);
  std::optional<std::string> ner() const;
  /// Changes the tag only; the entity spans follow on the next rebuild_entities.
  void set_ner(const std::optional<std::string>& ner);
  std::vector<std::string> multi_ner() const;
  void set_multi_ner(const std::vector<std::string>& tags);
  std::optional<std::uint32_t> start_char() const;
  std::optional<std::uint32_t> end_char() const;
  std::optional<bool> manual_expansion() const;
  void set_manual_expansion(std::optional<bool> flag);
  std::string spaces_before() const;
  void set_spaces_before(std::string spaces);
  std::string spaces_after() const;
  void set_spaces_after(std::string spaces);

  WordSequence words() const;
  Sentence sent() const;
  /// The token covers more than one word.
  bool is_mwt() const;
  bool same_view(const Token& other) const noexcept {
    return storage_ == other.storage_ && index_ == other.index_;
  }

 private:
  DocumentStorage& checked() const;

  std::shared_ptr<DocumentStorage> storage_;
  std::uint32_t index_;
};

class Word {
 public:
  /// A word row (regular or empty), or with row kNoRow the synthetic ROOT word of `sentence`.
  /// std::out_of_range "invalid word view" for a null storage, a row out of range, or a ROOT
  /// word without a sentence.
  Word(std::shared_ptr<DocumentStorage> storage, unsigned int row, unsigned int sentence = kNoRow);

  const std::shared_ptr<DocumentStorage>& storage() const noexcept { return storage_; }
  std::uint32_t index() const noexcept { return index_; }
  bool is_root() const noexcept { return index_ == kNoRow; }

  std::int32_t id() const;
  std::optional<std::int32_t> empty_index() const;
  std::string text() const;
  void set_text(std::string text);
  std::optional<std::string> lemma() const;
  std::optional<std::string> upos() const;
  std::optional<std::string> xpos() const;
  std::optional<std::string> feats() const;
  std::optional<std::string> deprel() const;
  std::optional<std::string> deps() const;
  std::optional<std::string> misc() const;
  void set_lemma(const std::optional<std::string>& value);
  void set_upos(const std::optional<std::string>& value);
  void set_xpos(const std::optional<std::string>& value);
  void set_feats(const std::optional<std::string>& value);
  void set_deprel(const std::optional<std::string>& value);
  void set_deps(const std::optional<std::string>& value);
  void set_misc(const std::optional<std::string>& value);
  std::optional<std::int32_t> head() const;
  void set_head(std::optional<int> head);
  std::optional<std::uint32_t> start_char() const;
  std::optional<std::uint32_t> end_char() const;
  std::optional<bool> manual_expansion() const;
  std::vector<std::string> morphemes() const;
  void set_morphemes(const std::vector<std::string>& morphemes);
  std::vector<CorefAttachment> coref_chains() const;

  /// The token of a regular word; none for ROOT and for empty words.
  std::optional<Token> parent() const;
  Sentence sent() const;
  bool same_view(const Word& other) const noexcept {
    return storage_ == other.storage_ && index_ == other.index_ && sentence_ == other.sentence_;
  }

 private:
  // The storage after checking that the row still exists (not for ROOT).
  DocumentStorage& checked() const;
  // The storage of a word that may be changed: refuses ROOT, then checks the row.
  DocumentStorage& writable() const;
  using IdColumn = std::vector<std::uint32_t> DocumentStorage::*;
  std::optional<std::string> optional_field(IdColumn column) const;
  void set_optional_field(IdColumn column, const std::optional<std::string>& value);

  std::shared_ptr<DocumentStorage> storage_;
  std::uint32_t index_;
  std::uint32_t sentence_;
};

class Span {
 public:
  /// std::out_of_range "invalid span view" for a null storage or a row out of range.
  Span(std::shared_ptr<DocumentStorage> storage, unsigned int index);

  const std::shared_ptr<DocumentStorage>& storage() const noexcept { return storage_; }
  std::uint32_t index() const noexcept { return index_; }

  std::string text() const;
  std::string type() const;
  std::optional<std::uint32_t> start_char() const;
  std::optional<std::uint32_t> end_char() const;
  TokenSequence tokens() const;
  WordSequence words() const;
  Sentence sent() const;
  Document doc() const;
  bool same_view(const Span& other) const noexcept {
    return storage_ == other.storage_ && index_ == other.index_;
  }

 private:
  DocumentStorage& checked() const;

  std::shared_ptr<DocumentStorage> storage_;
  std::uint32_t index_;
};

}  // namespace velmora
