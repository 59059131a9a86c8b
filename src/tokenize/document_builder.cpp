#include "tokenize/document_builder.hpp"

#include <algorithm>

#include "velmora/errors.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

constexpr std::uint32_t kSpace = 0x20;

// Languages written without spaces between words drop spaces inside their tokens.
bool joins_without_spaces(const std::string& lang) {
  return lang.size() >= 2 && (lang.starts_with("zh") || lang.starts_with("ja") || lang.starts_with("ko"));
}

TokenInput make_token(std::int32_t id, std::string text, std::uint32_t start, std::uint32_t end, bool multi_word) {
  TokenInput token;
  token.id_start = id;
  token.id_end = id;
  token.start_char = static_cast<std::int32_t>(start);
  token.end_char = static_cast<std::int32_t>(end);
  token.spaces_after = " ";
  if (multi_word) token.misc = "MWT=Yes";
  WordInput word;
  word.id = id;
  word.text = text;
  word.start_char = token.start_char;
  word.end_char = token.end_char;
  word.misc = token.misc;
  token.text = std::move(text);
  token.words.push_back(std::move(word));
  return token;
}

// Cuts one paragraph into sentences, appending them to `sentences`.
void cut_paragraph(const TokenizerPlan::Impl& state, const TokenizerParagraph& units,
                   const std::vector<std::int64_t>& labels, std::vector<SentenceInput>& sentences) {
  const bool colon_ends_sentence = state.shorthand == "la_ittb";
  const bool drop_spaces = joins_without_spaces(state.lang);
  SentenceInput sentence;
  std::string pending;
  std::size_t pending_start = 0;
  std::int32_t next_id = 1;
  for (std::size_t u = 0; u < units.size(); ++u) {
    const TokenizerUnit& unit = units[u];
    if (pending.empty()) pending_start = u;
    pending += unit.text;
    std::int64_t label = labels[u];
    if (colon_ends_sentence && (unit.code_point == 0x3A || unit.code_point == 0x3B)) label = 2;
    if (label <= 0) continue;

    std::size_t first = pending_start;
    while (first <= u && units[first].code_point == kSpace) ++first;
    if (first > u) {
      pending.clear();
      continue;
    }
    std::size_t last = u;
    while (units[last].code_point == kSpace) --last;
    std::string text = pending.substr(pending.find_first_not_of(' '));
    if (drop_spaces) std::erase(text, ' ');
    if (u - first >= 1000) text = "<UNK>";
    sentence.tokens.push_back(
        make_token(next_id++, std::move(text), units[first].offset, units[last].offset + 1, label == 3 || label == 4));
    pending.clear();
    if ((label == 2 || label == 4) && !sentence.tokens.empty()) {
      sentences.push_back(std::move(sentence));
      sentence = SentenceInput{};
      next_id = 1;
    }
  }
  if (!pending.empty()) throw TokenizerModelError("tokenizer prediction left an unfinished token");
  if (!sentence.tokens.empty()) sentences.push_back(std::move(sentence));
}

// The whitespace between tokens: before the first token, then after each token up to the next
// one (or the end of the text).
void attach_spaces(const std::string& text, std::vector<SentenceInput>& sentences) {
  const Utf8Text document_text(text);
  TokenInput* previous = nullptr;
  for (SentenceInput& sentence : sentences) {
    for (TokenInput& token : sentence.tokens) {
      const auto start = static_cast<unsigned long>(*token.start_char);
      if (previous == nullptr) {
        token.spaces_before = document_text.slice(0, start);
      } else {
        previous->spaces_after = document_text.slice(static_cast<unsigned long>(*previous->end_char), start);
      }
      previous = &token;
    }
  }
  if (previous != nullptr) {
    previous->spaces_after = document_text.slice(static_cast<unsigned long>(*previous->end_char),
                                                 static_cast<unsigned long>(document_text.codepoint_count()));
  }
}

}  // namespace

Document build_tokenized_document(const TokenizerPlan::Impl& state, const Document& document,
                                  const std::vector<TokenizerParagraph>& paragraphs,
                                  const std::vector<std::vector<std::int64_t>>& labels) {
  // One label vector per paragraph, and one label per unit, so that no label is read past its
  // vector.
  bool fits = labels.size() == paragraphs.size();
  for (std::size_t p = 0; fits && p < paragraphs.size(); ++p) fits = labels[p].size() == paragraphs[p].size();
  if (!fits) throw TokenizerModelError("tokenizer paragraph and prediction counts disagree");
  std::vector<SentenceInput> sentences;
  for (std::size_t p = 0; p < paragraphs.size(); ++p) cut_paragraph(state, paragraphs[p], labels[p], sentences);
  attach_spaces(document.text(), sentences);
  Document result(document.text(), std::move(sentences));
  result.set_lang(state.bundle->language());
  return result;
}

}  // namespace velmora::detail
