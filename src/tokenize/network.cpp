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

// The second LSTM's input: out scaled per position by 1 - sigmoid((-tok) * hier_invtemp).
at::Tensor gated(const Plan& state, const at::Tensor& out, const at::Tensor& heads) {
  at::Tensor result = at::empty_like(out);
  const std::int64_t positions = heads.size(0);
  const std::int64_t heads_width = heads.size(1);
  const std::int64_t width = out.size(2);
  const auto inverse_temperature = static_cast<float>(state.hier_invtemp);
  const float* tok = heads.const_data_ptr<float>();
  const float* source = out.const_data_ptr<float>();
  float* target = result.mutable_data_ptr<float>();
  for (std::int64_t p = 0; p < positions; ++p) {
    const float gate = 1.0F - 1.0F / (1.0F + std::exp(-(-tok[p * heads_width] * inverse_temperature)));
    for (std::int64_t c = 0; c < width; ++c) target[p * width + c] = source[p * width + c] * gate;
  }
  return result;
}

// Each stage's classifier scores [positions, K]: the rows of `out` times `weights` [2H, K], plus
// `bias` when given. K is 2 or 3, too narrow for a matrix library call to pay off.
at::Tensor head_scores(const at::Tensor& out, const at::Tensor& weights, const at::Tensor& bias) {
  const std::int64_t width = weights.size(0);
  const std::int64_t heads = weights.size(1);
  const std::int64_t positions = out.numel() / width;
  at::Tensor scores = bias.defined() ? bias.repeat({positions, 1}) : at::zeros({positions, heads}, at::kFloat);
  const float* source = out.const_data_ptr<float>();
  const float* weight = weights.const_data_ptr<float>();
  float* target = scores.mutable_data_ptr<float>();
  for (std::int64_t p = 0; p < positions; ++p, source += width, target += heads) {
    for (std::int64_t c = 0; c < width; ++c) {
      for (std::int64_t k = 0; k < heads; ++k) target[k] += source[c] * weight[c * heads + k];
    }
  }
  return scores;
}

// The network over ids [B, n] and features [B, n, F]: labels [B, n]. With `lengths` (one per row)
// each row's recurrences stop at its own length, as over packed sequences. The classifier heads
// of each stage are scored together (columns tok, sent, mwt); they, the gate, the log-sigmoid
// scores and their argmax run over raw rows.
at::Tensor network_labels(const Plan& state, const at::Tensor& ids, const at::Tensor& features,
                          std::span<const std::int64_t> lengths) {
  const at::Tensor out = state.rnn(network_input(state, ids, features), lengths, state.initial_state);
  const std::int64_t positions = ids.numel();
  const at::Tensor first = head_scores(out, state.head_weights, state.head_bias);
  const at::Tensor second_input = state.hier_invtemp > 0.0 ? gated(state, out, first) : out;
  const at::Tensor out2 = state.rnn2(second_input, lengths, state.initial_state);
  const at::Tensor second = head_scores(out2, state.second_head_weights, at::Tensor());

  at::Tensor labels = at::empty({ids.size(0), ids.size(1)}, at::kLong);
  const std::int64_t heads = first.size(1);
  const float* first_data = first.const_data_ptr<float>();
  const float* second_data = second.const_data_ptr<float>();
  std::int64_t* label = labels.mutable_data_ptr<std::int64_t>();
  for (std::int64_t p = 0; p < positions; ++p) {
    const float tok = first_data[p * heads] + second_data[p * heads];
    const float sent = first_data[p * heads + 1] + second_data[p * heads + 1];
    const float no_token = log_sigmoid(-tok);
    const float token = log_sigmoid(tok);
    const float no_sentence = log_sigmoid(-sent);
    const float sentence = log_sigmoid(sent);
    float scores[5];
    int count = 3;
    if (state.use_mwt) {
      const float mwt = first_data[p * heads + 2] + second_data[p * heads + 2];
      const float single = log_sigmoid(-mwt);
      const float multi = log_sigmoid(mwt);
      scores[0] = no_token;
      scores[1] = token + no_sentence + single;
      scores[2] = token + sentence + single;
      scores[3] = token + no_sentence + multi;
      scores[4] = token + sentence + multi;
      count = 5;
    } else {
      scores[0] = no_token;
      scores[1] = token + no_sentence;
      scores[2] = token + sentence;
    }
    label[p] = std::max_element(scores, scores + count) - scores;  // the lowest label wins a tie
  }
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
