// Expanding a whole document: copy it into input records, expand the marked tokens, renumber
// the words of every sentence and rebuild the storage in place.

#include <algorithm>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <string_view>
#include <tuple>
#include <utility>

#include "models/parallel_units.hpp"
#include "models/sentence_chunks.hpp"
#include "seq2seq/mwt_model.hpp"
#include "velmora/document.hpp"

namespace velmora::detail {
namespace {

constexpr std::string_view kMark = "MWT=Yes";

// Units of parallel work: consecutive marked tokens of about a thirty-second of their bytes, at
// least 256 (some tens of milliseconds of decoding, more than a parallel region costs on a busy
// machine).
constexpr ChunkLimits kTokenUnitLimits{.max_sentences = std::numeric_limits<std::int64_t>::max(),
                                       .max_padded_rows = std::numeric_limits<std::int64_t>::max(),
                                       .target_chunks = 32,
                                       .least_rows = 256,
                                       .most_rows = 4096};

std::optional<std::int32_t> stored_int(std::int32_t value) {
  return value == kNoInt ? std::nullopt : std::optional<std::int32_t>(value);
}

std::optional<std::int32_t> stored_offset(std::uint32_t value) {
  return value == kNoOffset ? std::nullopt : std::optional<std::int32_t>(static_cast<std::int32_t>(value));
}

std::optional<bool> stored_flag(std::int8_t value) {
  return value < 0 ? std::nullopt : std::optional<bool>(value > 0);
}

std::vector<std::string> pooled(const StringPool& pool, const std::vector<std::uint32_t>& ids) {
  std::vector<std::string> texts;
  texts.reserve(ids.size());
  for (const std::uint32_t id : ids) texts.push_back(pool.get(id));
  return texts;
}

WordInput word_record(const DocumentStorage& storage, DocumentStorage::Row row) {
  const StringPool& pool = storage.pool;
  WordInput word;
  word.id = storage.word_id[row];
  word.empty_index = stored_int(storage.word_empty_index[row]);
  word.text = pool.get(storage.word_text[row]);
  word.lemma = pool.optional(storage.word_lemma[row]);
  word.upos = pool.optional(storage.word_upos[row]);
  word.xpos = pool.optional(storage.word_xpos[row]);
  word.feats = pool.optional(storage.word_feats[row]);
  word.head = stored_int(storage.word_head[row]);
  word.deprel = pool.optional(storage.word_deprel[row]);
  word.deps = pool.optional(storage.word_deps[row]);
  word.misc = pool.optional(storage.word_misc[row]);
  word.start_char = stored_offset(storage.word_start_char[row]);
  word.end_char = stored_offset(storage.word_end_char[row]);
  word.manual_expansion = stored_flag(storage.word_manual_expansion[row]);
  word.morphemes = pooled(pool, storage.word_morphemes[row]);
  return word;
}

TokenInput token_record(const DocumentStorage& storage, DocumentStorage::Row row) {
  const StringPool& pool = storage.pool;
  TokenInput token;
  token.id_start = storage.token_id_start[row];
  token.id_end = storage.token_id_end[row];
  token.text = pool.get(storage.token_text[row]);
  token.misc = pool.optional(storage.token_misc[row]);
  token.ner = pool.optional(storage.token_ner[row]);
  token.multi_ner = pooled(pool, storage.token_multi_ner[row]);
  token.start_char = stored_offset(storage.token_start_char[row]);
  token.end_char = stored_offset(storage.token_end_char[row]);
  token.manual_expansion = stored_flag(storage.token_manual_expansion[row]);
  token.spaces_before = pool.get(storage.token_spaces_before[row]);
  token.spaces_after = pool.get(storage.token_spaces_after[row]);
  for (DocumentStorage::Row w = storage.token_first_word[row]; w < storage.token_end_word[row]; ++w) {
    token.words.push_back(word_record(storage, w));
  }
  return token;
}

// The pieces of `text` between separators, empty pieces included.
std::vector<std::string_view> split_at(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  while (true) {
    const std::size_t at = text.find(separator);
    pieces.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    text.remove_prefix(at + 1);
  }
}

bool is_marked(const TokenInput& token) {
  if (!token.misc) return false;
  for (std::string_view entry : split_at(*token.misc, '|')) {
    if (entry == kMark) return true;
  }
  return false;
}

std::optional<std::string> misc_without_mark(const std::string& misc) {
  std::string kept;
  for (std::string_view entry : split_at(misc, '|')) {
    if (entry.empty() || entry == kMark) continue;
    if (!kept.empty()) kept += '|';
    kept += entry;
  }
  return kept.empty() ? std::nullopt : std::optional<std::string>(kept);
}

// The words of an expansion; fewer than two pieces leave the token as its own single word.
std::vector<std::string> expansion_words(const std::string& expansion, const std::string& token_text) {
  std::vector<std::string> words;
  for (std::string_view piece : split_at(expansion, ' ')) {
    if (!piece.empty()) words.emplace_back(piece);
  }
  if (words.size() <= 1) return {token_text};
  return words;
}

void expand_token(TokenInput& token, const std::string& expansion, std::int32_t& last) {
  const std::vector<std::string> words = expansion_words(expansion, token.text);
  token.misc = misc_without_mark(*token.misc);
  const std::int32_t next = last + 1;
  token.words.clear();
  token.id_start = next;
  token.id_end = last + static_cast<std::int32_t>(words.size());
  for (std::size_t k = 0; k < words.size(); ++k) {
    WordInput word;
    word.id = next + static_cast<std::int32_t>(k);
    word.text = words[k];
    if (words.size() == 1) {
      word.start_char = token.start_char;
      word.end_char = token.end_char;
    }
    token.words.push_back(std::move(word));
  }
  last = token.id_end;
}

// A token expanded by hand keeps its words; its ids move so that it follows the word before it.
void keep_manual_expansion(TokenInput& token, std::int32_t& last) {
  const std::int32_t shift = last + 1 - token.id_start;
  token.id_start += shift;
  token.id_end += shift;
  for (WordInput& word : token.words) word.id += shift;
  token.manual_expansion.reset();
  last = token.id_end;
}

// Any other token gets consecutive word ids after the word before it; renumbered words lose
// their relations.
void renumber_token(TokenInput& token, std::int32_t& last) {
  if (token.words.empty()) {
    WordInput word;
    word.text = token.text;
    word.start_char = token.start_char;
    word.end_char = token.end_char;
    token.words.push_back(std::move(word));
  }
  token.id_start = last + 1;
  for (WordInput& word : token.words) {
    word.id = ++last;
    word.head.reset();
    word.deprel.reset();
    word.deps.reset();
  }
  token.id_end = last;
}

// Where the words of a sentence went: each old word id and the new id of the word that took
// its place. An empty word N.M follows word N, so it moves with that word.
class WordIdMoves {
 public:
  // A token's word ids before renumbering, and the token after it. The words of an expanded
  // token are replaced, so each old one maps to the last new word: an empty word that
  // followed the token still follows it. Other tokens keep their words, which pair up.
  void record(const std::vector<std::int32_t>& old_ids, const TokenInput& token, bool expanded) {
    for (std::size_t k = 0; k < old_ids.size(); ++k) {
      moves_[old_ids[k]] = expanded ? token.id_end : token.words[k].id;
    }
  }

