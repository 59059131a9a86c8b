#pragma once

// The loaded named-entity tagger, built once by the plan's constructor and only read afterwards,
// and the stages that load it and tag sentences with it.

#include <ATen/ATen.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encoders/charlm_native.hpp"
#include "encoders/transformer_native.hpp"
#include "models/inference_lstm.hpp"
#include "models/string_hash.hpp"
#include "velmora/ner.hpp"

namespace velmora {

/// The classifier of one tag set and the CRF transition scores of that set.
struct NERTagClassifier {
  at::Tensor weight;       // [T, input]
  at::Tensor bias;         // [T]
  at::Tensor transitions;  // [T, T]: previous tag (row) to current tag (column)
};

struct NERPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  detail::StringMap<at::Tensor> tensors;  // every tensor of the bundle, zero-copy views
  detail::StringMap<std::int64_t> word_vocab;
  detail::StringMap<std::int64_t> delta_vocab;
  detail::StringMap<std::int64_t> char_vocab;
  std::vector<std::vector<std::string>> tag_vocab;  // one column of tags per tag set

  std::int64_t word_emb_dim = 0;
  std::int64_t char_emb_dim = 0;
  std::int64_t char_hidden_dim = 0;
  std::int64_t char_num_layers = 0;
  std::int64_t hidden_dim = 0;
  std::int64_t num_layers = 0;
  std::int64_t predict_tagset = 0;

  bool lowercase = true;
  bool char_lowercase = false;
  bool word_vocab_lower = false;
  bool delta_vocab_lower = false;
  bool input_transform = false;
  bool connect_output_layers = false;
  bool charlm = false;
  bool use_transformer = false;

  std::unique_ptr<detail::NativeCharLM> charlm_forward;
  std::unique_ptr<detail::NativeCharLM> charlm_backward;
  std::unique_ptr<detail::NativeTransformer> transformer;

  std::vector<at::Tensor> char_lstm_params;    // at::lstm order; only without charLMs
  std::vector<at::Tensor> char_lstm_state;     // initial hidden, initial cell
  std::vector<at::Tensor> tagger_lstm_params;  // at::lstm order
  std::vector<at::Tensor> tagger_lstm_state;   // initial hidden, initial cell
  std::vector<NERTagClassifier> tag_classifiers;

  // Weights the forward reads on every sentence, resolved once at load.
  at::Tensor word_embedding;
  at::Tensor delta_embedding;
  at::Tensor char_embedding;             // only without charLMs
  at::Tensor input_transform_weight;     // only with the input transform
  at::Tensor input_transform_bias;

  // float32 LSTMs also run as prepared inference LSTMs, without at::lstm's per-step dispatch.
  std::optional<detail::InferenceLstm> char_rnn;
  std::optional<detail::InferenceLstm> tagger_rnn;
};

namespace detail {

/// Opens and checks the bundle, reads the assets and binds the tensors.
void load_ner_model(NERPlan::Impl& state, std::filesystem::path bundle_path, bool verify_checksums);

/// The bound tensor of that name; NERModelError "missing NER tensor: '<name>'" otherwise.
const at::Tensor& ner_tensor(const NERPlan::Impl& state, std::string_view name);
/// Binds every tensor of the bundle into `state.tensors`.
void bind_ner_tensors(NERPlan::Impl& state);
/// Presence and shape checks of the bound tensors against the vocabularies and configuration,
/// then the LSTM parameter lists, initial states and classifiers.
void check_ner_tensors(NERPlan::Impl& state);
std::vector<at::Tensor> collect_ner_char_lstm_params(const NERPlan::Impl& state);
std::vector<at::Tensor> collect_ner_tagger_lstm_params(const NERPlan::Impl& state);

/// The lookup key of a token in the word (`word_vocabulary` true) or delta vocabulary.
std::string ner_word_key(const NERPlan::Impl& state, std::string_view text, bool vocabulary_lower,
                         bool word_vocabulary);
/// The character BiLSTM vectors of a sentence's tokens, [n, 2 * char_hidden_dim], in one
/// packed LSTM run.
at::Tensor ner_char_features(const NERPlan::Impl& state, const std::vector<std::string>& tokens);
/// The tagger input rows of non-empty sentences, stacked in order: [tokens, input size].
at::Tensor ner_inputs(const NERPlan::Impl& state, const std::vector<const std::vector<std::string>*>& sentences);
/// The tagger input of one non-empty sentence: [1, n, input size].
at::Tensor ner_forward(const NERPlan::Impl& state, const std::vector<std::string>& tokens);
/// The tagger BiLSTM rows of non-empty sentences, each run as its own sequence, stacked in
/// order: [tokens, 2 * hidden_dim].
at::Tensor run_ner_tagger(const NERPlan::Impl& state, const std::vector<const std::vector<std::string>*>& sentences);
/// The tagger BiLSTM rows of one non-empty sentence: [n, 2 * hidden_dim].
at::Tensor run_ner_tagger_lstm(const NERPlan::Impl& state, const std::vector<std::string>& tokens);

/// The repaired BIOES tags of each sentence, one per token, from one run of the networks over
/// all of them; the caller enters inference mode. Empty sentences get no tags.
std::vector<std::vector<std::string>> ner_tag_sentences(const NERPlan::Impl& state,
                                                        const std::vector<const std::vector<std::string>*>& sentences);

}  // namespace detail
}  // namespace velmora
