// The tagger's sentence encoder: the shared highway BiLSTM stack over the tagger's input rows,
// one sentence alone or many in length-sorted packed batches.

#include "pos/model_state.hpp"

namespace velmora::detail {

HighwayGrouping pos_grouping(const POSModel& state) {
  return HighwayGrouping{state.batch_size, state.batch_maximum_tokens};
}

at::Tensor pos_highway_lstm_forward(const POSModel& state, const std::vector<std::string>& words,
                                    const at::Tensor* forward, const at::Tensor* backward) {
  return highway_lstm_forward(state.layers, pos_embed_words(state, words, forward, backward)).squeeze(0);
}

std::vector<at::Tensor> pos_highway_lstm_forward_batch(const POSModel& state,
                                                       const std::vector<std::vector<std::string>>& sentences,
                                                       const std::vector<at::Tensor>* forward,
                                                       const std::vector<at::Tensor>* backward) {
  // Every sentence is embedded before any batch runs; the character model runs over the words
  // of all sentences at once, which gives its recurrence rows enough for every worker.
  const at::Tensor characters = pos_character_rows(state, sentences);
  std::vector<at::Tensor> inputs(sentences.size());
  std::int64_t first_word = 0;
  for (std::size_t i = 0; i < sentences.size(); ++i) {
    if (sentences[i].empty()) continue;
    const bool precomputed = state.uses_charlm && forward != nullptr && backward != nullptr;
    const auto count = static_cast<std::int64_t>(sentences[i].size());
    const at::Tensor sentence_characters =
        characters.defined() ? characters.narrow(0, first_word, count) : at::Tensor();
    first_word += count;
    inputs[i] = pos_embed_words(state, sentences[i], precomputed ? &forward->at(i) : nullptr,
                                precomputed ? &backward->at(i) : nullptr,
                                characters.defined() ? &sentence_characters : nullptr)
                    .squeeze(0);
  }
  return highway_lstm_forward_packed(state.layers, inputs, pos_grouping(state));
}

}  // namespace velmora::detail