  // Gives every empty word the new id of the word it followed: N.M follows the word whose
  // old id is the greatest one not above N, and 0.M stays before the first word. Empty words
  // whose words merged into one expansion would share an id; the later ones take the next
  // free empty index. The records keep their order.
  void apply(std::vector<WordInput>& empty_words) const {
    std::vector<std::size_t> order(empty_words.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return std::tie(empty_words[a].id, empty_words[a].empty_index) <
             std::tie(empty_words[b].id, empty_words[b].empty_index);
    });
    std::set<std::pair<std::int32_t, std::int32_t>> taken;
    for (const std::size_t k : order) {
      WordInput& word = empty_words[k];
      // A record the build refuses anyway is left for it to report.
      if (!word.empty_index) continue;
      const auto after = moves_.upper_bound(word.id);
      if (word.id > 0 && after != moves_.begin()) word.id = std::prev(after)->second;
      while (!taken.emplace(word.id, *word.empty_index).second) ++*word.empty_index;
    }
  }

 private:
  std::map<std::int32_t, std::int32_t> moves_;
};

std::vector<std::int32_t> word_ids(const TokenInput& token) {
  std::vector<std::int32_t> ids;
  ids.reserve(token.words.size());
  for (const WordInput& word : token.words) ids.push_back(word.id);
  return ids;
}

}  // namespace

