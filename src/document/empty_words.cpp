// Empty words (ids N.M): added by the build from the input records, and generated later by
// the coreference resolver, which drops its earlier ones before each run.

#include <algorithm>
#include <stdexcept>

#include "velmora/document_storage.hpp"

namespace velmora {

DocumentStorage::Row DocumentStorage::add_empty_word(unsigned int sentence, WordInput word) {
  if (sentence >= sentence_empty_words.size()) {
    throw std::out_of_range("an empty word has an invalid sentence");
  }
  if (word.id < 0 || !word.empty_index || *word.empty_index < 1 || word.text.empty()) {
    throw std::invalid_argument(
        "an empty word requires a nonnegative ID, positive empty index, and non-empty text; got "
        "id=" +
        std::to_string(word.id) + ", empty_index=" +
        (word.empty_index ? std::to_string(*word.empty_index) : std::string("none")) +
        ", text_size=" + std::to_string(word.text.size()));
  }
  auto& rows = sentence_empty_words[sentence];
  for (const Row r : rows) {
    if (word_id[r] == word.id && word_empty_index[r] == *word.empty_index) {
      throw std::invalid_argument("an empty word ID is duplicated within a sentence");
    }
  }
  const auto row = static_cast<Row>(word_text.size());
  append_word(sentence, kNoRow, word, *word.empty_index);
  rows.push_back(row);
  return row;
}

void DocumentStorage::reset_generated_empty_words() {
  const std::uint64_t n = input_word_count;
  if (word_text.size() <= n) return;
  const auto keep = static_cast<std::size_t>(n);
  word_sentence.resize(keep);
  word_token.resize(keep);
  word_id.resize(keep);
  word_empty_index.resize(keep);
  word_text.resize(keep);
  word_lemma.resize(keep);
  word_upos.resize(keep);
  word_xpos.resize(keep);
  word_feats.resize(keep);
  word_head.resize(keep);
  word_deprel.resize(keep);
  word_deps.resize(keep);
  word_misc.resize(keep);
  word_start_char.resize(keep);
  word_end_char.resize(keep);
  word_manual_expansion.resize(keep);
  word_morphemes.resize(keep);
  word_coref.resize(keep);
  for (auto& rows : sentence_empty_words) {
    rows.erase(std::remove_if(rows.begin(), rows.end(), [n](Row r) { return r >= n; }), rows.end());
  }
}

}  // namespace velmora
