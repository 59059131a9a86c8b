// The tagger's tensors: views of the bundle, the names its configuration requires, the
// dimensions tying them to the vocabularies, and the per-layer weight lists.

#include <string>
#include <vector>

#include "models/lstm_parameters.hpp"
#include "models/tensor_view.hpp"
#include "models/vocabulary_ids.hpp"
#include "pos/model_state.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

constexpr std::string_view kAlwaysRequired[] = {
    "word_emb.weight", "pretrained_emb.weight", "trans_pretrained.weight", "taggerlstm_h_init",
    "taggerlstm_c_init", "upos_hid.weight", "upos_hid.bias", "upos_clf.weight", "upos_clf.bias",
    "upos_emb.weight", "xpos_hid.weight", "xpos_hid.bias", "ufeats_hid.weight", "ufeats_hid.bias"};

constexpr std::string_view kCharacterModel[] = {
    "charmodel.char_emb.weight",          "charmodel.char_attn.weight",
    "charmodel.charlstm_h_init",          "charmodel.charlstm_c_init",
    "charmodel.charlstm.lstm.weight_ih_l0", "charmodel.charlstm.lstm.weight_hh_l0",
    "charmodel.charlstm.lstm.bias_ih_l0", "charmodel.charlstm.lstm.bias_hh_l0",
    "trans_char.weight"};

std::string composite_prefix(std::size_t component) { return "xpos_clf." + std::to_string(component) + ".W_bilin"; }
std::string feature_prefix(std::size_t feature) { return "ufeats_clf." + std::to_string(feature) + ".W_bilin"; }

// Every name the configuration requires, in the order they are checked.
std::vector<std::string> required_names(const POSModel& state) {
  std::vector<std::string> names(std::begin(kAlwaysRequired), std::end(kAlwaysRequired));
  auto add_pair = [&](const std::string& prefix) {
    names.push_back(prefix + ".weight");
    names.push_back(prefix + ".bias");
  };
  if (state.xpos_composite) {
    for (std::size_t k = 0; k < state.xpos_components.size(); ++k) add_pair(composite_prefix(k));
  } else {
    add_pair("xpos_clf.W_bilin");
  }
  if (!state.uses_charlm) {
    names.insert(names.end(), std::begin(kCharacterModel), std::end(kCharacterModel));
  } else if (state.charlm_transform_dim > 0) {
    names.emplace_back("charmodel_forward_transform.weight");
    names.emplace_back("charmodel_backward_transform.weight");
  }
  for (std::int64_t i = 0; i < state.num_layers; ++i) {
    for (std::string& name : highway_lstm_layer_names("taggerlstm", i)) names.push_back(std::move(name));
  }
  for (std::size_t f = 0; f < state.feature_vocabs.size(); ++f) add_pair(feature_prefix(f));
  return names;
}

std::int64_t entries(std::size_t count) { return static_cast<std::int64_t>(count); }

}  // namespace

const at::Tensor& pos_tensor(const POSModel& state, std::string_view name) {
  const auto found = state.tensors.find(name);
  if (found == state.tensors.end()) throw POSModelError("missing POS tensor: '" + std::string(name) + "'");
  return found->second;
}

void bind_pos_tensors(POSModel& state) {
  for (const TensorDescriptor& descriptor : state.bundle->tensors()) {
    state.tensors.insert_or_assign(descriptor.name, bundle_tensor_view<POSModelError>(*state.bundle, descriptor));
  }
}

std::int64_t pos_input_size(const POSModel& state) {
  std::int64_t characters = state.transformed_dim;
  if (state.uses_charlm) {
    characters = state.charlm_transform_dim > 0
                     ? 2 * state.charlm_transform_dim
                     : state.forward_charlm->hidden_size() + state.backward_charlm->hidden_size();
  }
  const std::int64_t transformer = state.uses_transformer ? state.transformer->hidden_size() : 0;
  return state.word_emb_dim + characters + state.transformed_dim + transformer;
}

void check_pos_tensors(const POSModel& state) {
  for (const std::string& name : required_names(state)) pos_tensor(state, name);

  const at::Tensor& word_emb = pos_tensor(state, "word_emb.weight");
  if (word_emb.size(0) != entries(state.word_vocab.size()) || word_emb.size(1) != state.word_emb_dim ||
      pos_tensor(state, "pretrained_emb.weight").size(0) != entries(state.pretrain_vocab.size()) ||
      pos_tensor(state, "upos_clf.weight").size(0) != entries(state.upos_labels.size())) {
    throw POSModelError("POS tensor dimensions disagree with bundled vocabularies");
  }
  if (!state.xpos_composite) {
    if (pos_tensor(state, "xpos_clf.W_bilin.weight").size(0) != entries(state.xpos_labels.size())) {
      throw POSModelError("XPOS tensor dimensions disagree with its vocabulary");
    }
  } else {
    for (std::size_t k = 0; k < state.xpos_components.size(); ++k) {
      if (pos_tensor(state, composite_prefix(k) + ".weight").size(0) != entries(state.xpos_components[k].size())) {
        throw POSModelError("composite XPOS tensor dimensions disagree with its vocabulary");
      }
    }
  }
  if (!state.uses_charlm &&
      pos_tensor(state, "charmodel.char_emb.weight").size(0) != entries(state.char_vocab.size())) {
    throw POSModelError("POS character tensor dimensions disagree with its vocabulary");
  }
  // Ids index their tables as the vocabularies give them, and class ids index the labels.
  const std::int64_t upos = entries(state.upos_labels.size());
  const auto rows = [](const at::Tensor& tensor) { return tensor.dim() >= 1 ? tensor.size(0) : -1; };
  if (!vocabulary_ids_fit(state.word_vocab, word_emb) ||
      !vocabulary_ids_fit(state.pretrain_vocab, pos_tensor(state, "pretrained_emb.weight")) ||
      (!state.uses_charlm && !vocabulary_ids_fit(state.char_vocab, pos_tensor(state, "charmodel.char_emb.weight"))) ||
      rows(pos_tensor(state, "upos_clf.bias")) != upos || rows(pos_tensor(state, "upos_emb.weight")) != upos) {
    throw POSModelError("POS tensor dimensions disagree with bundled vocabularies");
  }
  for (std::size_t f = 0; f < state.feature_vocabs.size(); ++f) {
    if (rows(pos_tensor(state, feature_prefix(f) + ".weight")) != entries(state.feature_vocabs[f].values.size())) {
      throw POSModelError("POS feature tensor dimensions disagree with its vocabulary");
    }
  }
  if (pos_tensor(state, "taggerlstm.lstm.0.lstm.weight_ih_l0").size(1) != pos_input_size(state)) {
    throw POSModelError("POS tagger input size disagrees with its embedding profile");
  }
}

std::vector<at::Tensor> pos_tagger_lstm_weights(const POSModel& state, std::int64_t layer) {
  auto weight = [&](const std::string& name) { return pos_tensor(state, name); };
  return lstm_parameters(weight, "taggerlstm.lstm." + std::to_string(layer) + ".lstm.", 1, /*bidirectional=*/true);
}

void gather_pos_weights(POSModel& state) {
  auto weight = [&](const std::string& name) -> const at::Tensor& { return pos_tensor(state, name); };
  if (!state.uses_charlm) state.char_model = bind_word_character_model(weight);
  state.layers = bind_highway_lstm_layers(weight, "taggerlstm", state.num_layers);
}

}  // namespace velmora::detail
