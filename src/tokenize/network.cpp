#include "tokenize/network.hpp"

#include <c10/core/InferenceMode.h>

#include <algorithm>
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

// The network over ids [B, n] and features [B, n, F]: labels [B, n]. With `lengths` (one per row,
// non-increasing) each row's recurrences stop at its own length, as over packed sequences.
at::Tensor network_labels(const Plan& state, const at::Tensor& ids, const at::Tensor& features,
                          std::span<const std::int64_t> lengths) {
  const at::Tensor emb = at::embedding(state.weight("embeddings.weight"), ids, state.pad_id);
  const at::Tensor x = at::cat({emb, features}, -1);
  const at::Tensor out = state.rnn(x, lengths, state.initial_state);

  at::Tensor tok = at::linear(out, state.weight("tok_clf.weight"), state.weight("tok_clf.bias"));
  at::Tensor sent = at::linear(out, state.weight("sent_clf.weight"), state.weight("sent_clf.bias"));
  at::Tensor mwt;
  if (state.use_mwt) mwt = at::linear(out, state.weight("mwt_clf.weight"), state.weight("mwt_clf.bias"));

  at::Tensor second_input = out;
  if (state.hier_invtemp > 0.0) {
    const at::Tensor gate = at::rsub(at::sigmoid(at::mul(at::neg(tok), state.hier_invtemp)), 1);
    second_input = at::mul(out, gate);
  }
  const at::Tensor out2 = state.rnn2(second_input, lengths, state.initial_state);

  tok = at::add(tok, at::linear(out2, state.weight("tok_clf2.weight")));
  sent = at::add(sent, at::linear(out2, state.weight("sent_clf2.weight")));
  if (state.use_mwt) mwt = at::add(mwt, at::linear(out2, state.weight("mwt_clf2.weight")));

  const at::Tensor no_token = at::log_sigmoid(at::neg(tok));
  const at::Tensor token = at::log_sigmoid(tok);
  const at::Tensor no_sentence = at::log_sigmoid(at::neg(sent));
  const at::Tensor sentence = at::log_sigmoid(sent);
  at::Tensor scores;
  if (state.use_mwt) {
    const at::Tensor single = at::log_sigmoid(at::neg(mwt));
    const at::Tensor multi = at::log_sigmoid(mwt);
    scores = at::cat({no_token, token + no_sentence + single, token + sentence + single, token + no_sentence + multi,
                      token + sentence + multi},
                     -1);
  } else {
    scores = at::cat({no_token, token + no_sentence, token + sentence}, -1);
  }
  return at::argmax(scores, -1);
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