std::vector<SentenceInput> mwt_rebuild_sentences(const Document& document) {
  const DocumentStorage& storage = *document.storage();
  const StringPool& pool = storage.pool;
  std::vector<SentenceInput> sentences(storage.num_sentences());
  for (std::size_t s = 0; s < sentences.size(); ++s) {
    SentenceInput& sentence = sentences[s];
    sentence.text = pool.optional(storage.sentence_text[s]);
    sentence.sent_id = pool.optional(storage.sentence_sent_id[s]);
    sentence.speaker = pool.optional(storage.sentence_speaker[s]);
    sentence.doc_id = pool.optional(storage.sentence_doc_id[s]);
    sentence.sentiment = stored_int(storage.sentence_sentiment[s]);
    sentence.comments = pooled(pool, storage.sentence_comments[s]);
    for (DocumentStorage::Row t = storage.sentence_token_offsets[s]; t < storage.sentence_token_offsets[s + 1]; ++t) {
      sentence.tokens.push_back(token_record(storage, t));
    }
    for (const DocumentStorage::Row row : storage.sentence_empty_words[s]) {
      sentence.empty_words.push_back(word_record(storage, row));
    }
  }
  return sentences;
}

}  // namespace velmora::detail

namespace velmora {

Document MWTPlan::process(const Document& document) const {
  std::vector<SentenceInput> sentences = detail::mwt_rebuild_sentences(document);
  // The marked tokens are expanded first, consecutive tokens of some tens of characters as one
  // unit: an expansion depends on the token's text alone.
  std::vector<const std::string*> marked;
  std::vector<std::int64_t> characters;
  for (const SentenceInput& sentence : sentences) {
    for (const TokenInput& token : sentence.tokens) {
      if (!detail::is_marked(token)) continue;
      marked.push_back(&token.text);
      characters.push_back(static_cast<std::int64_t>(token.text.size()));
    }
  }
  const std::vector<detail::SentenceChunk> units = detail::chunk_sentences(characters, detail::kTokenUnitLimits);
  std::vector<std::string> expansions(marked.size());
  detail::for_each_unit(units.size(), [&](std::size_t unit) {
    for (std::size_t k = units[unit].begin; k < units[unit].end; ++k) {
      expansions[k] = detail::mwt_expand_token(*impl_, *marked[k]);
    }
  });

  auto expansion = expansions.begin();
  for (SentenceInput& sentence : sentences) {
    detail::WordIdMoves moves;
    std::int32_t last = 0;
    for (TokenInput& token : sentence.tokens) {
      const std::vector<std::int32_t> old_ids = detail::word_ids(token);
      const bool expanded = detail::is_marked(token);
      if (expanded) {
        detail::expand_token(token, *expansion++, last);
      } else if (token.manual_expansion.value_or(false)) {
        detail::keep_manual_expansion(token, last);
      } else {
        detail::renumber_token(token, last);
      }
      moves.record(old_ids, token, expanded);
    }
    moves.apply(sentence.empty_words);
  }
  Document result(document.storage());
  result.storage()->replace(std::move(sentences));
  return result;
}

}  // namespace velmora
