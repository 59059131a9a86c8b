#pragma once

// A stack of bidirectional one-layer LSTMs with a highway connection around each layer, as the
// part-of-speech tagger and the dependency parser use it as their sentence encoder. Each layer
// computes
//
//   output = BiLSTM(x) + sigmoid(gate(x)) * tanh(highway(x))
//
// with the gate and highway reading the layer's input (no carry term, no dropout). A sentence is
// run alone as a batch of one, or many sentences are sorted by length and cut into groups under
// a grouping policy; each group runs without padding (its sentences' rows stacked) when the
// layers are prepared float32 LSTMs, else padded through the tensor library's packed sequences.
// Nothing here starts parallel work of its own beyond what the prepared LSTM does.

#include <ATen/ATen.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "models/inference_lstm.hpp"

namespace velmora::detail {

/// The weights of one layer; every tensor is a view of the model's bundle.
struct HighwayLstmLayer {
  /// weight_ih, weight_hh, bias_ih, bias_hh of the forward direction, then of the reverse one.
  std::vector<at::Tensor> lstm_weights;
  /// Initial hidden state, then initial cell state, each [2, 1, H] (forward direction first).
  std::vector<at::Tensor> initial_state;
  at::Tensor highway_weight;  // [2H, input width]
  at::Tensor highway_bias;    // [2H]
  at::Tensor gate_weight;     // [2H, input width]
  at::Tensor gate_bias;       // [2H]
  /// The same LSTM prepared for fast float32 inference (a copy of the weights); null when the
  /// weights are not float32 matrices of an LSTM, and then the tensor library's LSTM runs them.
  std::shared_ptr<const InferenceLstm> prepared;
};

/// An InferenceLstm of `layers` layers over `parameters` (at::lstm order) when they are float32
/// weights of a fitting shape; null otherwise.
std::shared_ptr<const InferenceLstm> prepare_inference_lstm(const std::vector<at::Tensor>& parameters,
                                                            bool bidirectional, int layers = 1);

/// The twelve bundle names of layer `layer` of a stack stored under `prefix` (for example
/// "taggerlstm"), in this order: the LSTM's prefix + ".lstm." + layer + ".lstm.weight_ih_l0",
/// "weight_hh_l0", "bias_ih_l0", "bias_hh_l0" and the same four with "_reverse"; then
/// prefix + ".highway." + layer + ".weight" and ".bias"; then prefix + ".gate." + layer + ".weight"
/// and ".bias".
std::vector<std::string> highway_lstm_layer_names(std::string_view prefix, std::int64_t layer);

/// The layers of a stack stored under `prefix`: layer i reads highway_lstm_layer_names(prefix, i)
/// and rows 2i and 2i + 1 of prefix + "_h_init" and prefix + "_c_init" ([2 * layers, 1, H]).
/// `weight(name)` returns the bound tensor of a full name (and raises the model's error for an
/// absent one).
template <class WeightLookup>
std::vector<HighwayLstmLayer> bind_highway_lstm_layers(WeightLookup&& weight, std::string_view prefix,
                                                       std::int64_t layers) {
  const std::string stem(prefix);
  const at::Tensor& h_init = weight(stem + "_h_init");
  const at::Tensor& c_init = weight(stem + "_c_init");
  std::vector<HighwayLstmLayer> result;
  result.reserve(static_cast<std::size_t>(layers));
  for (std::int64_t i = 0; i < layers; ++i) {
    const std::vector<std::string> names = highway_lstm_layer_names(prefix, i);
    HighwayLstmLayer layer;
    layer.lstm_weights.reserve(8);
    for (std::size_t k = 0; k < 8; ++k) layer.lstm_weights.push_back(weight(names[k]));
    layer.initial_state = {h_init.narrow(0, 2 * i, 2), c_init.narrow(0, 2 * i, 2)};
    layer.highway_weight = weight(names[8]);
    layer.highway_bias = weight(names[9]);
    layer.gate_weight = weight(names[10]);
    layer.gate_bias = weight(names[11]);
    layer.prepared = prepare_inference_lstm(layer.lstm_weights, /*bidirectional=*/true);
    result.push_back(std::move(layer));
  }
  return result;
}

/// How sentences sorted longest first are cut into groups: a group of b sentences padded to
/// the length L of its first one is taken while b <= max_sequences and b * L <= max_padded_rows;
/// a group always holds at least one sentence, however long.
struct HighwayGrouping {
  std::int64_t max_sequences = std::numeric_limits<std::int64_t>::max();
  std::int64_t max_padded_rows = std::numeric_limits<std::int64_t>::max();
};

/// The groups of the sequences with a positive length: their indices stable-sorted by length,
/// longest first (equal lengths keep input order), cut by `grouping`. Zero lengths are skipped.
std::vector<std::vector<std::size_t>> group_by_length(const std::vector<std::int64_t>& lengths,
                                                      const HighwayGrouping& grouping);

/// One sentence: `input` [1, n, D] -> [1, n, 2H]. The caller has entered inference mode.
at::Tensor highway_lstm_forward(const std::vector<HighwayLstmLayer>& layers, at::Tensor input);

/// Many sentences: `inputs[i]` is [n_i, D], or undefined for a sentence to skip; returns
/// [n_i, 2H] at index i (undefined where the input was; rows of a group may share storage).
/// Each sentence's rows equal those of highway_lstm_forward up to the rounding of batched kernels.
std::vector<at::Tensor> highway_lstm_forward_packed(const std::vector<HighwayLstmLayer>& layers,
                                                    const std::vector<at::Tensor>& inputs,
                                                    const HighwayGrouping& grouping);

}  // namespace velmora::detail
