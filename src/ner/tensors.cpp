// The tensor contract of the tagger: binding every bundle tensor as a zero-copy view, the
// presence and shape checks against vocabularies and configuration, and the LSTM parameter
// lists and classifiers gathered once for inference.

#include <algorithm>
#include <initializer_list>

#include "models/lstm_parameters.hpp"
#include "models/tensor_view.hpp"
#include "models/vocabulary_ids.hpp"
#include "ner/model_state.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

std::string classifier_name(std::size_t column, std::string_view part) {
  return "tag_clfs." + std::to_string(column) + "." + std::string(part);
}

std::string transitions_name(std::size_t column) { return "crits." + std::to_string(column) + "._transitions"; }

// Dimension `index` of a tensor, or -1 when the tensor has too few dimensions, so that a
// tensor of the wrong rank fails with the same message as one of the wrong size.
std::int64_t size_or_none(const at::Tensor& tensor, std::int64_t index) {
  return tensor.dim() > index ? tensor.size(index) : -1;
}

bool has_shape(const at::Tensor& tensor, std::initializer_list<std::int64_t> shape) {
  return tensor.sizes() == at::IntArrayRef(shape);
}

std::int64_t vocabulary_size(const StringMap<std::int64_t>& vocabulary) {
  return static_cast<std::int64_t>(vocabulary.size());
}

void require_lstm_parameters(const NERPlan::Impl& state, std::string_view prefix, std::int64_t layers) {
  for (std::int64_t layer = 0; layer < layers; ++layer) {
    for (std::string_view direction : {"", "_reverse"}) {
      for (std::string_view parameter : {"weight_ih_l", "weight_hh_l", "bias_ih_l", "bias_hh_l"}) {
        ner_tensor(state, std::string(prefix) + std::string(parameter) + std::to_string(layer) + std::string(direction));
      }
    }
  }
}

void check_presence(const NERPlan::Impl& state) {
  for (std::string_view name : {"word_emb.weight", "delta_emb.weight", "taggerlstm_h_init", "taggerlstm_c_init"}) {
    ner_tensor(state, name);
  }
  if (!state.charlm) {
    for (std::string_view name :
         {"charmodel.char_emb.weight", "charmodel.charlstm_h_init", "charmodel.charlstm_c_init"}) {
      ner_tensor(state, name);
    }
    require_lstm_parameters(state, "charmodel.charlstm.lstm.", state.char_num_layers);
  }
  require_lstm_parameters(state, "taggerlstm.lstm.", state.num_layers);
  if (state.input_transform) {
    ner_tensor(state, "input_transform.weight");
    ner_tensor(state, "input_transform.bias");
  }
  for (std::size_t column = 0; column < state.tag_vocab.size(); ++column) {
    ner_tensor(state, classifier_name(column, "weight"));
    ner_tensor(state, classifier_name(column, "bias"));
    ner_tensor(state, transitions_name(column));
  }
}

std::int64_t tagger_input_size(const NERPlan::Impl& state) {
  std::int64_t size = state.word_emb_dim;
  if (state.use_transformer) size += state.transformer->hidden_size();
  if (state.charlm) {
    size += state.charlm_forward->hidden_size() + state.charlm_backward->hidden_size();
  } else {
    size += 2 * state.char_hidden_dim;
  }
  return size;
}

// The operator would accept some wrong shapes (a bias of one element broadcasts) and give
// wrong tags, so every weight and initial state is checked against the configured sizes.
void check_lstm_shapes(const std::vector<at::Tensor>& parameters, const std::vector<at::Tensor>& initial_state,
                       std::int64_t layers, std::int64_t input_size, std::int64_t hidden) {
  const std::int64_t gates = 4 * hidden;
  bool fits = has_shape(initial_state[0], {2 * layers, 1, hidden}) && has_shape(initial_state[1], {2 * layers, 1, hidden});
  for (std::size_t k = 0; k + 4 <= parameters.size() && fits; k += 4) {
    const std::int64_t width = k < 8 ? input_size : 2 * hidden;
    fits = has_shape(parameters[k], {gates, width}) && has_shape(parameters[k + 1], {gates, hidden}) &&
           has_shape(parameters[k + 2], {gates}) && has_shape(parameters[k + 3], {gates});
  }
  if (!fits) throw NERModelError("NER LSTM tensors disagree with their configured sizes");
}

