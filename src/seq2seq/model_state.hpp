#pragma once

// The loaded seq2seq model and the pieces of its network: source encoding, encoder pass and
// one decoder step. Built once by the plan's constructor and only read afterwards.

#include <ATen/ATen.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "models/string_hash.hpp"
#include "seq2seq/row_decoder.hpp"
#include "velmora/json.hpp"
#include "velmora/seq2seq.hpp"

namespace velmora {

namespace detail {

/// Fixed ids of every seq2seq and MWT character vocabulary.
inline constexpr std::int64_t kPadId = 0;
inline constexpr std::int64_t kUnkId = 1;
inline constexpr std::int64_t kStartId = 2;
inline constexpr std::int64_t kEndId = 3;

/// One vocabulary of characters or POS tags.
struct Seq2SeqVocab {
  std::vector<std::string> id2unit;
  StringMap<std::int64_t> unit2id;
};

/// Reads a vocabulary object ("_id2unit" and "_unit2id"); `path` names it in messages.
Seq2SeqVocab parse_seq2seq_vocab(const JsonValue& value, std::string_view path);

}  // namespace detail

struct Seq2SeqPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  detail::Seq2SeqVocab vocab;
  std::optional<detail::Seq2SeqVocab> pos_vocab;
  detail::StringMap<at::Tensor> tensors;
  std::vector<at::Tensor> encoder_weights;     // 8 * num_layers, in at::lstm order
  std::vector<at::Tensor> encoder_zero_state;  // hidden, cell: [2 * num_layers, 1, hidden_dim / 2]
  std::int64_t vocab_size = 0;
  std::int64_t emb_dim = 0;
  std::int64_t hidden_dim = 0;
  std::int64_t num_layers = 0;
  std::int64_t max_dec_len = 0;
  std::int64_t beam_size = 1;
  std::int64_t batch_size = 50;
  std::int64_t pos_dim = 0;
  bool pos = false;
  bool edit = false;
  bool copy = false;
  // The decoder step laid out for rows, for float32 models whose shapes fit it; otherwise the
  // step runs as tensor operators.
  std::optional<detail::Seq2SeqRowDecoder> row_decoder;
};

namespace detail {

using Seq2SeqModel = Seq2SeqPlan::Impl;

/// Opens the bundle and fills a new model state. JSON errors pass as JsonError.
std::unique_ptr<Seq2SeqModel> load_seq2seq_model(std::filesystem::path bundle_path, bool verify_checksums);

/// The bound tensor of that name; Seq2SeqModelError when absent.
const at::Tensor& seq2seq_tensor(const Seq2SeqModel& model, std::string_view name);

/// A word as source ids: start, one id per code point, end. The k-th distinct character
/// missing from the vocabulary gets the extended id V + k.
struct Seq2SeqSource {
  std::vector<std::int64_t> ids;
  std::vector<std::string> oov_chars;
};
Seq2SeqSource seq2seq_encode_source(const Seq2SeqVocab& vocab, const std::string& word);

/// The encoder's result for one word: outputs [1, T, H] and the decoder's initial state.
struct Seq2SeqEncoding {
  at::Tensor outputs;
  at::Tensor h0;
  at::Tensor c0;
};
Seq2SeqEncoding seq2seq_encode(const Seq2SeqModel& model, const std::vector<std::int64_t>& source_ids,
                               const std::optional<std::string>& pos);

/// The id of a POS tag, UNK when the POS vocabulary lacks it.
std::int64_t seq2seq_pos_id(const Seq2SeqModel& model, const std::string& tag);

/// The edit class of every row of h0 [B, H].
std::vector<std::int64_t> seq2seq_edit_classes(const Seq2SeqModel& model, const at::Tensor& h0);

struct Seq2SeqStepOutput {
  at::Tensor log_probs;  // [B, V] without copy, [B, V'] with copy
  at::Tensor h;
  at::Tensor c;
};

/// One decoder step for B rows. `ids` [B] holds the previous ids and is rewritten in place
/// (ids of V or more become UNK before the embedding).
Seq2SeqStepOutput seq2seq_decoder_step(const Seq2SeqModel& model, at::Tensor& ids,
                                       const std::pair<at::Tensor, at::Tensor>& state, const at::Tensor& context,
                                       const at::Tensor& source_ids, std::int64_t extended_vocab_size,
                                       bool suppress_unk, const std::optional<at::Tensor>& source_mask = std::nullopt,
                                       const std::optional<at::Tensor>& vocab_limits = std::nullopt);

/// The row decoder of a loaded model, when every tensor is float32 and the decoder's shapes fit.
std::optional<Seq2SeqRowDecoder> prepare_seq2seq_row_decoder(const Seq2SeqModel& model);

/// seq2seq_decoder_step on the model's row decoder.
Seq2SeqStepOutput seq2seq_row_step(const Seq2SeqModel& model, at::Tensor& ids,
                                   const std::pair<at::Tensor, at::Tensor>& state, const at::Tensor& context,
                                   const at::Tensor& source_ids, std::int64_t extended_vocab_size, bool suppress_unk,
                                   const std::optional<at::Tensor>& source_mask,
                                   const std::optional<at::Tensor>& vocab_limits);

/// The text of decoded ids: vocabulary entries, copied unknown characters, "<UNK>" otherwise.
std::string seq2seq_output_text(const Seq2SeqModel& model, const std::vector<std::int64_t>& ids,
                                const std::vector<std::string>& oov_chars);

/// The body of Seq2SeqPlan::predict.
Seq2SeqPrediction seq2seq_predict_one(const Seq2SeqModel& model, const std::string& word,
                                      const std::optional<std::string>& pos, std::optional<long long> beam_size,
                                      bool suppress_unk);

/// The body of Seq2SeqPlan::predict_many.
std::vector<Seq2SeqPrediction> seq2seq_predict_batch(const Seq2SeqModel& model, const std::vector<std::string>& words,
                                                     const std::vector<std::optional<std::string>>& pos,
                                                     std::optional<long long> beam_size, bool suppress_unk);

}  // namespace detail
}  // namespace velmora
