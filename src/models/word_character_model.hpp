#pragma once

// The character model that taggers and parsers run over every word: the word's characters
// embedded, read by a one-layer unidirectional LSTM from a learned initial state, and the LSTM
// outputs summed with independent sigmoid attention weights. Bound from a bundle under
// "charmodel.".

#include <ATen/ATen.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "models/inference_lstm.hpp"
#include "models/lstm_parameters.hpp"

namespace velmora::detail {

struct WordCharacterModel {
  at::Tensor embedding;                   // charmodel.char_emb.weight [characters, E]
  at::Tensor attention;                   // charmodel.char_attn.weight [1, C]
  std::vector<at::Tensor> lstm_weights;   // weight_ih, weight_hh, bias_ih, bias_hh
  std::vector<at::Tensor> initial_state;  // charlstm_h_init, charlstm_c_init, each [1, 1, C]
  /// The LSTM prepared for float32 inference; null for weights it cannot take, which the tensor
  /// library's LSTM then runs word by word.
  std::shared_ptr<const InferenceLstm> lstm;
  /// With the prepared LSTM and a small alphabet: every character's input projection
  /// [characters, projection width], gathered instead of multiplied for each word.
  at::Tensor projection_table;
};

/// Prepares the LSTM and the projection table of a model whose weights are bound.
void prepare_word_character_model(WordCharacterModel& model);

/// The model of a bundle: `weight(name)` returns the bound tensor of a full name and raises the
/// owner's error for an absent one. Shapes are checked where the weights are used.
template <class WeightLookup>
WordCharacterModel bind_word_character_model(WeightLookup&& weight) {
  WordCharacterModel model;
  model.embedding = weight("charmodel.char_emb.weight");
  model.attention = weight("charmodel.char_attn.weight");
  model.lstm_weights = lstm_parameters(weight, "charmodel.charlstm.lstm.", 1, /*bidirectional=*/false);
  model.initial_state = {weight("charmodel.charlstm_h_init"), weight("charmodel.charlstm_c_init")};
  prepare_word_character_model(model);
  return model;
}

/// One row per word, [words, C]: `words` holds each word's character ids (none empty). The
/// caller has entered inference mode.
at::Tensor encode_character_words(const WordCharacterModel& model, const std::vector<std::vector<std::int64_t>>& words);

}  // namespace velmora::detail
