#pragma once

// The character language model that taggers and parsers embed as a word feature: a character
// embedding and a unidirectional LSTM that reads a sentence forwards or backwards, giving each
// word the LSTM output at the separator that follows it in reading order.

#include <ATen/ATen.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "models/inference_lstm.hpp"
#include "models/string_hash.hpp"
#include "velmora/json.hpp"

namespace velmora {
class ModelBundle;
}

namespace velmora::detail {

class NativeCharLM {
 public:
  /// Reads the model's assets and binds its tensors, named `tensor_prefix` followed by the
  /// tensor name, from `bundle`. Refusals are CharLMModelError; JSON errors pass unchanged.
  NativeCharLM(std::shared_ptr<const ModelBundle> bundle, std::string tensor_prefix, const JsonValue& assets);
  ~NativeCharLM();
  NativeCharLM(const NativeCharLM&) = delete;
  NativeCharLM& operator=(const NativeCharLM&) = delete;

  bool is_forward() const noexcept { return forward_; }
  std::int64_t hidden_size() const noexcept { return hidden_dim_; }

  /// One row per word, [words, hidden], in the embedding's dtype.
  at::Tensor encode(const std::vector<std::string>& words) const;
  /// encode() of every sentence, batched; results in input order.
  std::vector<at::Tensor> encode_many(const std::vector<std::vector<std::string>>& sentences) const;

 private:
  struct Ids {
    std::vector<std::int64_t> ids;
    std::vector<std::int64_t> positions;
  };
  Ids sentence_ids(const std::vector<std::string>& words) const;
  std::int64_t unit_id(const std::string& unit, std::int64_t unknown_id) const;
  at::Tensor empty_rows() const;
  std::vector<at::Tensor> encode_many_prepared(const std::vector<Ids>& encoded) const;
  /// lstm_ over the packed steps `ids`, `lengths` steps per sentence: the outputs of the steps
  /// `kept`, [kept.size(), hidden].
  at::Tensor run_prepared(const std::vector<std::int64_t>& ids, std::span<const std::int64_t> lengths,
                          const std::vector<std::int64_t>& kept) const;

  std::shared_ptr<const ModelBundle> bundle_;
  std::string tensor_prefix_;
  std::vector<at::Tensor> lstm_weights_;
  /// The LSTM prepared for float32 inference; null for other dtypes, which the tensor library's
  /// LSTM runs.
  std::unique_ptr<const InferenceLstm> lstm_;
  /// The first layer's input projection of every character, [vocabulary, projection width],
  /// when lstm_ is set and the table is small: the steps read their projections from it.
  at::Tensor projection_table_;
  StringMap<std::int64_t> unit_to_id_;
  at::Tensor char_embedding_;
  at::Tensor h_init_;
  at::Tensor c_init_;
  std::int64_t hidden_dim_ = 0;
  std::int64_t num_layers_ = 0;
  bool forward_ = true;
  std::int64_t start_id_ = 0;
  std::int64_t separator_id_ = 0;
  std::int64_t unknown_id_ = 1;
};

}  // namespace velmora::detail
