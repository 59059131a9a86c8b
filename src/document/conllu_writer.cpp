// CoNLL-U output. Everything is appended into one output buffer: this runs over whole
// corpora, and per-line strings would dominate its cost.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <tuple>

#include "velmora/conllu.hpp"
#include "velmora/document.hpp"
#include "velmora/misc_spacing.hpp"

namespace velmora::detail {
namespace {

void append_int(std::string& out, std::int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// The pooled string of a required field; kNoString and unknown ids are refused.
const std::string& pooled(const std::vector<std::string>& strings, std::uint32_t id) {
  if (id >= strings.size()) throw std::out_of_range("invalid string pool identifier");
  return strings[id];
}

// Characters that would break the layout: in a column a tab shifts the columns after it and a
// line break ends the line; a comment only has to stay one line.
constexpr std::string_view kColumnBreaks = "\t\n\r";
constexpr std::string_view kLineBreaks = "\n\r";

// Appends `text` with each of the `breaks` characters written as a space.
void append_replacing(std::string& out, std::string_view text, std::string_view breaks) {
  for (std::size_t at = text.find_first_of(breaks); at != std::string_view::npos;
       at = text.find_first_of(breaks)) {
    out.append(text.data(), at);
    out += ' ';
    text.remove_prefix(at + 1);
  }
  out.append(text.data(), text.size());
}

void append_clean(std::string& out, std::string_view text) {
  append_replacing(out, text, kColumnBreaks);
}

void append_value(std::string& out, const std::optional<std::string>& value) {
  if (value && !value->empty()) {
    append_clean(out, *value);
  } else {
    out += '_';
  }
}

void append_field(std::string& out, const std::vector<std::string>& strings, std::uint32_t id) {
  if (id == kNoString) {
    out += '_';
    return;
  }
  const std::string& text = pooled(strings, id);
  if (text.empty()) {
    out += '_';
  } else {
    append_clean(out, text);
  }
}

std::optional<std::string> optional_pooled(const std::vector<std::string>& strings,
                                           std::uint32_t id) {
  if (id == kNoString) return std::nullopt;
  return pooled(strings, id);
}

// The MISC of a range line: the token's own MISC with its spacing folded in.
std::optional<std::string> token_misc(const DocumentStorage& doc, std::uint32_t token) {
  const auto& strings = doc.pool.strings();
  return detail::rebuild_token_misc(optional_pooled(strings, doc.token_misc[token]),
                                    pooled(strings, doc.token_spaces_before[token]),
                                    pooled(strings, doc.token_spaces_after[token]));
}

// The MISC of a word line before morphemes, folded as the dictionary form folds it: a
// single-word token's spacing goes on its word, the words of a multi-word token have none of
// their own, and an empty word keeps its MISC as stored.
std::optional<std::string> word_misc(const DocumentStorage& doc, std::uint32_t row) {
  const auto& strings = doc.pool.strings();
  std::optional<std::string> stored = optional_pooled(strings, doc.word_misc[row]);
  const std::uint32_t token = doc.word_token[row];
  if (token == kNoRow) return stored;
  if (doc.token_id_start[token] != doc.token_id_end[token]) {
    return detail::rebuild_token_misc(stored, "", " ");
  }
  return detail::rebuild_token_misc(stored, pooled(strings, doc.token_spaces_before[token]),
                                    pooled(strings, doc.token_spaces_after[token]));
}

void append_word_line(std::string& out, const DocumentStorage& doc, std::uint32_t row) {
  const auto& strings = doc.pool.strings();
  append_int(out, doc.word_id[row]);
  if (doc.word_empty_index[row] != kNoInt) {
    out += '.';
    append_int(out, doc.word_empty_index[row]);
  }
  out += '\t';
  append_clean(out, pooled(strings, doc.word_text[row]));
  for (const auto* column : {&doc.word_lemma, &doc.word_upos, &doc.word_xpos, &doc.word_feats}) {
    out += '\t';
    append_field(out, strings, (*column)[row]);
  }
  out += '\t';
  if (doc.word_head[row] == kNoInt) {
    out += '_';
  } else {
    append_int(out, doc.word_head[row]);
  }
  out += '\t';
  append_field(out, strings, doc.word_deprel[row]);
  out += '\t';
  append_field(out, strings, doc.word_deps[row]);
  out += '\t';
  const std::size_t misc_start = out.size();
  if (const std::optional<std::string> misc = word_misc(doc, row)) append_clean(out, *misc);
  const auto& morphemes = doc.word_morphemes[row];
  if (!morphemes.empty()) {
    if (out.size() != misc_start) out += '|';
    out += "Morphemes=";
    for (std::size_t i = 0; i < morphemes.size(); ++i) {
      if (i) out += ',';
      append_clean(out, pooled(strings, morphemes[i]));
    }
  }
  if (out.size() == misc_start) out += '_';
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string conll_field(const std::vector<std::string>& strings, std::uint32_t id) {
  std::string out;
  append_field(out, strings, id);
  return out;
}

std::string conll_word_line(const DocumentStorage& storage, std::uint32_t row) {
  if (row >= storage.num_word_rows()) throw std::out_of_range("no such word row to write");
  std::string out;
  append_word_line(out, storage, row);
  return out;
}

void append_conll_sentence(std::string& out, const DocumentStorage& doc, std::uint32_t sentence) {
  const auto& strings = doc.pool.strings();
  bool has_sent_id = false;
  bool has_text = false;
  for (const std::uint32_t id : doc.sentence_comments[sentence]) {
    const std::string& comment = pooled(strings, id);
    has_sent_id = has_sent_id || starts_with(comment, "# sent_id");
    has_text = has_text || starts_with(comment, "# text");
    // A line without the '#' mark (or an empty one) would be read as a word line or as the
    // end of the sentence.
    if (!starts_with(comment, "#")) out += comment.empty() ? "#" : "# ";
    append_replacing(out, comment, kLineBreaks);
    out += '\n';
  }
  if (!has_sent_id) {
    out += "# sent_id = ";
    const std::uint32_t sent_id = doc.sentence_sent_id[sentence];
    if (sent_id != kNoString) {
      append_replacing(out, pooled(strings, sent_id), kLineBreaks);
    } else {
      append_int(out, sentence);
    }
    out += '\n';
  }
  const std::uint32_t text_id = doc.sentence_text[sentence];
  if (!has_text && text_id != kNoString && !pooled(strings, text_id).empty()) {
    out += "# text = ";
    append_replacing(out, pooled(strings, text_id), kLineBreaks);
    out += '\n';
  }

  // Empty words go in (id, empty index) order whatever order they were added in, so that
  // words generated out of position still give valid CoNLL-U. Empty word N.M follows word N,
  // also inside a multi-word token.
  std::vector<std::uint32_t> empty = doc.sentence_empty_words[sentence];
  std::stable_sort(empty.begin(), empty.end(), [&doc](std::uint32_t a, std::uint32_t b) {
    return std::tie(doc.word_id[a], doc.word_empty_index[a]) <
           std::tie(doc.word_id[b], doc.word_empty_index[b]);
  });
  bool first_line = true;
  auto begin_line = [&] {
    if (!first_line) out += '\n';
    first_line = false;
  };
  std::size_t k = 0;
  auto append_empty_words_through = [&](std::int64_t last_id) {
    for (; k < empty.size() && doc.word_id[empty[k]] <= last_id; ++k) {
      begin_line();
      append_word_line(out, doc, empty[k]);
    }
  };
  const std::uint32_t end_token = doc.sentence_token_offsets[sentence + 1];
  for (std::uint32_t t = doc.sentence_token_offsets[sentence]; t < end_token; ++t) {
    const std::int32_t id_start = doc.token_id_start[t];
    const std::int32_t id_end = doc.token_id_end[t];
    append_empty_words_through(std::int64_t{id_start} - 1);
    if (id_start != id_end) {
      begin_line();
      append_int(out, id_start);
      out += '-';
      append_int(out, id_end);
      out += '\t';
      append_clean(out, pooled(strings, doc.token_text[t]));
      out += "\t_\t_\t_\t_\t_\t_\t_\t";
      append_value(out, token_misc(doc, t));
    }
    for (std::uint32_t w = doc.token_first_word[t]; w < doc.token_end_word[t]; ++w) {
      begin_line();
      append_word_line(out, doc, w);
      append_empty_words_through(doc.word_id[w]);
    }
  }
  append_empty_words_through(INT64_MAX);
}

}  // namespace velmora::detail

namespace velmora {

std::string Sentence::to_conll() const {
  const auto& doc = checked();
  std::string out;
  detail::append_conll_sentence(out, doc, index_);
  return out;
}

std::string Document::to_conll() const {
  std::string out;
  // A word line of a treebank is some 60-70 bytes; guessing the size saves most regrowth.
  out.reserve(storage_->num_word_rows() * 64);
  for (std::uint32_t s = 0; s < storage_->num_sentences(); ++s) {
    if (s) out += "\n\n";
    detail::append_conll_sentence(out, *storage_, s);
  }
  return out;
}

}  // namespace velmora
