#include "models/highway_lstm.hpp"

#include <algorithm>
#include <numeric>
#include <span>
#include <tuple>

namespace velmora::detail {
namespace {

bool all_float(const std::vector<at::Tensor>& tensors) {
  for (const at::Tensor& tensor : tensors) {
    if (tensor.scalar_type() != at::kFloat) return false;
  }
  return true;
}

// The prepared LSTM when it can take this input and these initial states.
const InferenceLstm* fast_lstm(const HighwayLstmLayer& layer, const at::Tensor& input) {
  if (!layer.prepared || input.scalar_type() != at::kFloat || !all_float(layer.initial_state)) return nullptr;
  return layer.prepared.get();
}

// The highway term of a layer, read from the layer's input.
at::Tensor highway_term(const HighwayLstmLayer& layer, const at::Tensor& input) {
  const at::Tensor gate = at::sigmoid(at::linear(input, layer.gate_weight, layer.gate_bias));
  return gate * at::tanh(at::linear(input, layer.highway_weight, layer.highway_bias));
}

// One group of sentences, longest first, padded into `padded` [b, L, D].
at::Tensor run_group(const std::vector<HighwayLstmLayer>& layers, at::Tensor padded, const at::Tensor& lengths) {
  const std::int64_t batch = padded.size(0);
  const std::int64_t steps = padded.size(1);
  const std::span<const std::int64_t> row_lengths(lengths.const_data_ptr<std::int64_t>(),
                                                  static_cast<std::size_t>(batch));
  for (const HighwayLstmLayer& layer : layers) {
    if (const InferenceLstm* lstm = fast_lstm(layer, padded)) {
      // Outputs past each row's length are zero, as unpacking fills them.
      const at::Tensor outputs = (*lstm)(padded, row_lengths, layer.initial_state);
      padded = outputs + highway_term(layer, padded);
      continue;
    }
    auto [data, batch_sizes] = at::_pack_padded_sequence(padded, lengths, /*batch_first=*/true);
    std::vector<at::Tensor> states;
    states.reserve(layer.initial_state.size());
    for (const at::Tensor& state : layer.initial_state) {
      states.push_back(state.expand({state.size(0), batch, state.size(2)}).contiguous());
    }
    const at::Tensor packed = std::get<0>(at::lstm(data, batch_sizes, states, layer.lstm_weights, /*has_biases=*/true,
                                                   /*num_layers=*/1, /*dropout=*/0.0, /*train=*/false,
                                                   /*bidirectional=*/true));
    const at::Tensor outputs =
        std::get<0>(at::_pad_packed_sequence(packed, batch_sizes, /*batch_first=*/true, 0.0, steps));
    // The highway term sees the padding too; those rows are cut off by the caller.
    padded = outputs + highway_term(layer, padded);
  }
  return padded;
}

// Every layer prepared for this input: the whole stack then runs on packed rows.
bool all_prepared(const std::vector<HighwayLstmLayer>& layers, const at::Tensor& input) {
  return std::all_of(layers.begin(), layers.end(),
                     [&](const HighwayLstmLayer& layer) { return fast_lstm(layer, input) != nullptr; });
}

// One group of sentences as packed rows [N, D] (`lengths` rows per sentence, in order).
at::Tensor run_group_packed(const std::vector<HighwayLstmLayer>& layers, at::Tensor packed,
                            std::span<const std::int64_t> lengths) {
  for (const HighwayLstmLayer& layer : layers) {
    const at::Tensor outputs = layer.prepared->run_packed(packed, lengths, layer.initial_state);
    packed = outputs + highway_term(layer, packed);
  }
  return packed;
}

}  // namespace

std::vector<std::string> highway_lstm_layer_names(std::string_view prefix, std::int64_t layer) {
  static constexpr std::string_view kLstmWeights[] = {
      "weight_ih_l0",         "weight_hh_l0",         "bias_ih_l0",         "bias_hh_l0",
      "weight_ih_l0_reverse", "weight_hh_l0_reverse", "bias_ih_l0_reverse", "bias_hh_l0_reverse"};
  const std::string stem(prefix);
  const std::string index = std::to_string(layer);
  std::vector<std::string> names;
  names.reserve(12);
  for (std::string_view name : kLstmWeights) names.push_back(stem + ".lstm." + index + ".lstm." + std::string(name));
  for (std::string_view part : {".highway.", ".gate."}) {
    names.push_back(stem + std::string(part) + index + ".weight");
    names.push_back(stem + std::string(part) + index + ".bias");
  }
  return names;
}

std::shared_ptr<const InferenceLstm> prepare_inference_lstm(const std::vector<at::Tensor>& parameters,
                                                            bool bidirectional, int layers) {
  if (!all_float(parameters)) return nullptr;
  try {
    return std::make_shared<const InferenceLstm>(parameters, layers, bidirectional);
  } catch (const c10::Error&) {
    return nullptr;  // shapes that do not fit fail in the tensor library's LSTM, where they are used
  }
}

std::vector<std::vector<std::size_t>> group_by_length(const std::vector<std::int64_t>& lengths,
                                                      const HighwayGrouping& grouping) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    if (lengths[i] > 0) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return lengths[a] > lengths[b]; });
  std::vector<std::vector<std::size_t>> groups;
  for (std::size_t start = 0; start < order.size();) {
    const std::int64_t longest = lengths[order[start]];
    std::size_t count = 0;
    while (start + count < order.size()) {
      const auto next = static_cast<std::int64_t>(count + 1);
      // next * longest is compared by division so that huge budgets cannot overflow.
      if (next > grouping.max_sequences || next > grouping.max_padded_rows / longest) break;
      ++count;
    }
    count = std::max<std::size_t>(count, 1);
    groups.emplace_back(order.begin() + static_cast<std::ptrdiff_t>(start),
                        order.begin() + static_cast<std::ptrdiff_t>(start + count));
    start += count;
  }
  return groups;
}

