#pragma once

// The loaded tagger and its internal operations: loading (model_loading.cpp), tensor binding
// (tensors.cpp), input rows (input_rows.cpp), the highway BiLSTM (encoder.cpp), the
// classifier heads (classifier_heads.cpp) and document tagging (plan.cpp).

#include <ATen/ATen.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encoders/charlm_native.hpp"
#include "encoders/transformer_native.hpp"
#include "models/highway_lstm.hpp"
#include "models/sentence_embedding.hpp"
#include "models/sentence_chunks.hpp"
#include "models/string_hash.hpp"
#include "models/word_character_model.hpp"
#include "velmora/pos.hpp"
#include "velmora/sequences.hpp"

namespace velmora {

using POSHighwayLayer = detail::HighwayLstmLayer;

/// One morphological feature category and its value labels, indexed by class id.
struct POSFeatureVocab {
  std::string name;
  std::vector<std::string> values;
};

struct POSPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  detail::StringMap<at::Tensor> tensors;          // a view of every bundle tensor
  detail::WordCharacterModel char_model;          // unbound with character language models
  std::vector<POSHighwayLayer> layers;
  detail::StringMap<std::int64_t> word_vocab;
  detail::StringMap<std::int64_t> char_vocab;
  detail::StringMap<std::int64_t> pretrain_vocab;
  std::vector<std::string> upos_labels;
  std::vector<std::string> xpos_labels;                  // plain XPOS vocabulary
  std::vector<std::vector<std::string>> xpos_components;  // composite XPOS vocabulary
  std::vector<POSFeatureVocab> feature_vocabs;
  std::int64_t word_emb_dim = 0;
  std::int64_t transformed_dim = 0;
  std::int64_t char_emb_dim = 0;
  std::int64_t char_hidden_dim = 0;
  std::int64_t hidden_dim = 0;
  std::int64_t num_layers = 0;
  std::int64_t tag_emb_dim = 0;
  std::int64_t charlm_transform_dim = 0;
  std::int64_t batch_size = 250;
  std::int64_t batch_maximum_tokens = 5000;
  std::string xpos_separator;
  bool word_lower = false;
  bool xpos_has_ignore = false;
  bool xpos_composite = false;
  bool uses_charlm = false;
  bool uses_transformer = false;
  std::unique_ptr<detail::NativeCharLM> forward_charlm;
  std::unique_ptr<detail::NativeCharLM> backward_charlm;
  std::unique_ptr<detail::NativeTransformer> transformer;
};

namespace detail {

using POSModel = POSPlan::Impl;

// Loading.
void load_pos_model(POSModel& state, std::filesystem::path bundle_path, bool verify_checksums);
/// Makes the view of every bundle tensor.
void bind_pos_tensors(POSModel& state);
/// Requires the tensors the configuration needs and checks their dimensions against it.
void check_pos_tensors(const POSModel& state);
/// Binds the character model and the layer records from the bound tensors.
void gather_pos_weights(POSModel& state);
std::vector<at::Tensor> pos_tagger_lstm_weights(const POSModel& state, std::int64_t layer);
/// The bound tensor of that name; POSModelError when absent.
const at::Tensor& pos_tensor(const POSModel& state, std::string_view name);
/// The tagger's input width D implied by the configuration and the encoders.
std::int64_t pos_input_size(const POSModel& state);

// Input rows. `forward`/`backward`: precomputed character-LM rows of exactly these words, or null.
/// `characters`, when given, holds pos_character_rows of the words (computed for many sentences
/// at once); otherwise they are computed here.
at::Tensor pos_embed_words(const POSModel& state, const std::vector<std::string>& words,
                           const at::Tensor* forward = nullptr, const at::Tensor* backward = nullptr,
                           const at::Tensor* characters = nullptr);
/// The character ids of each word of a sentence (punctuation folded).
std::vector<std::vector<std::int64_t>> pos_sentence_character_ids(const POSModel& state,
                                                                  const std::vector<std::string>& words);
/// The character model over many words' ids in one run, projected by trans_char:
/// [words, transformed width].
at::Tensor pos_character_rows(const POSModel& state, const std::vector<std::vector<std::int64_t>>& words);
/// The character ids of one word (not folded here); POSModelError for an empty word.
std::vector<std::int64_t> pos_character_ids(const POSModel& state, const std::string& word);
at::Tensor pos_char_encode(const POSModel& state, const std::string& word);
/// pos_char_encode of every word, [words, char_hidden_dim], in one LSTM run when the character
/// LSTM is prepared.
at::Tensor pos_char_encode_many(const POSModel& state, const std::vector<std::string>& words);

/// The input rows [n_i, input width] of the leading sentences that embed (undefined for a
/// sentence without words), and the failure of the next one (null when all did). The character
/// model runs over the words of all of them at once; `forward`/`backward` are the sentences'
/// character-LM rows (read with character language models only).
EmbeddedSentences pos_embed_sentences(const POSModel& state, std::span<const std::vector<std::string>> sentences,
                                         std::span<const at::Tensor> forward, std::span<const at::Tensor> backward);

// Highway BiLSTM.
at::Tensor pos_highway_lstm_forward(const POSModel& state, const std::vector<std::string>& words,
                                    const at::Tensor* forward = nullptr, const at::Tensor* backward = nullptr);
std::vector<at::Tensor> pos_highway_lstm_forward_batch(const POSModel& state,
                                                       const std::vector<std::vector<std::string>>& sentences,
                                                       const std::vector<at::Tensor>* forward,
                                                       const std::vector<at::Tensor>* backward);
/// The sentence grouping of the tagger's batched paths.
HighwayGrouping pos_grouping(const POSModel& state);

// Classifier heads.
at::Tensor pos_biaffine_scores(const POSModel& state, const at::Tensor& x1, const at::Tensor& x2,
                               const std::string& prefix);
std::vector<POSTag> pos_predict_heads(const POSModel& state, const at::Tensor& rows, std::size_t count);
std::vector<std::vector<POSTag>> pos_predict_batch(const POSModel& state, const std::vector<at::Tensor>& encoded,
                                                   std::span<const std::vector<std::string>> sentences);

// Tagging.
/// A sentence alone: a batch of one.
std::vector<POSTag> pos_tag_sentence(const POSModel& state, const std::vector<std::string>& words);
/// Every sentence, in chunks of consecutive sentences; rethrows the first sentence's failure.
std::vector<std::vector<POSTag>> pos_tag_many(const POSModel& state,
                                              const std::vector<std::vector<std::string>>& sentences);
/// The character language models once over all sentences, then chunks of consecutive sentences
/// as units, each embedded, encoded and classified as one batch. `tags` gets one entry per
/// sentence, filled for sentences [0, completed).
ChunkedRun pos_tag_chunks(const POSModel& state, const std::vector<std::vector<std::string>>& sentences,
                          std::vector<std::vector<POSTag>>& tags);
void write_pos_tags(const WordSequence& words, const std::vector<POSTag>& tags);

}  // namespace detail
}  // namespace velmora
