#include "tokenize/network.hpp"

#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <span>

#include "tokenize/address_repair.hpp"
#include "tokenize/features.hpp"
#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

using Plan = TokenizerPlan::Impl;

std::vector<std::int64_t> unit_ids(const Plan& state, const TokenizerParagraph& units) {
  std::vector<std::int64_t> ids;
  ids.reserve(units.size());
  for (const auto& unit : units) {
    const auto found = state.unit_to_id.find(unit.text);
    ids.push_back(found == state.unit_to_id.end() ? state.unk_id : found->second);
  }
  return ids;
}

// A view over a caller-owned buffer; the buffer outlives every use of the tensor.
at::Tensor view_of(void* data, at::IntArrayRef shape, at::ScalarType type) {
  return at::from_blob(data, shape, at::TensorOptions().dtype(type));
}

// log(sigmoid(x)) as the tensor library computes it: min(x, 0) - log1p(exp(-|x|)).
float log_sigmoid(float x) { return std::min(x, 0.0F) - std::log1p(std::exp(-std::abs(x))); }

// x = [embedding of the id | the unit's features] for every position: [B, n, E + F].
at::Tensor network_input(const Plan& state, const at::Tensor& ids, const at::Tensor& features) {
  const at::Tensor embeddings = state.weight("embeddings.weight").contiguous();
  const std::int64_t positions = ids.numel();
  const std::int64_t embedding_width = embeddings.size(1);
  const std::int64_t feature_width = features.size(2);
  const std::int64_t width = embedding_width + feature_width;
  at::Tensor x = at::empty({ids.size(0), ids.size(1), width}, at::kFloat);
  const std::int64_t* id = ids.const_data_ptr<std::int64_t>();
  const float* table = embeddings.const_data_ptr<float>();
  const float* feature = features.const_data_ptr<float>();
  float* row = x.mutable_data_ptr<float>();
  for (std::int64_t p = 0; p < positions; ++p, row += width) {
    std::copy_n(table + id[p] * embedding_width, embedding_width, row);
    std::copy_n(feature + p * feature_width, feature_width, row + embedding_width);
  }
  return x;
}

// The positions a pass must compute: all of them, or each row's first lengths[row].
template <class Visit>
void for_each_valid_position(std::int64_t rows, std::int64_t steps, std::span<const std::int64_t> lengths,
                             const Visit& visit) {
  for (std::int64_t row = 0; row < rows; ++row) {
    const std::int64_t valid = lengths.empty() ? steps : lengths[static_cast<std::size_t>(row)];
    for (std::int64_t p = row * steps; p < row * steps + valid; ++p) visit(p);
  }
}

// x·w over `width` floats, in eight independent partial sums so that it vectorizes.
float dot(const float* x, const float* w, std::int64_t width) {
  constexpr std::int64_t kLanes = 8;
  float partial[kLanes] = {};
  std::int64_t c = 0;
  for (; c + kLanes <= width; c += kLanes) {
    for (std::int64_t l = 0; l < kLanes; ++l) partial[l] += x[c + l] * w[c + l];
  }
  float sum = 0.0F;
  for (; c < width; ++c) sum += x[c] * w[c];
  for (const float value : partial) sum += value;
  return sum;
}

