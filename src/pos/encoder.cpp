// The tagger's sentence encoder: the shared highway BiLSTM stack over the tagger's input rows,
// one sentence alone or many in length-sorted groups.

#include <stdexcept>

#include "models/word_keys.hpp"
#include "pos/model_state.hpp"

namespace velmora::detail {

HighwayGrouping pos_grouping(const POSModel& state) {
  return HighwayGrouping{state.batch_size, state.batch_maximum_tokens};
}

at::Tensor pos_highway_lstm_forward(const POSModel& state, const std::vector<std::string>& words,
                                    const at::Tensor* forward, const at::Tensor* backward) {
  return highway_lstm_forward(state.layers, pos_embed_words(state, words, forward, backward)).squeeze(0);
}

POSEmbeddedSentences pos_embed_sentences(const POSModel& state, std::span<const std::vector<std::string>> sentences,
                                         std::span<const at::Tensor> forward, std::span<const at::Tensor> backward) {
  const bool precomputed = state.uses_charlm && !forward.empty() && !backward.empty();
  if (precomputed && (forward.size() < sentences.size() || backward.size() < sentences.size())) {
    throw std::out_of_range("POS: character language model rows are missing");
  }
  POSEmbeddedSentences embedded;
  std::size_t end = sentences.size();  // sentences from here on are not embedded
  // The character model runs once over the words of every sentence.
  std::vector<std::vector<std::int64_t>> character_ids;
  std::vector<std::int64_t> first_word(sentences.size(), 0);
  if (!state.uses_charlm) {
    for (std::size_t s = 0; s < end; ++s) {
      first_word[s] = static_cast<std::int64_t>(character_ids.size());
      try {
        std::vector<std::vector<std::int64_t>> ids;
        for (const std::string& word : sentences[s]) ids.push_back(pos_character_ids(state, fold_punctuation(word)));
        for (auto& word : ids) character_ids.push_back(std::move(word));
      } catch (...) {
        embedded.failure = std::current_exception();
        end = s;
      }
    }
  }
  const at::Tensor characters =
      character_ids.empty()
          ? at::Tensor()
          : at::linear(encode_character_words(state.char_model, character_ids), pos_tensor(state, "trans_char.weight"));
  embedded.rows.reserve(end);
  for (std::size_t s = 0; s < end; ++s) {
    if (sentences[s].empty()) {
      embedded.rows.emplace_back();
      continue;
    }
    try {
      const at::Tensor sentence_characters =
          characters.defined() ? characters.narrow(0, first_word[s], static_cast<std::int64_t>(sentences[s].size()))
                               : at::Tensor();
      embedded.rows.push_back(pos_embed_words(state, sentences[s], precomputed ? &forward[s] : nullptr,
                                              precomputed ? &backward[s] : nullptr,
                                              characters.defined() ? &sentence_characters : nullptr)
                                  .squeeze(0));
    } catch (...) {
      // An earlier sentence's failure comes first.
      embedded.failure = std::current_exception();
      break;
    }
  }
  return embedded;
}

std::vector<at::Tensor> pos_highway_lstm_forward_batch(const POSModel& state,
                                                       const std::vector<std::vector<std::string>>& sentences,
                                                       const std::vector<at::Tensor>* forward,
                                                       const std::vector<at::Tensor>* backward) {
  // Every sentence is embedded before any batch runs.
  const bool precomputed = forward != nullptr && backward != nullptr;
  const auto rows = [&](const std::vector<at::Tensor>* given) {
    return precomputed ? std::span<const at::Tensor>(*given) : std::span<const at::Tensor>();
  };
  POSEmbeddedSentences embedded = pos_embed_sentences(state, sentences, rows(forward), rows(backward));
  if (embedded.failure) std::rethrow_exception(embedded.failure);
  return highway_lstm_forward_packed(state.layers, embedded.rows, pos_grouping(state));
}

}  // namespace velmora::detail
