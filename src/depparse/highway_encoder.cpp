// The parser's sentence encoder: input rows through the shared highway BiLSTM stack, one
// sentence alone or many in padded groups under the row budget.

#include <c10/core/InferenceMode.h>

#include "depparse/model_state.hpp"
#include "depparse/parallel_sentences.hpp"

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

std::vector<at::Tensor> depparse_highway_lstm_forward_batch(const DepparseModel& model,
                                                            const std::vector<std::vector<DepparseWord>>& sentences,
                                                            const std::vector<at::Tensor>& forward_charlm_rows,
                                                            const std::vector<at::Tensor>& backward_charlm_rows) {
  // Every sentence is embedded before any group runs, so a bad word stops the call early.
  // Sentences are embedded side by side: the character model runs word by word.
  std::vector<at::Tensor> inputs(sentences.size());
  rethrow_first_failure(for_each_sentence(sentences.size(), [&](std::size_t i) {
    if (sentences[i].empty()) return;
    c10::InferenceMode inference;
    const at::Tensor* forward = model.charlm ? &forward_charlm_rows.at(i) : nullptr;
    const at::Tensor* backward = model.charlm ? &backward_charlm_rows.at(i) : nullptr;
    inputs[i] = depparse_embed_words(model, sentences[i], forward, backward).squeeze(0);
  }));
  std::vector<at::Tensor> encoded = highway_lstm_forward_packed(model.layers, inputs, depparse_grouping(model));
  for (at::Tensor& rows : encoded) {
    if (rows.defined()) rows = rows.unsqueeze(0);
  }
  return encoded;
}

}  // namespace velmora::detail