// The network over ids [B, n] and features [B, n, F]: labels [B, n]. With `lengths` (one per row)
// each row's recurrences stop at its own length, as over packed sequences, and padded positions
// are skipped (their labels are 0 and never read). The classifier heads of each stage are
// scored together (rows tok, sent, mwt of `head_weights`); they, the gate, the log-sigmoid
// scores and their argmax run over raw rows.
at::Tensor network_labels(const Plan& state, const at::Tensor& ids, const at::Tensor& features,
                          std::span<const std::int64_t> lengths) {
  const std::int64_t rows = ids.size(0);
  const std::int64_t steps = ids.size(1);
  const std::int64_t heads = state.head_weights.size(0);
  const std::int64_t width = state.head_weights.size(1);
  const float* head_weights = state.head_weights.const_data_ptr<float>();
  const float* head_bias = state.head_bias.const_data_ptr<float>();
  const float* second_head_weights = state.second_head_weights.const_data_ptr<float>();

  const at::Tensor out = state.rnn(network_input(state, ids, features), lengths, state.initial_state);
  TORCH_CHECK(out.size(2) == width, "tokenizer classifier width does not match the LSTM output");
  const float* out_data = out.const_data_ptr<float>();
  std::vector<float> scores(static_cast<std::size_t>(rows * steps * heads), 0.0F);
  for_each_valid_position(rows, steps, lengths, [&](std::int64_t p) {
    for (std::int64_t k = 0; k < heads; ++k) {
      scores[p * heads + k] = dot(out_data + p * width, head_weights + k * width, width) + head_bias[k];
    }
  });

  // The second LSTM reads out scaled per position by 1 - sigmoid((-tok) * hier_invtemp).
  at::Tensor second_input = out;
  if (state.hier_invtemp > 0.0) {
    second_input = at::empty_like(out);  // padded positions are never read: each row runs to its length
    const auto inverse_temperature = static_cast<float>(state.hier_invtemp);
    float* target = second_input.mutable_data_ptr<float>();
    for_each_valid_position(rows, steps, lengths, [&](std::int64_t p) {
      const float gate = 1.0F - 1.0F / (1.0F + std::exp(-(-scores[p * heads] * inverse_temperature)));
      for (std::int64_t c = 0; c < width; ++c) target[p * width + c] = out_data[p * width + c] * gate;
    });
  }
  const at::Tensor out2 = state.rnn2(second_input, lengths, state.initial_state);
  const float* out2_data = out2.const_data_ptr<float>();

  at::Tensor labels = at::zeros({rows, steps}, at::kLong);
  std::int64_t* label = labels.mutable_data_ptr<std::int64_t>();
  for_each_valid_position(rows, steps, lengths, [&](std::int64_t p) {
    float* stage = scores.data() + p * heads;
    for (std::int64_t k = 0; k < heads; ++k) stage[k] += dot(out2_data + p * width, second_head_weights + k * width, width);
    const float no_token = log_sigmoid(-stage[0]);
    const float token = log_sigmoid(stage[0]);
    const float no_sentence = log_sigmoid(-stage[1]);
    const float sentence = log_sigmoid(stage[1]);
    float label_scores[5];
    int count = 3;
    if (state.use_mwt) {
      const float single = log_sigmoid(-stage[2]);
      const float multi = log_sigmoid(stage[2]);
      label_scores[0] = no_token;
      label_scores[1] = token + no_sentence + single;
      label_scores[2] = token + sentence + single;
      label_scores[3] = token + no_sentence + multi;
      label_scores[4] = token + sentence + multi;
      count = 5;
    } else {
      label_scores[0] = no_token;
      label_scores[1] = token + no_sentence;
      label_scores[2] = token + sentence;
    }
    label[p] = std::max_element(label_scores, label_scores + count) - label_scores;  // lowest label wins a tie
  });
  return labels;
}

at::Tensor feature_view(std::vector<float>& features, std::size_t first_row, std::int64_t batch, std::int64_t rows,
                        std::int64_t width) {
  if (width == 0) return at::zeros({batch, rows, 0}, at::kFloat);
  return view_of(features.data() + first_row * static_cast<std::size_t>(width), {batch, rows, width}, at::kFloat);
}

// The last unit ends a sentence; then addresses are made whole.
void finish_paragraph(const TokenizerParagraph& units, std::vector<std::int64_t>& labels) {
  std::int64_t& last = labels.back();
  if (last == 0 || last == 1) last = 2;
  if (last == 3) last = 4;
  repair_address_labels(units, labels);
}

}  // namespace

