#include "models/word_character_model.hpp"

#include <c10/core/InferenceMode.h>

#include <algorithm>

#include "models/highway_lstm.hpp"

namespace velmora::detail {
namespace {

// The largest projection table kept (64 MB); alphabets are far smaller.
constexpr std::int64_t kProjectionTableFloats = std::int64_t{1} << 24;

bool is_float(const at::Tensor& tensor) { return tensor.scalar_type() == at::kFloat; }

// The attention-weighted sum of a word's LSTM outputs [L, C] (or [words, L, C] with zero rows
// past each word's end, which add nothing): independent sigmoid weights, not a softmax.
at::Tensor attend(const WordCharacterModel& model, const at::Tensor& hidden) {
  return (hidden * at::sigmoid(at::linear(hidden, model.attention))).sum(-2);
}

// Word by word through the tensor library's LSTM.
at::Tensor encode_each(const WordCharacterModel& model, const std::vector<std::vector<std::int64_t>>& words) {
  std::vector<at::Tensor> rows;
  rows.reserve(words.size());
  for (const std::vector<std::int64_t>& ids : words) {
    const at::Tensor id_row =
        at::from_blob(const_cast<std::int64_t*>(ids.data()), {1, static_cast<std::int64_t>(ids.size())}, at::kLong);
    const at::Tensor hidden =
        std::get<0>(at::lstm(at::embedding(model.embedding, id_row), model.initial_state, model.lstm_weights,
                             /*has_biases=*/true, /*num_layers=*/1, /*dropout=*/0.0, /*train=*/false,
                             /*bidirectional=*/false, /*batch_first=*/true));
    rows.push_back(attend(model, hidden.squeeze(0)));
  }
  return at::stack(rows, 0);
}

// Every character of every word, word after word: [characters, projection width].
at::Tensor projections(const WordCharacterModel& model, const std::vector<std::int64_t>& ids) {
  const auto steps = static_cast<std::int64_t>(ids.size());
  if (!model.projection_table.defined()) {
    const at::Tensor id_tensor = at::from_blob(const_cast<std::int64_t*>(ids.data()), {steps}, at::kLong);
    return at::mm(at::embedding(model.embedding, id_tensor), model.lstm->first_layer_input_weights());
  }
  const std::int64_t characters = model.projection_table.size(0);
  const std::int64_t width = model.projection_table.size(1);
  at::Tensor gathered = at::empty({steps, width}, at::kFloat);
  const float* table = model.projection_table.const_data_ptr<float>();
  float* target = gathered.mutable_data_ptr<float>();
  for (const std::int64_t id : ids) {
    TORCH_CHECK_INDEX(id >= 0 && id < characters, "index out of range in self");
    std::copy_n(table + id * width, width, target);
    target += width;
  }
  return gathered;
}

}  // namespace

void prepare_word_character_model(WordCharacterModel& model) {
  model.lstm = nullptr;
  model.projection_table = at::Tensor();
  const bool float32 = is_float(model.embedding) && is_float(model.attention) &&
                       std::all_of(model.initial_state.begin(), model.initial_state.end(), is_float);
  if (!float32) return;
  model.lstm = prepare_inference_lstm(model.lstm_weights, /*bidirectional=*/false);
  if (!model.lstm || model.embedding.dim() != 2 || model.embedding.size(1) != model.lstm->input_size()) {
    model.lstm = nullptr;
    return;
  }
  if (model.embedding.size(0) * model.lstm->projection_width() <= kProjectionTableFloats) {
    c10::InferenceMode guard;
    model.projection_table = at::mm(model.embedding, model.lstm->first_layer_input_weights());
  }
}

at::Tensor encode_character_words(const WordCharacterModel& model, const std::vector<std::vector<std::int64_t>>& words) {
  if (!model.lstm) return encode_each(model, words);
  // Every word is its own sequence from the same initial state: one run over all of them, the
  // steps packed word after word.
  std::vector<std::int64_t> ids;
  std::vector<std::int64_t> lengths;
  lengths.reserve(words.size());
  for (const std::vector<std::int64_t>& word : words) {
    ids.insert(ids.end(), word.begin(), word.end());
    lengths.push_back(static_cast<std::int64_t>(word.size()));
  }
  if (words.empty()) return at::empty({0, model.lstm->hidden_size()}, at::kFloat);
  const at::Tensor hidden = model.lstm->run_projected(projections(model, ids), lengths, model.initial_state);
  const at::Tensor weighted = hidden * at::sigmoid(at::linear(hidden, model.attention));
  // Each word's rows summed in order.
  const std::int64_t width = weighted.size(1);
  at::Tensor sums = at::zeros({static_cast<std::int64_t>(words.size()), width}, at::kFloat);
  const float* row = weighted.const_data_ptr<float>();
  float* sum = sums.mutable_data_ptr<float>();
  for (const std::int64_t length : lengths) {
    for (std::int64_t step = 0; step < length; ++step, row += width) {
      for (std::int64_t k = 0; k < width; ++k) sum[k] += row[k];
    }
    sum += width;
  }
  return sums;
}

}  // namespace velmora::detail
