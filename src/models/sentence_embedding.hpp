#pragma once

// Input rows of many sentences for a highway BiLSTM encoder, as the tagger and the parser build
// them. A model with a character model of its own runs it once over the words of every sentence
// (one batched run instead of one per sentence) and gives each sentence its slice of those rows.
// The first sentence that fails ends the work: the sentences before it keep their rows, and its
// failure is handed back so that the caller can finish them before raising it.

#include <ATen/ATen.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <utility>
#include <vector>

namespace velmora::detail {

/// The input rows [rows_i, D] of the leading sentences that embed (undefined for a sentence
/// without words), and the failure of the next one (null when all did).
struct EmbeddedSentences {
  std::vector<at::Tensor> rows;
  std::exception_ptr failure;
};

/// Embeds `sentences` (each a container with empty()). With `own_characters`, for every non-empty
/// sentence s, `character_ids(s)` returns the character ids of each of its character-model rows
/// (all of them, or it throws), and `character_rows(ids)` runs the character model over the ids of
/// every sentence at once: [rows, width]. `embed(s, characters)` returns [1, rows_s, D] for the
/// non-empty sentence s, given its slice of those rows (null without `own_characters`).
template <class Sentence, class CharacterIds, class CharacterRows, class Embed>
EmbeddedSentences embed_sentences(std::span<const Sentence> sentences, bool own_characters,
                                  CharacterIds&& character_ids, CharacterRows&& character_rows, Embed&& embed) {
  EmbeddedSentences embedded;
  std::size_t end = sentences.size();  // sentences from here on are not embedded
  std::vector<std::vector<std::int64_t>> ids;
  std::vector<std::int64_t> first_row(sentences.size() + 1, 0);  // sentence s owns [first_row[s], first_row[s + 1])
  if (own_characters) {
    for (std::size_t s = 0; s < end; ++s) {
      try {
        if (!sentences[s].empty()) {
          for (auto& word : character_ids(s)) ids.push_back(std::move(word));
        }
      } catch (...) {
        embedded.failure = std::current_exception();
        end = s;
      }
      first_row[s + 1] = static_cast<std::int64_t>(ids.size());
    }
  }
  const at::Tensor characters = ids.empty() ? at::Tensor() : character_rows(ids);
  embedded.rows.reserve(end);
  for (std::size_t s = 0; s < end; ++s) {
    if (sentences[s].empty()) {
      embedded.rows.emplace_back();
      continue;
    }
    try {
      const at::Tensor slice =
          characters.defined() ? characters.narrow(0, first_row[s], first_row[s + 1] - first_row[s]) : at::Tensor();
      embedded.rows.push_back(embed(s, characters.defined() ? &slice : nullptr).squeeze(0));
    } catch (...) {
      // An earlier sentence's failure comes first.
      embedded.failure = std::current_exception();
      break;
    }
  }
  return embedded;
}

}  // namespace velmora::detail
