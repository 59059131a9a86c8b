// Token, word and span views.

#include <stdexcept>

#include "document/view_support.hpp"
#include "velmora/document.hpp"

namespace velmora {

// ---- Token ----

Token::Token(std::shared_ptr<DocumentStorage> storage, unsigned int index)
    : storage_(std::move(storage)), index_(index) {
  checked();
}

DocumentStorage& Token::checked() const {
  if (!storage_ || index_ >= storage_->num_tokens()) throw std::out_of_range("invalid token view");
  return *storage_;
}

std::pair<std::int32_t, std::int32_t> Token::id_range() const {
  const auto& doc = checked();
  return {doc.token_id_start[index_], doc.token_id_end[index_]};
}

std::string Token::text() const {
  const auto& doc = checked();
  return doc.pool.get(doc.token_text[index_]);
}

void Token::set_text(std::string text) {
  auto& doc = checked();
  if (text.empty()) throw std::invalid_argument("a token must have non-empty text");
  doc.token_text[index_] = doc.pool.intern(text);
}

std::optional<std::string> Token::misc() const {
  const auto& doc = checked();
  return doc.pool.optional(doc.token_misc[index_]);
}

void Token::set_misc(const std::optional<std::string>& misc) {
  auto& doc = checked();
  doc.token_misc[index_] = doc.pool.intern_optional(misc);
}

std::optional<std::string> Token::ner() const {
  const auto& doc = checked();
  return doc.pool.optional(doc.token_ner[index_]);
}

void Token::set_ner(const std::optional<std::string>& ner) {
  auto& doc = checked();
  doc.token_ner[index_] = doc.pool.intern_optional(ner);
}

std::vector<std::string> Token::multi_ner() const {
  const auto& doc = checked();
  return detail::read_strings(doc.pool, doc.token_multi_ner[index_]);
}

void Token::set_multi_ner(const std::vector<std::string>& tags) {
  auto& doc = checked();
  std::vector<std::uint32_t> ids;
  ids.reserve(tags.size());
  for (const auto& tag : tags) ids.push_back(doc.pool.intern(tag));
  doc.token_multi_ner[index_] = std::move(ids);
}

std::optional<std::uint32_t> Token::start_char() const {
  return detail::read_offset(checked().token_start_char[index_]);
}

std::optional<std::uint32_t> Token::end_char() const {
  return detail::read_offset(checked().token_end_char[index_]);
}

std::optional<bool> Token::manual_expansion() const {
  return detail::read_flag(checked().token_manual_expansion[index_]);
}

void Token::set_manual_expansion(std::optional<bool> flag) {
  checked().token_manual_expansion[index_] = flag ? (*flag ? 1 : 0) : kNoFlag;
}

std::string Token::spaces_before() const {
  const auto& doc = checked();
  return doc.pool.get(doc.token_spaces_before[index_]);
}

void Token::set_spaces_before(std::string spaces) {
  auto& doc = checked();
  doc.token_spaces_before[index_] = doc.pool.intern(spaces);
}

std::string Token::spaces_after() const {
  const auto& doc = checked();
  return doc.pool.get(doc.token_spaces_after[index_]);
}

void Token::set_spaces_after(std::string spaces) {
  auto& doc = checked();
  doc.token_spaces_after[index_] = doc.pool.intern(spaces);
}

WordSequence Token::words() const {
  const auto& doc = checked();
  const std::uint32_t first = doc.token_first_word[index_];
  return WordSequence(storage_, SequenceRange{first, 1, doc.token_end_word[index_] - first});
}

Sentence Token::sent() const { return Sentence(storage_, checked().token_sentence[index_]); }

bool Token::is_mwt() const {
  const auto& doc = checked();
  return doc.token_end_word[index_] - doc.token_first_word[index_] > 1;
}

// ---- Word ----

namespace {
const std::string kRootText = "ROOT";
}  // namespace

Word::Word(std::shared_ptr<DocumentStorage> storage, unsigned int row, unsigned int sentence)
    : storage_(std::move(storage)), index_(row), sentence_(sentence) {
  if (!storage_ || (is_root() && sentence_ == kNoRow)) throw std::out_of_range("invalid word view");
  if (!is_root()) checked();
}

DocumentStorage& Word::checked() const {
  if (index_ >= storage_->num_word_rows()) throw std::out_of_range("invalid word view");
  return *storage_;
}

DocumentStorage& Word::writable() const {
  if (is_root()) throw std::logic_error("the synthetic ROOT word is immutable");
  return checked();
}

std::int32_t Word::id() const { return is_root() ? 0 : checked().word_id[index_]; }

std::optional<std::int32_t> Word::empty_index() const {
  if (is_root()) return std::nullopt;
  return detail::read_int(checked().word_empty_index[index_]);
}

std::string Word::text() const {
  if (is_root()) return kRootText;
  const auto& doc = checked();
  return doc.pool.get(doc.word_text[index_]);
}

void Word::set_text(std::string text) {
  auto& doc = writable();
  if (text.empty()) throw std::invalid_argument("a word must have non-empty text");
  doc.word_text[index_] = doc.pool.intern(text);
}

std::optional<std::string> Word::optional_field(IdColumn column) const {
  if (is_root()) return std::nullopt;
  const auto& doc = checked();
  return doc.pool.optional((doc.*column)[index_]);
}

void Word::set_optional_field(IdColumn column, const std::optional<std::string>& value) {
  auto& doc = writable();
  (doc.*column)[index_] = doc.pool.intern_optional(value);
}

namespace {
using S = DocumentStorage;  // keeps the field getters on one line each
}  // namespace
std::optional<std::string> Word::lemma() const { return optional_field(&S::word_lemma); }
std::optional<std::string> Word::upos() const { return optional_field(&S::word_upos); }
std::optional<std::string> Word::xpos() const { return optional_field(&S::word_xpos); }
std::optional<std::string> Word::feats() const { return optional_field(&S::word_feats); }
std::optional<std::string> Word::deprel() const { return optional_field(&S::word_deprel); }
std::optional<std::string> Word::deps() const { return optional_field(&S::word_deps); }
std::optional<std::string> Word::misc() const { return optional_field(&S::word_misc); }

void Word::set_lemma(const std::optional<std::string>& value) {
  set_optional_field(&DocumentStorage::word_lemma, value);
}
void Word::set_upos(const std::optional<std::string>& value) {
  set_optional_field(&DocumentStorage::word_upos, value);
}
void Word::set_xpos(const std::optional<std::string>& value) {
  set_optional_field(&DocumentStorage::word_xpos, value);
}
void Word::set_feats(const std::optional<std::string>& value) {
  set_optional_field(&DocumentStorage::word_feats, value);
}
void Word::set_deprel(const std::optional<std::string>& value) {
  set_optional_field(&DocumentStorage::word_deprel, value);
}
void Word::set_deps(const std::optional<std::string>& value) {
  set_optional_field(&DocumentStorage::word_deps, value);
}
void Word::set_misc(const std::optional<std::string>& value) {
  set_optional_field(&DocumentStorage::word_misc, value);
}

std::optional<std::int32_t> Word::head() const {
  if (is_root()) return std::nullopt;
  return detail::read_int(checked().word_head[index_]);
}

void Word::set_head(std::optional<int> head) {
  writable().word_head[index_] = head ? *head : kNoInt;
}

std::optional<std::uint32_t> Word::start_char() const {
  if (is_root()) return std::nullopt;
  return detail::read_offset(checked().word_start_char[index_]);
}

std::optional<std::uint32_t> Word::end_char() const {
  if (is_root()) return std::nullopt;
  return detail::read_offset(checked().word_end_char[index_]);
}

std::optional<bool> Word::manual_expansion() const {
  if (is_root()) return std::nullopt;
  return detail::read_flag(checked().word_manual_expansion[index_]);
}

std::vector<std::string> Word::morphemes() const {
  if (is_root()) return {};
  const auto& doc = checked();
  return detail::read_strings(doc.pool, doc.word_morphemes[index_]);
}

void Word::set_morphemes(const std::vector<std::string>& morphemes) {
  auto& doc = writable();
  std::vector<std::uint32_t> ids;
  ids.reserve(morphemes.size());
  for (const auto& morpheme : morphemes) ids.push_back(doc.pool.intern(morpheme));
  doc.word_morphemes[index_] = std::move(ids);
}

std::vector<CorefAttachment> Word::coref_chains() const {
  if (is_root()) return {};
  return checked().word_coref[index_];
}

std::optional<Token> Word::parent() const {
  if (is_root()) return std::nullopt;
  const std::uint32_t token = checked().word_token[index_];
  if (token == kNoRow) return std::nullopt;
  return Token(storage_, token);
}

Sentence Word::sent() const {
  if (is_root()) return Sentence(storage_, sentence_);
  return Sentence(storage_, checked().word_sentence[index_]);
}

// ---- Span ----

Span::Span(std::shared_ptr<DocumentStorage> storage, unsigned int index)
    : storage_(std::move(storage)), index_(index) {
  checked();
}

DocumentStorage& Span::checked() const {
  if (!storage_ || index_ >= storage_->num_spans()) throw std::out_of_range("invalid span view");
  return *storage_;
}

std::string Span::text() const {
  const auto& doc = checked();
  return doc.pool.get(doc.span_text[index_]);
}

std::string Span::type() const {
  const auto& doc = checked();
  return doc.pool.get(doc.span_type[index_]);
}

std::optional<std::uint32_t> Span::start_char() const {
  return detail::read_offset(checked().span_start_char[index_]);
}

std::optional<std::uint32_t> Span::end_char() const {
  return detail::read_offset(checked().span_end_char[index_]);
}

TokenSequence Span::tokens() const {
  const auto& doc = checked();
  const std::uint32_t first = doc.span_first_token[index_];
  return TokenSequence(storage_, SequenceRange{first, 1, doc.span_end_token[index_] - first});
}

WordSequence Span::words() const {
  const auto& doc = checked();
  const std::uint32_t first = doc.span_first_word[index_];
  return WordSequence(storage_, SequenceRange{first, 1, doc.span_end_word[index_] - first});
}

Sentence Span::sent() const { return Sentence(storage_, checked().span_sentence[index_]); }

Document Span::doc() const {
  checked();
  return Document(storage_);
}

}  // namespace velmora