// The classifiers that run when a sentence is tagged: the predicted one, and with chained output
// layers every one before it, each reading the tagger rows and the previous scores.
void check_classifier_inputs(const NERPlan::Impl& state) {
  const auto predicted = static_cast<std::size_t>(state.predict_tagset);
  const std::size_t first = state.connect_output_layers ? 0 : predicted;
  for (std::size_t column = first; column <= predicted; ++column) {
    std::int64_t width = 2 * state.hidden_dim;
    if (state.connect_output_layers && column > 0) width += static_cast<std::int64_t>(state.tag_vocab[column - 1].size());
    const NERTagClassifier& classifier = state.tag_classifiers[column];
    const auto tags = static_cast<std::int64_t>(state.tag_vocab[column].size());
    if (!has_shape(classifier.weight, {tags, width}) || !has_shape(classifier.bias, {tags}) ||
        !has_shape(classifier.transitions, {tags, tags})) {
      throw NERModelError("NER classifier input width disagrees with the tagger output");
    }
  }
}

bool all_float32(const std::vector<at::Tensor>& tensors) {
  return std::all_of(tensors.begin(), tensors.end(),
                     [](const at::Tensor& tensor) { return tensor.scalar_type() == at::kFloat; });
}

void prepare_inference_lstms(NERPlan::Impl& state) {
  if (!state.charlm && state.char_embedding.scalar_type() == at::kFloat && all_float32(state.char_lstm_params) &&
      all_float32(state.char_lstm_state)) {
    state.char_rnn.emplace(state.char_lstm_params, static_cast<int>(state.char_num_layers), true);
  }
  if (all_float32(state.tagger_lstm_params) && all_float32(state.tagger_lstm_state)) {
    state.tagger_rnn.emplace(state.tagger_lstm_params, static_cast<int>(state.num_layers), true);
  }
}

}  // namespace

const at::Tensor& ner_tensor(const NERPlan::Impl& state, std::string_view name) {
  const auto found = state.tensors.find(name);
  if (found == state.tensors.end()) throw NERModelError("missing NER tensor: '" + std::string(name) + "'");
  return found->second;
}

void bind_ner_tensors(NERPlan::Impl& state) {
  state.tensors.reserve(state.bundle->tensors().size());
  for (const TensorDescriptor& descriptor : state.bundle->tensors()) {
    state.tensors.insert_or_assign(descriptor.name, bundle_tensor_view<NERModelError>(*state.bundle, descriptor));
  }
}

std::vector<at::Tensor> collect_ner_char_lstm_params(const NERPlan::Impl& state) {
  auto weight = [&](const std::string& name) { return ner_tensor(state, name); };
  return lstm_parameters(weight, "charmodel.charlstm.lstm.", static_cast<int>(state.char_num_layers), true);
}

std::vector<at::Tensor> collect_ner_tagger_lstm_params(const NERPlan::Impl& state) {
  auto weight = [&](const std::string& name) { return ner_tensor(state, name); };
  return lstm_parameters(weight, "taggerlstm.lstm.", static_cast<int>(state.num_layers), true);
}

