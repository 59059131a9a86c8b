// The sentiment network's forward pass over one padded batch: word vectors, optional BiLSTM,
// convolution filters with max pooling, fully connected layers.

#include "sentiment/network.hpp"

#include <algorithm>
#include <optional>
#include <string_view>

#include "velmora/unicode.hpp"

namespace velmora::detail {
namespace {

using State = SentimentPlan::Impl;
using Batch = std::vector<const SentimentWords*>;

// The vectors were trained with multi-word entries whose spaces are no-break spaces.
constexpr std::string_view kNoBreakSpace = "\xC2\xA0";

std::optional<std::int64_t> pretrain_lookup(const State& state, std::string_view text) {
  std::string key = state.lower ? unicode_lower(text) : std::string(text);
  for (std::size_t at = key.find(' '); at != std::string::npos; at = key.find(' ', at + kNoBreakSpace.size())) {
    key.replace(at, 1, kNoBreakSpace);
  }
  const auto found = state.pretrain_ids.find(key);
  if (found == state.pretrain_ids.end()) return std::nullopt;
  return found->second;
}

std::int64_t extra_id(const State& state, const std::string& word) {
  const auto found = state.extra_ids.find(word);
  return found == state.extra_ids.end() ? kSentimentUnknownId : found->second;
}

// Ids are filled in plain buffers that the tensors only view; the buffers outlive every use.
at::Tensor view_of(std::vector<std::int64_t>& ids, std::int64_t sentences, std::int64_t length) {
  return at::from_blob(ids.data(), {sentences, length}, at::TensorOptions().dtype(at::kLong));
}

// Per-sentence rows [n, width] placed at the start of each sentence's slot in [B, T, width];
// later positions stay zero.
at::Tensor padded_rows(const std::vector<at::Tensor>& rows, std::int64_t length, std::int64_t width,
                       const at::TensorOptions& options) {
  at::Tensor piece = at::zeros({static_cast<std::int64_t>(rows.size()), length, width}, options);
  for (std::size_t b = 0; b < rows.size(); ++b) {
    if (rows[b].size(0) == 0) continue;
    piece.select(0, static_cast<std::int64_t>(b)).narrow(0, 0, rows[b].size(0)).copy_(rows[b]);
  }
  return piece;
}

at::Tensor charlm_piece(const State& state, const NativeCharLM& model, std::string_view projection,
                        const std::vector<SentimentWords>& sentences, std::int64_t length,
                        const at::TensorOptions& options) {
  std::vector<at::Tensor> rows = model.encode_many(sentences);
  if (state.charlm_projection < 1) return padded_rows(rows, length, model.hidden_size(), options);
  // One projection over the words of all sentences, then back to per-sentence rows.
  const at::Tensor projected = at::linear(at::cat(rows, 0), state.weight(std::string(projection) + ".weight"),
                                          state.weight(std::string(projection) + ".bias"));
  std::int64_t start = 0;
  for (at::Tensor& sentence : rows) {
    const std::int64_t count = sentence.size(0);
    sentence = projected.narrow(0, start, count);
    start += count;
  }
  return padded_rows(rows, length, state.charlm_projection, options);
}

at::Tensor transformer_piece(const State& state, const Batch& batch, std::int64_t length,
                             const at::TensorOptions& options) {
  std::vector<at::Tensor> rows;
  rows.reserve(batch.size());
  for (const SentimentWords* words : batch) rows.push_back(state.transformer->encode(*words, /*keep_endpoints=*/false));
  return padded_rows(rows, length, state.transformer->hidden_size(), options);
}

// [B, T, W]: the input row of every position, padding included.
at::Tensor word_vectors(const State& state, const Batch& batch, std::int64_t length) {
  const at::Tensor& embedding = state.weight("embedding.weight");
  const at::TensorOptions options = embedding.options();
  const auto sentences = static_cast<std::int64_t>(batch.size());
  const bool has_extra = state.extra_method != "NONE";
  std::vector<std::int64_t> pretrain(static_cast<std::size_t>(sentences * length), kSentimentPadId);
  std::vector<std::int64_t> extra(has_extra ? pretrain.size() : 0, kSentimentPadId);
  for (std::int64_t b = 0; b < sentences; ++b) {
    const SentimentWords& words = *batch[static_cast<std::size_t>(b)];
    for (std::size_t t = 0; t < words.size(); ++t) {
      const std::size_t slot = static_cast<std::size_t>(b * length) + t;
      pretrain[slot] = sentiment_pretrain_id(state, words[t]);
      if (has_extra) extra[slot] = extra_id(state, words[t]);
    }
  }
  const at::Tensor pretrain_ids = view_of(pretrain, sentences, length);
  // Unknown words take the trained "unk" vector rather than row 1 of the table.
  const at::Tensor& unknown = state.weight("unk");
  const at::Tensor unknown_mask = pretrain_ids.eq(kSentimentUnknownId).unsqueeze(2);
  std::vector<at::Tensor> pieces{
      at::where(unknown_mask, unknown.view({1, 1, -1}), at::embedding(embedding, pretrain_ids))};
  if (has_extra) {
    at::Tensor extra_vectors = at::embedding(state.weight("extra_embedding.weight"), view_of(extra, sentences, length));
    if (state.extra_method == "SUM") {
      pieces.front() = pieces.front() + extra_vectors;
    } else {
      pieces.push_back(std::move(extra_vectors));
    }
  }
  if (state.charlm_forward || state.charlm_backward) {
    std::vector<SentimentWords> copies;
    copies.reserve(batch.size());
    for (const SentimentWords* words : batch) copies.push_back(*words);
    if (state.charlm_forward) {
      pieces.push_back(
          charlm_piece(state, *state.charlm_forward, "charmodel_forward_projection", copies, length, options));
    }
    if (state.charlm_backward) {
      pieces.push_back(
          charlm_piece(state, *state.charlm_backward, "charmodel_backward_projection", copies, length, options));
    }
  }
  if (state.transformer) pieces.push_back(transformer_piece(state, batch, length, options));
  return pieces.size() == 1 ? pieces.front() : at::cat(pieces, 2);
}

// [B, F / maxpool_width]: one filter rectified and max-pooled over every position and over
// groups of maxpool_width adjacent features; trailing features that fill no group are dropped.
//
// The filter is a convolution with stride 1 along the words and its width across the row (the
// whole row for a full-width filter, which then has a single tile). It is computed as one matrix
// product of the rows with every word offset of the kernel, then a sum of the products shifted
// by their offsets: the same values as the convolution, without the library's convolution
// kernels, which spend most of their time reordering such long, flat kernels.
at::Tensor pooled_filter(const State& state, const at::Tensor& rows, std::size_t index) {
  const ConvFilter& filter = state.filters[index];
  const std::string prefix = "conv_layers." + std::to_string(index);
  const at::Tensor& weight = state.weight(prefix + ".weight");  // [C, 1, height, width]
  const std::int64_t sentences = rows.size(0);
  const std::int64_t length = rows.size(1);
  const std::int64_t width = filter.width.value_or(rows.size(2));
  const std::int64_t tiles = rows.size(2) / width;
  const std::int64_t channels = weight.size(0);
  const std::int64_t positions = length - filter.height + 1;
  // [height * C, width]: the kernel row of every word offset, offset-major.
  const at::Tensor kernel = weight.reshape({channels, filter.height, width}).transpose(0, 1).reshape({-1, width});
  const at::Tensor products = at::matmul(rows.reshape({sentences, length, tiles, width}), kernel.t())
                                  .view({sentences, length, tiles, filter.height, channels});
  at::Tensor convolved = products.narrow(1, 0, positions).select(3, 0) + state.weight(prefix + ".bias");
  for (std::int64_t offset = 1; offset < filter.height; ++offset) {
    convolved.add_(products.narrow(1, offset, positions).select(3, offset));
  }
  // [B, L, F] with feature index = channel * tiles + tile.
  const at::Tensor features = at::relu(convolved.transpose(2, 3).reshape({sentences, positions, channels * tiles}));
  const std::int64_t groups = channels * tiles / state.maxpool_width;
  return features.narrow(2, 0, groups * state.maxpool_width)
      .reshape({sentences, positions, groups, state.maxpool_width})
      .amax({1, 3});
}

}  // namespace

std::int64_t sentiment_pretrain_id(const State& state, const std::string& word) {
  if (std::optional<std::int64_t> id = pretrain_lookup(state, word)) return *id;
  if (word.size() >= 2 && word.back() == '\'') {
    if (std::optional<std::int64_t> id = pretrain_lookup(state, std::string_view(word).substr(0, word.size() - 1))) {
      return *id;
    }
  }
  if (std::optional<std::int64_t> id = pretrain_lookup(state, unicode_lower(word))) return *id;
  return kSentimentUnknownId;
}

std::int64_t sentiment_padded_length(const State& state, const Batch& batch) {
  std::int64_t length = std::max(state.min_sentence_length, state.tallest_filter);
  for (const SentimentWords* words : batch) length = std::max(length, static_cast<std::int64_t>(words->size()));
  return length;
}

at::Tensor sentiment_logits(const State& state, const Batch& batch) {
  return sentiment_logits(state, batch, sentiment_padded_length(state, batch));
}

at::Tensor sentiment_logits(const State& state, const Batch& batch, std::int64_t length) {
  if (batch.empty()) return at::zeros({0, state.num_classes}, state.weight("embedding.weight").options());
  at::Tensor rows = word_vectors(state, batch, length);
  if (state.bilstm) {
    // Padding runs through the recurrence like words: the model was trained that way.
    if (state.prepared_lstm && rows.scalar_type() == at::kFloat) {
      rows = (*state.prepared_lstm)(rows);
    } else {
      const at::Tensor zeros = at::zeros({4, rows.size(0), state.bilstm_hidden_dim}, rows.options());
      rows = std::get<0>(at::lstm(rows, {zeros, zeros}, state.lstm_weights, /*has_biases=*/true, /*num_layers=*/2,
                                  /*dropout=*/0.2, /*train=*/false, /*bidirectional=*/true, /*batch_first=*/true));
    }
  }
  std::vector<at::Tensor> pooled;
  pooled.reserve(state.filters.size());
  for (std::size_t i = 0; i < state.filters.size(); ++i) pooled.push_back(pooled_filter(state, rows, i));
  at::Tensor hidden = at::cat(pooled, 1);
  for (std::int64_t i = 0; i < state.num_fc_layers; ++i) {
    const std::string prefix = "fc_layers." + std::to_string(i);
    hidden = at::linear(hidden, state.weight(prefix + ".weight"), state.weight(prefix + ".bias"));
    if (i + 1 < state.num_fc_layers) hidden = at::relu(hidden);
  }
  return hidden;
}

}  // namespace velmora::detail