at::Tensor highway_lstm_forward(const std::vector<HighwayLstmLayer>& layers, at::Tensor input) {
  for (const HighwayLstmLayer& layer : layers) {
    if (const InferenceLstm* lstm = fast_lstm(layer, input)) {
      const at::Tensor outputs = (*lstm)(input, {}, layer.initial_state);
      input = outputs + highway_term(layer, input);
      continue;
    }
    const at::Tensor outputs =
        std::get<0>(at::lstm(input, layer.initial_state, layer.lstm_weights, /*has_biases=*/true, /*num_layers=*/1,
                             /*dropout=*/0.0, /*train=*/false, /*bidirectional=*/true, /*batch_first=*/true));
    input = outputs + highway_term(layer, input);
  }
  return input;
}

std::vector<at::Tensor> highway_lstm_forward_packed(const std::vector<HighwayLstmLayer>& layers,
                                                    const std::vector<at::Tensor>& inputs,
                                                    const HighwayGrouping& grouping) {
  std::vector<std::int64_t> lengths(inputs.size(), 0);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (inputs[i].defined()) lengths[i] = inputs[i].size(0);
  }
  std::vector<at::Tensor> results(inputs.size());
  for (const std::vector<std::size_t>& group : group_by_length(lengths, grouping)) {
    const at::Tensor& first = inputs[group.front()];
    std::vector<at::Tensor> rows;
    std::vector<std::int64_t> group_lengths;
    rows.reserve(group.size());
    group_lengths.reserve(group.size());
    for (const std::size_t index : group) {
      rows.push_back(inputs[index]);
      group_lengths.push_back(lengths[index]);
    }
    if (all_prepared(layers, first)) {
      // The sentences' rows stacked without padding; each layer reads and writes them so.
      const at::Tensor encoded = run_group_packed(layers, at::cat(rows, 0), group_lengths);
      std::int64_t offset = 0;
      for (const std::size_t index : group) {
        results[index] = encoded.narrow(0, offset, lengths[index]);
        offset += lengths[index];
      }
      continue;
    }
    const std::int64_t steps = first.size(0);
    const auto batch = static_cast<std::int64_t>(group.size());
    at::Tensor padded = at::zeros({batch, steps, first.size(1)}, first.options());
    for (std::size_t j = 0; j < group.size(); ++j) {
      padded[static_cast<std::int64_t>(j)].narrow(0, 0, group_lengths[j]).copy_(rows[j]);
    }
    const at::Tensor encoded = run_group(layers, std::move(padded), at::tensor(group_lengths, at::kLong));
    for (std::int64_t j = 0; j < batch; ++j) {
      const std::size_t index = group[static_cast<std::size_t>(j)];
      results[index] = encoded[j].narrow(0, 0, lengths[index]).contiguous();
    }
  }
  return results;
}

}  // namespace velmora::detail
