#pragma once

// The loaded tokenizer model, built once by the plan's constructor and only read afterwards.

#include <ATen/ATen.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "models/inference_lstm.hpp"
#include "models/string_hash.hpp"
#include "velmora/tokenizer.hpp"

namespace velmora {

class ModelBundle;

struct TokenizerPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  detail::StringMap<std::int64_t> unit_to_id;
  detail::StringMap<at::Tensor> tensors;  // every tensor of the bundle, float32 views
  std::vector<at::Tensor> rnn_parameters;   // first LSTM, in at::lstm order
  std::vector<at::Tensor> rnn2_parameters;  // second (hierarchical) LSTM
  std::vector<at::Tensor> initial_state;    // zero hidden and cell states [2, 1, hidden_dim]
  detail::InferenceLstm rnn;                // the first LSTM, prepared for inference
  detail::InferenceLstm rnn2;               // the second LSTM, prepared for inference
  at::Tensor unit_projections;              // [V, rnn.projection_width()]: embedding rows · first-layer W_ih
  at::Tensor feature_projections;           // [F, rnn.projection_width()]: the feature columns of W_ih
  at::Tensor head_weights;                  // [K, 2H]: tok_clf, sent_clf (, mwt_clf) weights
  at::Tensor head_bias;                     // [K]: their biases
  at::Tensor second_head_weights;           // [K, 2H]: tok_clf2, sent_clf2 (, mwt_clf2) weights
  detail::StringSet lexicon_words;          // lexicon entries of at least two units
  detail::StringSet lexicon_prefixes;       // their proper prefixes, cut at unit boundaries
  detail::StringSet lexicon_suffixes;       // their proper suffixes
  std::vector<std::string> feat_funcs;
  std::int64_t pad_id = 0;
  std::int64_t unk_id = 0;
  std::int64_t emb_dim = 0;
  std::int64_t hidden_dim = 0;
  std::int64_t feat_dim = 0;
  std::int64_t rnn_layers = 0;
  std::int64_t num_dict_feat = 0;
  std::int64_t batch_size = 32;
  bool hierarchical = false;
  bool use_mwt = false;
  bool use_dictionary = false;
  bool skip_newline = false;
  double hier_invtemp = 0.0;
  std::string shorthand;
  std::string lang;

  /// The bound tensor of that name; a name that is not bound fails with TokenizerModelError.
  const at::Tensor& weight(std::string_view name) const;
};

}  // namespace velmora