std::vector<std::int64_t> tokenizer_predict_labels(const Plan& state, const TokenizerParagraph& units) {
  const std::size_t n = units.size();
  std::vector<std::int64_t> labels;
  if (n == 0) return labels;
  labels.reserve(n);
  std::vector<float> features = tokenizer_unit_features(state, units);
  std::vector<std::int64_t> ids = unit_ids(state, units);

  std::size_t start = 0;
  while (start < n) {
    const std::size_t length = std::min(n - start, kTokenizerWindow);
    if (length == 0) throw TokenizerModelError("invalid tokenizer inference window");
    const auto window = static_cast<std::int64_t>(length);
    std::vector<std::int64_t> window_labels(length);
    {
      c10::InferenceMode guard;
      const at::Tensor id_view = view_of(ids.data() + start, {1, window}, at::kLong);
      const at::Tensor feature_rows = feature_view(features, start, 1, window, state.feat_dim);
      const at::Tensor result =
          network_labels(state, id_view, feature_rows, {}).reshape({window}).contiguous();
      std::copy_n(result.data_ptr<std::int64_t>(), length, window_labels.begin());
    }
    std::size_t keep = length;
    if (start + length < n) {
      const auto last_end = std::find_if(window_labels.rbegin(), window_labels.rend(),
                                         [](std::int64_t label) { return label == 2 || label == 4; });
      if (last_end != window_labels.rend()) keep = static_cast<std::size_t>(window_labels.rend() - last_end);
    }
    labels.insert(labels.end(), window_labels.begin(), window_labels.begin() + static_cast<std::ptrdiff_t>(keep));
    start += keep;
  }
  finish_paragraph(units, labels);
  return labels;
}

std::vector<std::vector<std::int64_t>> tokenizer_predict_labels_batched(
    const Plan& state, const std::vector<const TokenizerParagraph*>& paragraphs) {
  const std::size_t count = paragraphs.size();
  std::vector<std::vector<std::int64_t>> results(count);
  if (count == 0) return results;

  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return paragraphs[a]->size() > paragraphs[b]->size();
  });

  const std::size_t longest = paragraphs[order[0]]->size();
  const auto width = static_cast<std::size_t>(state.feat_dim);
  std::vector<std::int64_t> ids(count * longest, state.pad_id);
  std::vector<float> features(count * longest * width, 0.0F);
  std::vector<std::int64_t> lengths(count);
  for (std::size_t row = 0; row < count; ++row) {
    const TokenizerParagraph& units = *paragraphs[order[row]];
    lengths[row] = static_cast<std::int64_t>(units.size());
    const std::vector<std::int64_t> row_ids = unit_ids(state, units);
    std::copy(row_ids.begin(), row_ids.end(), ids.begin() + static_cast<std::ptrdiff_t>(row * longest));
    const std::vector<float> row_features = tokenizer_unit_features(state, units);
    std::copy(row_features.begin(), row_features.end(),
              features.begin() + static_cast<std::ptrdiff_t>(row * longest * width));
  }

  {
    c10::InferenceMode guard;
    const auto rows = static_cast<std::int64_t>(count);
    const auto columns = static_cast<std::int64_t>(longest);
    const at::Tensor id_view = view_of(ids.data(), {rows, columns}, at::kLong);
    const at::Tensor feature_rows = feature_view(features, 0, rows, columns, state.feat_dim);
    const at::Tensor labels = network_labels(state, id_view, feature_rows, lengths).contiguous();
    const std::int64_t* data = labels.data_ptr<std::int64_t>();
    for (std::size_t row = 0; row < count; ++row) {
      const std::int64_t* first = data + row * longest;
      results[order[row]].assign(first, first + lengths[row]);
    }
  }
  for (std::size_t k = 0; k < count; ++k) finish_paragraph(*paragraphs[k], results[k]);
  return results;
}

}  // namespace velmora::detail
