// Loading a constituency bundle into the parser's model state.

#include "constituency/model_loading.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "encoders/charlm_native.hpp"
#include "encoders/transformer_native.hpp"
#include "models/highway_lstm.hpp"
#include "models/lstm_parameters.hpp"
#include "models/model_config.hpp"
#include "models/tensor_view.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {

ConstituencyPlan::Impl::Impl() = default;
ConstituencyPlan::Impl::~Impl() = default;

const at::Tensor& ConstituencyPlan::Impl::weight(std::string_view name) const {
  const auto found = tensors.find(name);
  if (found == tensors.end()) throw ConstituencyModelError("missing constituency tensor: '" + std::string(name) + "'");
  return found->second;
}

namespace detail {
namespace {

using Impl = ConstituencyPlan::Impl;

void check_architecture(const JsonValue& config) {
  auto unsupported = [] {
    throw ConstituencyModelError(
        "unsupported constituency architecture; the native profile requires IN_ORDER/MAX/LSTM with ReLU, one tree "
        "layer, ordinary output layers, and no parser attention or PEFT");
  };
  // Each key is read only once every key before it matched.
  if (config_string(config, "transition_scheme") != "IN_ORDER") unsupported();
  if (config_string(config, "constituency_composition") != "MAX") unsupported();
  if (config_string(config, "transition_stack") != "LSTM") unsupported();
  if (config_string(config, "constituent_stack") != "LSTM") unsupported();
  if (config_string(config, "nonlinearity") != "relu") unsupported();
  if (config_int(config, "num_tree_lstm_layers", 0) != 1) unsupported();
  if (config_int(config, "maxout_k", 0) != 0) unsupported();
  if (config_int(config, "pattn_num_layers", 0) != 0) unsupported();
  if (config_bool(config, "use_rattn", false)) unsupported();
  if (config_bool(config, "use_peft", false)) unsupported();
}

void read_config(Impl& state, const JsonValue& root, const JsonValue& config) {
  check_architecture(config);
  const std::string& boundaries = config_string(config, "sentence_boundary_vectors");
  if (boundaries != "NONE" && boundaries != "EVERYTHING") {
    throw ConstituencyModelError("unsupported constituency sentence boundary profile: '" + boundaries + "'");
  }
  state.everything_boundaries = boundaries == "EVERYTHING";

  state.hidden_size = config_int(config, "hidden_size", 0);
  state.transition_hidden_size = config_int(config, "transition_hidden_size", 0);
  state.tag_embedding_dim = config_int(config, "tag_embedding_dim", 0);
  state.transition_embedding_dim = config_int(config, "transition_embedding_dim", 0);
  state.delta_embedding_dim = config_int(config, "delta_embedding_dim", 0);
  state.num_lstm_layers = config_int(config, "num_lstm_layers", 0);
  state.num_output_layers = config_int(config, "num_output_layers", 0);
  if (state.hidden_size < 1 || state.transition_hidden_size < 1 || state.tag_embedding_dim < 0 ||
      state.transition_embedding_dim < 1 || state.delta_embedding_dim < 1 || state.num_lstm_layers < 1 ||
      state.num_output_layers < 1) {
    throw ConstituencyModelError("constituency model dimensions must be positive");
  }

  const std::string& tag_source = root.at("runtime_contract", "assets")
                                      .at("tag_source", "assets.runtime_contract")
                                      .as_string("assets.runtime_contract.tag_source");
  if (tag_source != "xpos" && tag_source != "upos") {
    throw ConstituencyModelError("unsupported constituency tag source: '" + tag_source + "'");
  }
  state.uses_xpos = tag_source == "xpos";

  state.unary_limit = root.at("unary_limit", "assets").as_integer("assets.unary_limit");
  if (state.unary_limit < 0) throw ConstituencyModelError("constituency unary limit cannot be negative");
}

void read_root_labels(Impl& state, const JsonValue& root) {
  for (const JsonValue& label : root.at("root_labels", "assets").as_array("assets.root_labels")) {
    state.root_labels.insert(label.as_string("assets.root_labels[]"));
  }
  if (state.root_labels.empty()) throw ConstituencyModelError("constituency model has no root labels");
}

ConstituencyTransition read_transition(Impl& state, const JsonValue& entry, const std::string& path) {
  ConstituencyTransition transition;
  const std::string& kind = entry.at("kind", path).as_string(path + ".kind");
  if (kind == "shift") {
    transition.kind = ConstituencyTransition::Shift;
    state.has_shift = true;
  } else if (kind == "close") {
    transition.kind = ConstituencyTransition::Close;
    state.has_close = true;
  } else if (kind == "open") {
    transition.kind = ConstituencyTransition::Open;
    transition.open_index = entry.at("open_index", path).as_integer(path + ".open_index");
    for (const JsonValue& label : entry.at("labels", path).as_array(path + ".labels")) {
      transition.labels.push_back(label.as_string(path + ".labels[]"));
    }
    if (transition.labels.empty() || transition.open_index < 0) {
      throw ConstituencyModelError("constituency Open transition is incomplete");
    }
  } else {
    throw ConstituencyModelError("unknown constituency transition kind: '" + kind + "'");
  }
  return transition;
}

void read_transitions(Impl& state, const JsonValue& root) {
  const JsonValue::Array& entries = root.at("transitions", "assets").as_array("assets.transitions");
  state.transitions.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    state.transitions.push_back(read_transition(state, entries[i], "assets.transitions[" + std::to_string(i) + "]"));
  }
  if (!state.has_shift || !state.has_close || state.transitions.empty()) {
    throw ConstituencyModelError("constituency transition table is incomplete");
  }
}

// Entry k gets id k + 2 (0 and 1 are reserved); a repeated string keeps its first id.
StringMap<std::int64_t> read_word_list(const JsonValue& root, const std::string& key) {
  const std::string path = "assets." + key;
  const JsonValue::Array& entries = root.at(key, "assets").as_array(path);
  StringMap<std::int64_t> ids;
  ids.reserve(entries.size());
  for (std::size_t k = 0; k < entries.size(); ++k) {
    ids.emplace(entries[k].as_string(path + "[]"), static_cast<std::int64_t>(k) + 2);
  }
  return ids;
}

void read_vocabularies(Impl& state, const JsonValue& root) {
  state.delta_words = read_word_list(root, "delta_words");
  state.tags = read_word_list(root, "tags");
  const JsonValue& pretrain = root.at("pretrain_vocab", "assets");
  state.pretrain_vocab = read_unit2id(pretrain, "assets.pretrain_vocab");
  if (const JsonValue* lower = pretrain.find("lower"); lower != nullptr && !lower->is_null()) {
    state.lower = lower->as_bool("assets.pretrain_vocab.lower");
  }
  const auto pad = state.pretrain_vocab.find("<PAD>");
  const auto unknown = state.pretrain_vocab.find("<UNK>");
  if (pad == state.pretrain_vocab.end() || pad->second != 0 || unknown == state.pretrain_vocab.end() ||
      unknown->second != 1) {
    throw ConstituencyModelError("constituency pretrain vocabulary has invalid PAD/UNK ids");
  }
}

void bind_tensors(Impl& state) {
  for (const TensorDescriptor& descriptor : state.bundle->tensors()) {
    state.tensors.insert_or_assign(descriptor.name,
                                   bundle_tensor_view<ConstituencyModelError>(*state.bundle, descriptor));
  }
}

void build_encoders(Impl& state, const JsonValue& root, const JsonValue& config) {
  state.has_forward_charlm = state.tensors.contains("forward_charlm.char_emb.weight");
  state.has_backward_charlm = state.tensors.contains("backward_charlm.char_emb.weight");
  if (state.has_forward_charlm || state.has_backward_charlm) {
    const JsonValue* charlm = root.find("charlm");
    if (charlm == nullptr) throw ConstituencyModelError("constituency charLM tensors have no assets");
    if (state.has_forward_charlm) {
      state.forward_charlm =
          std::make_unique<NativeCharLM>(state.bundle, "forward_charlm.", charlm->at("forward", "assets.charlm"));
      if (!state.forward_charlm->is_forward()) {
        throw ConstituencyModelError("constituency forward charLM has the wrong direction");
      }
    }
    if (state.has_backward_charlm) {
      state.backward_charlm =
          std::make_unique<NativeCharLM>(state.bundle, "backward_charlm.", charlm->at("backward", "assets.charlm"));
      if (state.backward_charlm->is_forward()) {
        throw ConstituencyModelError("constituency backward charLM has the wrong direction");
      }
    }
  }
  if (const JsonValue* bert = config.find("bert_model"); bert != nullptr && !bert->is_null()) {
    state.has_transformer = true;
    state.transformer = std::make_unique<NativeTransformer>(state.bundle, root.at("transformer", "assets"));
  }
}

// The names of one stack LSTM in at::lstm order for one layer.
std::vector<std::string> lstm_layer_names(const std::string& prefix, std::int64_t layer, bool bidirectional) {
  std::vector<std::string> names;
  for (const char* suffix : {"", "_reverse"}) {
    if (!bidirectional && *suffix != '\0') break;
    for (const char* base : {"weight_ih_l", "weight_hh_l", "bias_ih_l", "bias_hh_l"}) {
      names.push_back(prefix + base + std::to_string(layer) + suffix);
    }
  }
  return names;
}

// Every tensor the network reads, in the order in which a missing one is reported.
std::vector<std::string> required_tensor_names(const Impl& state) {
  std::vector<std::string> names = {"embedding.weight", "delta_embedding.weight"};
  if (state.tag_embedding_dim > 0) names.emplace_back("tag_embedding.weight");
  for (const char* name : {"word_to_constituent.weight", "word_to_constituent.bias", "transition_embedding.weight",
                           "dummy_embedding.weight", "reduce_linear.weight", "reduce_linear.bias"}) {
    names.emplace_back(name);
  }
  if (state.everything_boundaries) {
    for (const char* name : {"word_start_embedding", "word_end_embedding", "transition_stack.start_embedding",
                             "constituent_stack.start_embedding"}) {
      names.emplace_back(name);
    }
  }
  for (std::int64_t layer = 0; layer < state.num_lstm_layers; ++layer) {
    for (const auto& [prefix, bidirectional] : {std::pair{"word_lstm.", true}, std::pair{"transition_stack.lstm.", false},
                                                std::pair{"constituent_stack.lstm.", false}}) {
      for (std::string& name : lstm_layer_names(prefix, layer, bidirectional)) names.push_back(std::move(name));
    }
  }
  for (std::int64_t layer = 0; layer < state.num_output_layers; ++layer) {
    names.push_back("output_layers." + std::to_string(layer) + ".weight");
    names.push_back("output_layers." + std::to_string(layer) + ".bias");
  }
  return names;
}

std::int64_t rows(const at::Tensor& tensor) { return tensor.dim() >= 1 ? tensor.size(0) : -1; }

// The largest id of a vocabulary, -1 for an empty one.
std::int64_t largest_id(const StringMap<std::int64_t>& ids) {
  std::int64_t largest = -1;
  for (const auto& [unit, id] : ids) largest = std::max(largest, id);
  return largest;
}

bool has_negative_id(const StringMap<std::int64_t>& ids) {
  for (const auto& [unit, id] : ids) {
    if (id < 0) return true;
  }
  return false;
}

void check_shapes(const Impl& state) {
  auto vocabulary_fits = [](const StringMap<std::int64_t>& ids, std::int64_t expected_rows, const at::Tensor& table) {
    // Beyond the row count, every id must name a row: a vocabulary whose strings repeat, or
    // whose ids skip, would otherwise point past the table.
    return rows(table) == expected_rows && largest_id(ids) < expected_rows && !has_negative_id(ids);
  };
  const auto vocabularies_disagree = [] {
    throw ConstituencyModelError("constituency vocabularies disagree with embedding rows");
  };
  const auto count = [](const StringMap<std::int64_t>& ids) { return static_cast<std::int64_t>(ids.size()); };
  if (!vocabulary_fits(state.pretrain_vocab, count(state.pretrain_vocab), state.weight("embedding.weight"))) {
    vocabularies_disagree();
  }
  if (!vocabulary_fits(state.delta_words, count(state.delta_words) + 2, state.weight("delta_embedding.weight"))) {
    vocabularies_disagree();
  }
  if (state.tag_embedding_dim > 0 &&
      !vocabulary_fits(state.tags, count(state.tags) + 2, state.weight("tag_embedding.weight"))) {
    vocabularies_disagree();
  }
  if (rows(state.weight("transition_embedding.weight")) != static_cast<std::int64_t>(state.transitions.size())) {
    vocabularies_disagree();
  }

  const std::int64_t hidden = state.hidden_size;
  const at::Tensor& dummy = state.weight("dummy_embedding.weight");
  const at::Tensor& reduce = state.weight("reduce_linear.weight");
  if (dummy.dim() < 2 || dummy.size(1) != hidden || rows(state.weight("word_to_constituent.weight")) != hidden ||
      reduce.dim() != 2 || reduce.size(0) != hidden || reduce.size(1) != hidden) {
    throw ConstituencyModelError("constituency hidden dimensions disagree");
  }
  // The scores are read one per transition, and an Open transition picks its dummy row by index.
  const std::string last_output = "output_layers." + std::to_string(state.num_output_layers - 1);
  const auto transitions = static_cast<std::int64_t>(state.transitions.size());
  if (rows(state.weight(last_output + ".weight")) != transitions ||
      rows(state.weight(last_output + ".bias")) != transitions) {
    throw ConstituencyModelError("constituency output layer has the wrong shape");
  }
  for (const ConstituencyTransition& transition : state.transitions) {
    if (transition.kind == ConstituencyTransition::Open && transition.open_index >= dummy.size(0)) {
      throw ConstituencyModelError("constituency Open index is outside dummy embeddings");
    }
  }
}

bool is_float_layer(const at::Tensor& weight, const at::Tensor& bias, std::int64_t inputs) {
  return weight.scalar_type() == at::kFloat && weight.dim() == 2 && weight.size(1) == inputs &&
         bias.scalar_type() == at::kFloat && bias.dim() == 1 && bias.size(0) == weight.size(0);
}

// The stack steps, compositions and output layers of float32 models whose widths chain, for
// parses stepped together. Other models run the tensor operators, which report what does not fit.
void prepare_products(Impl& state) {
  const at::Tensor& embedding = state.weight("transition_embedding.weight");
  if (embedding.dim() == 2) {
    state.transition_step = PreparedLstmStep::prepare(state.transition_stack_weights, embedding.size(1));
  }
  state.constituent_step = PreparedLstmStep::prepare(state.constituent_stack_weights, state.hidden_size);
  const at::Tensor& reduce_weight = state.weight("reduce_linear.weight");
  const at::Tensor& reduce_bias = state.weight("reduce_linear.bias");
  if (is_float_layer(reduce_weight, reduce_bias, state.hidden_size)) state.reduce_product.emplace(reduce_weight, reduce_bias);
  std::int64_t width = 2 * state.hidden_size + state.transition_hidden_size;
  for (const auto& [weight, bias] : state.output_layers) {
    if (!is_float_layer(weight, bias, width)) return;
    width = weight.size(0);
  }
  for (const auto& [weight, bias] : state.output_layers) state.output_products.emplace_back(weight, bias);
}

void collect_network(Impl& state) {
  for (const std::string& name : required_tensor_names(state)) (void)state.weight(name);
  check_shapes(state);

  auto weight = [&](const std::string& name) { return state.weight(name); };
  const int layers = static_cast<int>(state.num_lstm_layers);
  state.word_lstm_weights = lstm_parameters(weight, "word_lstm.", layers, true);
  state.word_lstm = prepare_inference_lstm(state.word_lstm_weights, /*bidirectional=*/true, layers);
  state.transition_stack_weights = lstm_parameters(weight, "transition_stack.lstm.", layers, false);
  state.constituent_stack_weights = lstm_parameters(weight, "constituent_stack.lstm.", layers, false);

  const at::TensorOptions options = state.weight("embedding.weight").options();
  auto zeros = [&](std::int64_t directions, std::int64_t width) {
    return std::pair{at::zeros({directions * state.num_lstm_layers, 1, width}, options),
                     at::zeros({directions * state.num_lstm_layers, 1, width}, options)};
  };
  state.word_lstm_state = zeros(2, state.hidden_size);
  state.transition_stack_state = zeros(1, state.transition_hidden_size);
  state.constituent_stack_state = zeros(1, state.hidden_size);

  for (std::int64_t layer = 0; layer < state.num_output_layers; ++layer) {
    const std::string prefix = "output_layers." + std::to_string(layer);
    state.output_layers.emplace_back(state.weight(prefix + ".weight"), state.weight(prefix + ".bias"));
  }
  prepare_products(state);
}

}  // namespace

std::unique_ptr<ConstituencyPlan::Impl> load_constituency_model(std::filesystem::path bundle_path,
                                                                bool verify_checksums) {
  auto state = std::make_unique<Impl>();
  state->bundle = std::make_shared<ModelBundle>(std::move(bundle_path), verify_checksums);
  if (state->bundle->processor() != "constituency") {
    throw ConstituencyModelError("expected a constituency bundle, got '" + state->bundle->processor() + "'");
  }
  with_model_error<ConstituencyModelError>([&] {
    const JsonValue root = parse_json(state->bundle->assets_json());
    const JsonValue& config = root.at("config", "assets");
    read_config(*state, root, config);
    read_root_labels(*state, root);
    read_transitions(*state, root);
    read_vocabularies(*state, root);
    bind_tensors(*state);
    build_encoders(*state, root, config);
  });
  collect_network(*state);
  return state;
}

}  // namespace detail
}  // namespace velmora
