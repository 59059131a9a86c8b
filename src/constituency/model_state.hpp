#pragma once

// The loaded constituency model, built once by the plan's constructor and only read afterwards.

#include <ATen/ATen.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "models/inference_lstm.hpp"
#include "models/row_products.hpp"
#include "models/small_lstm.hpp"
#include "models/string_hash.hpp"
#include "velmora/constituency.hpp"

namespace velmora {

namespace detail {
class NativeCharLM;
class NativeTransformer;
}  // namespace detail

/// One entry of the bundle's transition table; its position in the table is its index
/// everywhere (score index, row of the transition embedding).
struct ConstituencyTransition {
  enum Kind : std::int32_t { Shift = 0, Close = 1, Open = 2 };
  std::int32_t kind = Shift;
  /// Open only: the labels of the constituent it opens, outermost first.
  std::vector<std::string> labels;
  /// Open only: the row of the dummy embedding used as the open marker's vector; -1 otherwise.
  std::int64_t open_index = -1;
};

struct ConstituencyPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  detail::StringMap<at::Tensor> tensors;  // every tensor of the bundle
  detail::StringMap<std::int64_t> pretrain_vocab;
  detail::StringMap<std::int64_t> delta_words;  // array position + 2
  detail::StringMap<std::int64_t> tags;         // array position + 2
  detail::StringSet root_labels;
  std::vector<ConstituencyTransition> transitions;
  std::unique_ptr<detail::NativeCharLM> forward_charlm;
  std::unique_ptr<detail::NativeCharLM> backward_charlm;
  std::unique_ptr<detail::NativeTransformer> transformer;
  std::vector<at::Tensor> word_lstm_weights;  // at::lstm order, bidirectional
  /// The word LSTM prepared for float32 inference; null for other dtypes or shapes.
  std::shared_ptr<const detail::InferenceLstm> word_lstm;
  std::vector<at::Tensor> transition_stack_weights;
  std::vector<at::Tensor> constituent_stack_weights;
  std::pair<at::Tensor, at::Tensor> word_lstm_state;  // zero (h0, c0)
  std::pair<at::Tensor, at::Tensor> transition_stack_state;
  std::pair<at::Tensor, at::Tensor> constituent_stack_state;
  std::vector<std::pair<at::Tensor, at::Tensor>> output_layers;  // (weight, bias), layer 0 first
  /// The per-transition products prepared for float32 inference on a few rows at a time;
  /// absent for other dtypes, where the tensor operators run.
  std::optional<detail::PreparedLstmStep> transition_step;
  std::optional<detail::PreparedLstmStep> constituent_step;
  std::vector<detail::RowProducts> output_products;  // one per output layer, or none
  std::optional<detail::RowProducts> reduce_product;
  std::int64_t hidden_size = 0;
  std::int64_t transition_hidden_size = 0;
  std::int64_t tag_embedding_dim = 0;
  std::int64_t transition_embedding_dim = 0;
  std::int64_t delta_embedding_dim = 0;
  std::int64_t num_lstm_layers = 0;
  std::int64_t num_output_layers = 0;
  std::int64_t unary_limit = 0;
  bool everything_boundaries = false;
  bool uses_xpos = false;
  bool lower = false;
  bool has_forward_charlm = false;
  bool has_backward_charlm = false;
  bool has_transformer = false;
  bool has_shift = false;
  bool has_close = false;

  Impl();
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  /// The bound tensor of that name; every name the network reads was checked at load time.
  const at::Tensor& weight(std::string_view name) const;
};

}  // namespace velmora
