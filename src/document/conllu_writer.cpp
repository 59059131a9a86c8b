// CoNLL-U output. Everything is appended into one output buffer: this runs over whole
// corpora, and per-line strings would dominate its cost.

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <tuple>

#include "document/space_characters.hpp"
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

// Where text is written decides what it may not hold raw. Every line break of a line reader
// (str.splitlines() ends lines at eleven characters, not only at line feed and carriage
// return) would end the line: it is written as a space, which a reader of the text takes for
// the same white space. In a column a tab would shift the columns after it. The "# text" line
// must also be in NFC, which writes U+2000 and U+2001 as U+2002 and U+2003.
enum class Place { kComment, kColumn, kTextLine };

// Whether a byte may start a character rewritten anywhere: the controls and the lead bytes of
// U+0085 (C2) and of U+2000, U+2001, U+2028 and U+2029 (E2).
constexpr auto kMayStartRewrite = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = true;
  table[0xC2] = table[0xE2] = true;
  return table;
}();

bool may_start_rewrite(char c) { return kMayStartRewrite[static_cast<unsigned char>(c)]; }

// Whether any byte of [first, last) may start a rewritten character, eight bytes at a time:
// (x - 0x20) borrows into a byte's top bit where the byte is below 0x20, and x ^ 0xC2 and
// x ^ 0xE2 have a zero byte where x has that byte. The few bytes after are tested without
// branches.
inline bool may_rewrite(const char* first, const char* last) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = kOnes * 0x80;
  const auto has_zero = [](std::uint64_t v) { return ((v - kOnes) & ~v & kHigh) != 0; };
  for (; last - first >= 8; first += 8) {
    std::uint64_t x;
    std::memcpy(&x, first, 8);
    if (((x - kOnes * 0x20) & ~x & kHigh) || has_zero(x ^ (kOnes * 0xC2)) ||
        has_zero(x ^ (kOnes * 0xE2))) {
      return true;
    }
  }
  bool found = false;
  for (; first != last; ++first) found |= may_start_rewrite(*first);
  return found;
}

// What the character `space` is written as in `place`; empty when it is written unchanged.
std::string_view rewritten(const SpaceCharacter& space, Place place) {
  if (space.breaks_lines || (place == Place::kColumn && space.utf8 == "\t")) return " ";
  if (place == Place::kTextLine) {
    if (space.utf8 == "\xE2\x80\x80") return "\xE2\x80\x82";
    if (space.utf8 == "\xE2\x80\x81") return "\xE2\x80\x83";
  }
  return {};
}

// Rewrites the text from `start` on for `place`, in place: no replacement is longer than what
// it replaces. Kept out of line: most text has nothing to rewrite.
[[gnu::noinline]] void rewrite_from(std::string& out, std::size_t start, Place place) {
  std::size_t write = start;
  for (std::size_t read = start; read < out.size();) {
    const SpaceCharacter* space =
        may_start_rewrite(out[read]) ? space_character_at(std::string_view(out).substr(read)) : nullptr;
    const std::string_view replacement = space ? rewritten(*space, place) : std::string_view();
    if (replacement.empty()) {
      out[write++] = out[read++];
    } else {
      read += space->utf8.size();
      for (const char c : replacement) out[write++] = c;
    }
  }
  out.resize(write);
}

inline void rewrite_for(std::string& out, std::size_t start, Place place) {
  if (may_rewrite(out.data() + start, out.data() + out.size())) rewrite_from(out, start, place);
}

// Appends `text` as written in `place`.
void append_for(std::string& out, std::string_view text, Place place) {
  const std::size_t start = out.size();
  out += text;
  rewrite_for(out, start, place);
}

void append_clean(std::string& out, std::string_view text) {
  append_for(out, text, Place::kColumn);
}

// A column that may have no value: "_" for none and for the empty string.
void append_field(std::string& out, const std::vector<std::string>& strings, std::uint32_t id) {
  const std::string_view text = id == kNoString ? std::string_view() : pooled(strings, id);
  if (text.empty()) {
    out += '_';
  } else {
    append_clean(out, text);
  }
}

std::optional<std::string_view> optional_pooled(const std::vector<std::string>& strings,
                                                std::uint32_t id) {
  if (id == kNoString) return std::nullopt;
  return pooled(strings, id);
}

// The MISC of a word line before morphemes, folded as the dictionary form folds it: a
// single-word token's spacing goes on its word, the words of a multi-word token have none of
// their own, and an empty word keeps its MISC as stored.
void append_word_misc(std::string& out, const DocumentStorage& doc, std::uint32_t row) {
  const auto& strings = doc.pool.strings();
  const std::optional<std::string_view> stored = optional_pooled(strings, doc.word_misc[row]);
  const std::uint32_t token = doc.word_token[row];
  if (token == kNoRow) {
    if (stored) out += *stored;
  } else if (doc.token_id_start[token] != doc.token_id_end[token]) {
    append_token_misc(out, stored, "", " ");
  } else {
    append_token_misc(out, stored, pooled(strings, doc.token_spaces_before[token]),
                      pooled(strings, doc.token_spaces_after[token]));
  }
}

// Writes the MISC column from `start` on as one column: its tabs and line breaks become spaces,
// and an empty column becomes "_".
void finish_misc_column(std::string& out, std::size_t start) {
  if (out.size() == start) {
    out += '_';
    return;
  }
  rewrite_for(out, start, Place::kColumn);
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
  append_word_misc(out, doc, row);
  const auto& morphemes = doc.word_morphemes[row];
  if (!morphemes.empty()) {
    if (out.size() != misc_start) out += '|';
    out += "Morphemes=";
    for (std::size_t i = 0; i < morphemes.size(); ++i) {
      if (i) out += ',';
      out += pooled(strings, morphemes[i]);
    }
  }
  finish_misc_column(out, misc_start);
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
    append_for(out, comment, Place::kComment);
    out += '\n';
  }
  if (!has_sent_id) {
    out += "# sent_id = ";
    const std::uint32_t sent_id = doc.sentence_sent_id[sentence];
    if (sent_id != kNoString) {
      append_for(out, pooled(strings, sent_id), Place::kComment);
    } else {
      append_int(out, sentence);
    }
    out += '\n';
  }
  const std::uint32_t text_id = doc.sentence_text[sentence];
  if (!has_text && text_id != kNoString && !pooled(strings, text_id).empty()) {
    out += "# text = ";
    append_for(out, pooled(strings, text_id), Place::kTextLine);
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
      const std::size_t misc_start = out.size();
      append_token_misc(out, optional_pooled(strings, doc.token_misc[t]),
                        pooled(strings, doc.token_spaces_before[t]),
                        pooled(strings, doc.token_spaces_after[t]));
      finish_misc_column(out, misc_start);
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
