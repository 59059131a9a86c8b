// The parser's sentence encoder: input rows through the shared highway BiLSTM stack, one
// sentence alone or many in groups under the row budget.

#include <c10/core/InferenceMode.h>

#include <stdexcept>

#include "depparse/model_state.hpp"

namespace velmora::detail {

HighwayGrouping depparse_grouping(const DepparseModel& model) {
  HighwayGrouping grouping;
  grouping.max_padded_rows = model.batch_size;
  return grouping;
}

at::Tensor depparse_highway_lstm_forward(const DepparseModel& model, const std::vector<DepparseWord>& words,
                                         const at::Tensor* forward_charlm_rows,
                                         const at::Tensor* backward_charlm_rows) {
  return highway_lstm_forward(model.layers,
                              depparse_embed_words(model, words, forward_charlm_rows, backward_charlm_rows));
}

EmbeddedSentences depparse_embed_sentences(const DepparseModel& model,
                                           std::span<const std::vector<DepparseWord>> sentences,
                                           std::span<const at::Tensor> forward_charlm_rows,
                                           std::span<const at::Tensor> backward_charlm_rows) {
  if (model.charlm && (forward_charlm_rows.size() < sentences.size() || backward_charlm_rows.size() < sentences.size())) {
    throw std::out_of_range("depparse: character language model rows are missing");
  }
  const auto character_ids = [&](std::size_t s) { return depparse_sentence_character_ids(model, sentences[s]); };
  const auto character_rows = [&](const std::vector<std::vector<std::int64_t>>& ids) {
    return depparse_character_rows(model, ids);
  };
  const auto embed = [&](std::size_t s, const at::Tensor* characters) {
    return depparse_embed_words(model, sentences[s], model.charlm ? &forward_charlm_rows[s] : nullptr,
                                model.charlm ? &backward_charlm_rows[s] : nullptr, characters);
  };
  // The parser's own character model runs once over the words of every sentence.
  return embed_sentences(sentences, !model.charlm, character_ids, character_rows, embed);
}

std::vector<at::Tensor> depparse_highway_lstm_forward_batch(const DepparseModel& model,
                                                            const std::vector<std::vector<DepparseWord>>& sentences,
                                                            const std::vector<at::Tensor>& forward_charlm_rows,
                                                            const std::vector<at::Tensor>& backward_charlm_rows) {
  // Every sentence is embedded before any group runs, so a bad word stops the call early.
  c10::InferenceMode inference;
  EmbeddedSentences embedded = depparse_embed_sentences(model, sentences, forward_charlm_rows, backward_charlm_rows);
  if (embedded.failure) std::rethrow_exception(embedded.failure);
  std::vector<at::Tensor> encoded = highway_lstm_forward_packed(model.layers, embedded.rows, depparse_grouping(model));
  for (at::Tensor& rows : encoded) {
    if (rows.defined()) rows = rows.unsqueeze(0);
  }
  return encoded;
}

}  // namespace velmora::detail
