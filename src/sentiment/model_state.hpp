#pragma once

// The loaded sentiment classifier, built once by the plan's constructor and only read afterwards.

#include <ATen/ATen.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encoders/charlm_native.hpp"
#include "encoders/transformer_native.hpp"
#include "models/inference_lstm.hpp"
#include "models/string_hash.hpp"
#include "velmora/sentiment.hpp"

namespace velmora {

class ModelBundle;

namespace detail {

/// The ids of "<PAD>" and "<UNK>" in the pretrain vocabulary; a word missing from the extra
/// vocabulary also takes row 1 of its table.
inline constexpr std::int64_t kSentimentPadId = 0;
inline constexpr std::int64_t kSentimentUnknownId = 1;

/// One convolution filter: it spans `height` consecutive words and either the whole input row
/// (no width) or tiles of `width` columns.
struct ConvFilter {
  std::int64_t height = 0;
  std::optional<std::int64_t> width;
};

}  // namespace detail

struct SentimentPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  detail::StringMap<at::Tensor> tensors;  // every tensor of the bundle, zero-copy views
  detail::StringMap<std::int64_t> pretrain_ids;
  detail::StringMap<std::int64_t> extra_ids;
  std::vector<std::string> labels;  // class names, validated but never returned
  std::vector<detail::ConvFilter> filters;
  std::vector<at::Tensor> lstm_weights;  // at::lstm order; empty without the BiLSTM
  /// The BiLSTM prepared for float32 inference; null without it or for other dtypes, which the
  /// tensor library's LSTM runs.
  std::unique_ptr<const detail::InferenceLstm> prepared_lstm;
  std::string extra_method;              // "SUM", "CONCAT" or "NONE"
  std::int64_t bilstm_hidden_dim = 0;
  std::int64_t maxpool_width = 0;
  std::int64_t num_classes = 0;
  std::int64_t charlm_projection = 0;
  /// Every batch is padded to at least this many words.
  std::int64_t min_sentence_length = 0;
  /// The tallest filter: batches are also padded to it, so every filter fits the padded length.
  std::int64_t tallest_filter = 0;
  std::int64_t num_fc_layers = 0;
  bool lower = false;
  bool bilstm = false;
  bool has_charlm_forward = false;
  bool has_charlm_backward = false;
  bool uses_transformer = false;
  std::unique_ptr<detail::NativeCharLM> charlm_forward;
  std::unique_ptr<detail::NativeCharLM> charlm_backward;
  std::unique_ptr<detail::NativeTransformer> transformer;

  /// The bound tensor of that name; a missing one fails with SentimentModelError.
  const at::Tensor& weight(std::string_view name) const;
};

}  // namespace velmora
