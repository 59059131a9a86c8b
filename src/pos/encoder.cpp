// The tagger's sentence encoder: the shared highway BiLSTM stack over the tagger's input rows,
// one sentence alone or many in length-sorted groups.

#include <stdexcept>

#include "pos/model_state.hpp"

namespace velmora::detail {

HighwayGrouping pos_grouping(const POSModel& state) {
  return HighwayGrouping{state.batch_size, state.batch_maximum_tokens};
}

at::Tensor pos_highway_lstm_forward(const POSModel& state, const std::vector<std::string>& words,
                                    const at::Tensor* forward, const at::Tensor* backward) {
  return highway_lstm_forward(state.layers, pos_embed_words(state, words, forward, backward)).squeeze(0);
}

EmbeddedSentences pos_embed_sentences(const POSModel& state, std::span<const std::vector<std::string>> sentences,
                                      std::span<const at::Tensor> forward, std::span<const at::Tensor> backward) {
  const bool precomputed = state.uses_charlm && !forward.empty() && !backward.empty();
  if (precomputed && (forward.size() < sentences.size() || backward.size() < sentences.size())) {
    throw std::out_of_range("POS: character language model rows are missing");
  }
  const auto character_ids = [&](std::size_t s) { return pos_sentence_character_ids(state, sentences[s]); };
  const auto character_rows = [&](const std::vector<std::vector<std::int64_t>>& ids) {
    return pos_character_rows(state, ids);
  };
  const auto embed = [&](std::size_t s, const at::Tensor* characters) {
    return pos_embed_words(state, sentences[s], precomputed ? &forward[s] : nullptr,
                           precomputed ? &backward[s] : nullptr, characters);
  };
  // The character model runs once over the words of every sentence.
  return embed_sentences(sentences, !state.uses_charlm, character_ids, character_rows, embed);
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
  EmbeddedSentences embedded = pos_embed_sentences(state, sentences, rows(forward), rows(backward));
  if (embedded.failure) std::rethrow_exception(embedded.failure);
  return highway_lstm_forward_packed(state.layers, embedded.rows, pos_grouping(state));
}

}  // namespace velmora::detail