void check_ner_tensors(NERPlan::Impl& state) {
  check_presence(state);

  const at::Tensor& word_embedding = ner_tensor(state, "word_emb.weight");
  const at::Tensor& delta_embedding = ner_tensor(state, "delta_emb.weight");
  if (size_or_none(word_embedding, 0) != vocabulary_size(state.word_vocab) ||
      size_or_none(word_embedding, 1) != state.word_emb_dim ||
      size_or_none(delta_embedding, 0) != vocabulary_size(state.delta_vocab) ||
      size_or_none(delta_embedding, 1) != state.word_emb_dim ||
      // Ids index the tables as the vocabularies give them.
      !vocabulary_ids_fit(state.word_vocab, word_embedding) || !vocabulary_ids_fit(state.delta_vocab, delta_embedding)) {
    throw NERModelError("NER embedding dimensions disagree with bundled vocabularies");
  }
  if (!state.charlm) {
    const at::Tensor& char_embedding = ner_tensor(state, "charmodel.char_emb.weight");
    if (size_or_none(char_embedding, 0) != vocabulary_size(state.char_vocab) ||
        size_or_none(char_embedding, 1) != state.char_emb_dim || !vocabulary_ids_fit(state.char_vocab, char_embedding)) {
      throw NERModelError("NER character embedding dimensions disagree with its vocabulary");
    }
  }

  const std::int64_t input_size = tagger_input_size(state);
  bool input_fits = true;
  if (state.input_transform) {
    const at::Tensor& weight = ner_tensor(state, "input_transform.weight");
    const at::Tensor& bias = ner_tensor(state, "input_transform.bias");
    input_fits = size_or_none(weight, 0) == input_size && size_or_none(weight, 1) == input_size &&
                 size_or_none(bias, 0) == input_size;
  }
  if (!input_fits || size_or_none(ner_tensor(state, "taggerlstm.lstm.weight_ih_l0"), 1) != input_size) {
    throw NERModelError("NER tagger input size disagrees with its embedding profile");
  }

  for (std::size_t column = 0; column < state.tag_vocab.size(); ++column) {
    const auto tags = static_cast<std::int64_t>(state.tag_vocab[column].size());
    const at::Tensor& transitions = ner_tensor(state, transitions_name(column));
    if (size_or_none(ner_tensor(state, classifier_name(column, "weight")), 0) != tags ||
        size_or_none(ner_tensor(state, classifier_name(column, "bias")), 0) != tags ||
        size_or_none(transitions, 0) != tags || size_or_none(transitions, 1) != tags) {
      throw NERModelError("NER classifier dimensions disagree with tag vocabulary");
    }
  }

  if (!state.charlm) {
    state.char_lstm_params = collect_ner_char_lstm_params(state);
    state.char_lstm_state = {ner_tensor(state, "charmodel.charlstm_h_init"), ner_tensor(state, "charmodel.charlstm_c_init")};
    state.char_embedding = ner_tensor(state, "charmodel.char_emb.weight");
  }
  state.tagger_lstm_params = collect_ner_tagger_lstm_params(state);
  state.tagger_lstm_state = {ner_tensor(state, "taggerlstm_h_init"), ner_tensor(state, "taggerlstm_c_init")};
  state.tag_classifiers.reserve(state.tag_vocab.size());
  for (std::size_t column = 0; column < state.tag_vocab.size(); ++column) {
    state.tag_classifiers.push_back({ner_tensor(state, classifier_name(column, "weight")),
                                     ner_tensor(state, classifier_name(column, "bias")),
                                     ner_tensor(state, transitions_name(column))});
  }
  state.word_embedding = word_embedding;
  state.delta_embedding = delta_embedding;
  if (state.input_transform) {
    state.input_transform_weight = ner_tensor(state, "input_transform.weight");
    state.input_transform_bias = ner_tensor(state, "input_transform.bias");
  }

  if (!state.charlm) {
    check_lstm_shapes(state.char_lstm_params, state.char_lstm_state, state.char_num_layers, state.char_emb_dim,
                      state.char_hidden_dim);
  }
  check_lstm_shapes(state.tagger_lstm_params, state.tagger_lstm_state, state.num_layers, input_size, state.hidden_dim);
  check_classifier_inputs(state);
  prepare_inference_lstms(state);
}

}  // namespace velmora::detail
