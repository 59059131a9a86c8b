// Loading a sentiment bundle: the configuration against the supported profile, the two word
// vocabularies, and the tensor contract that fixes the input width of every layer.

#include "sentiment/model_loading.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "models/lstm_parameters.hpp"
#include "models/model_config.hpp"
#include "models/tensor_view.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

using State = SentimentPlan::Impl;

constexpr std::string_view kConfigPath = "assets.config";

void read_profile(State& state, const JsonValue& config) {
  const std::string& model_type = config_string(config, "model_type");
  const bool use_elmo = config_bool(config, "use_elmo", false);
  // ELMo already rules the model out; its PEFT flag is then not read at all.
  const bool use_peft = !use_elmo && config_bool(config, "use_peft", false);
  if (model_type != "CNN" || use_elmo || use_peft) {
    throw SentimentModelError(
        "unsupported sentiment architecture; the native profile requires Dorvek's CNN classifier without ELMo or "
        "PEFT");
  }
  if (const JsonValue* max_norm = config.find("extra_wordvec_max_norm"); max_norm != nullptr && !max_norm->is_null()) {
    throw SentimentModelError("sentiment extra-embedding max-norm constraints are not supported by the native profile");
  }
  state.extra_method = config_string(config, "extra_wordvec_method");
  if (state.extra_method != "SUM" && state.extra_method != "CONCAT" && state.extra_method != "NONE") {
    throw SentimentModelError("unsupported sentiment extra word-vector method: '" + state.extra_method + "'");
  }
  state.bilstm = config_bool(config, "bilstm", false);
  state.bilstm_hidden_dim = config_int(config, "bilstm_hidden_dim", 0);
  state.maxpool_width = config_int(config, "maxpool_width", 0);
  state.num_classes = config_int(config, "num_classes", 0);
  state.charlm_projection = config_int(config, "charlm_projection", 0);
  state.has_charlm_forward = config_bool(config, "has_charlm_forward", false);
  state.has_charlm_backward = config_bool(config, "has_charlm_backward", false);
  state.uses_transformer = config_has(config, "bert_model");
  if (state.maxpool_width < 1 || state.num_classes < 1 || (state.bilstm && state.bilstm_hidden_dim < 1)) {
    throw SentimentModelError("sentiment dimensions and maxpool width must be positive");
  }
}

void read_filters(State& state, const JsonValue& config) {
  const std::string list_path = "assets.config.filter_sizes";
  const JsonValue::Array& entries = config.at("filter_sizes", kConfigPath).as_array(list_path);
  if (entries.empty()) throw SentimentModelError("sentiment classifier has no convolution filters");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string entry_path = list_path + "[" + std::to_string(i) + "]";
    ConvFilter filter;
    if (entries[i].is_integer()) {
      filter.height = entries[i].as_integer(entry_path);
      state.min_sentence_length = std::max(state.min_sentence_length, filter.height);
    } else {
      const JsonValue::Array& sizes = entries[i].as_array(entry_path);
      if (sizes.size() != 2) throw SentimentModelError("sentiment 2D filter must have two dimensions");
      filter.height = sizes[0].as_integer(entry_path + "[0]");
      filter.width = sizes[1].as_integer(entry_path + "[1]");
      // The trained models pad to a 2D filter's width, not its height; results depend on it.
      state.min_sentence_length = std::max(state.min_sentence_length, *filter.width);
    }
    if (filter.height < 1 || filter.width.value_or(1) < 1) {
      throw SentimentModelError("sentiment convolution dimensions must be positive");
    }
    state.tallest_filter = std::max(state.tallest_filter, filter.height);
    state.filters.push_back(filter);
  }
}

void read_vocabularies(State& state, const JsonValue& root) {
  for (const JsonValue& label : root.at("labels", "assets").as_array("assets.labels")) {
    state.labels.push_back(label.as_string("assets.labels[]"));
  }
  if (static_cast<std::int64_t>(state.labels.size()) != state.num_classes) {
    throw SentimentModelError("sentiment labels disagree with num_classes");
  }

  const JsonValue& pretrain = root.at("pretrain_vocab", "assets");
  state.pretrain_ids = read_unit2id(pretrain, "assets.pretrain_vocab");
  if (const JsonValue* lower = pretrain.find("lower")) state.lower = lower->as_bool("assets.pretrain_vocab.lower");
  const auto pad = state.pretrain_ids.find("<PAD>");
  const auto unknown = state.pretrain_ids.find("<UNK>");
  if (pad == state.pretrain_ids.end() || pad->second != kSentimentPadId || unknown == state.pretrain_ids.end() ||
      unknown->second != kSentimentUnknownId) {
    throw SentimentModelError("sentiment pretrain vocabulary has invalid PAD/UNK ids");
  }

  bool has_extra_words = false;
  if (const JsonValue* extra = root.find("extra_vocab"); extra != nullptr && !extra->is_null()) {
    const JsonValue::Array& words = extra->as_array("assets.extra_vocab");
    has_extra_words = !words.empty();
    for (std::size_t j = 0; j < words.size(); ++j) {
      state.extra_ids.emplace(words[j].as_string("assets.extra_vocab[]"), static_cast<std::int64_t>(j));
    }
  }
  if ((state.extra_method == "NONE") == has_extra_words) {
    throw SentimentModelError("sentiment extra vocabulary disagrees with its method");
  }
}

void bind_tensors(State& state) {
  for (const TensorDescriptor& descriptor : state.bundle->tensors()) {
    state.tensors.insert_or_assign(descriptor.name,
                                   bundle_tensor_view<SentimentModelError>(*state.bundle, descriptor));
  }
}

void load_encoders(State& state, const JsonValue& root) {
  if (state.has_charlm_forward || state.has_charlm_backward) {
    const JsonValue& charlm = root.at("charlm", "assets");
    if (state.has_charlm_forward) {
      state.charlm_forward =
          std::make_unique<NativeCharLM>(state.bundle, "forward_charlm.", charlm.at("forward", "assets.charlm"));
      if (!state.charlm_forward->is_forward()) {
        throw SentimentModelError("sentiment forward charLM has the wrong direction");
      }
    }
    if (state.has_charlm_backward) {
      state.charlm_backward =
          std::make_unique<NativeCharLM>(state.bundle, "backward_charlm.", charlm.at("backward", "assets.charlm"));
      if (state.charlm_backward->is_forward()) {
        throw SentimentModelError("sentiment backward charLM has the wrong direction");
      }
    }
  }
  if (state.uses_transformer) {
    state.transformer = std::make_unique<NativeTransformer>(state.bundle, root.at("transformer", "assets"));
  }
}

// Every id a vocabulary lookup can give must name a row of its table, so that a bundle whose
// vocabulary and table disagree is refused here instead of failing inside a later request.
void check_ids_fit(const StringMap<std::int64_t>& ids, std::int64_t rows, const char* message) {
  const bool fits = kSentimentUnknownId < rows && std::all_of(ids.begin(), ids.end(), [&](const auto& entry) {
                      return entry.second >= 0 && entry.second < rows;
                    });
  if (!fits) throw SentimentModelError(message);
}

// Steps 1 and 2 of the tensor contract: the word embeddings; returns the input width so far.
std::int64_t check_embeddings(const State& state) {
  const at::Tensor& embedding = state.weight("embedding.weight");
  const at::Tensor& unknown = state.weight("unk");
  const auto entries = static_cast<std::int64_t>(state.pretrain_ids.size());
  if (embedding.dim() != 2 || embedding.size(0) != entries || unknown.dim() != 1 ||
      unknown.size(0) != embedding.size(1)) {
    throw SentimentModelError("sentiment pretrain embedding dimensions disagree with its vocabulary");
  }
  check_ids_fit(state.pretrain_ids, entries, "sentiment pretrain vocabulary ids exceed its embedding table");
  std::int64_t width = embedding.size(1);
  if (state.extra_method == "NONE") return width;

  const at::Tensor& extra = state.weight("extra_embedding.weight");
  const auto extra_entries = static_cast<std::int64_t>(state.extra_ids.size());
  if (extra.dim() != 2 || extra.size(0) != extra_entries) {
    throw SentimentModelError("sentiment extra embedding dimensions disagree with its vocabulary");
  }
  check_ids_fit(state.extra_ids, extra_entries, "sentiment extra vocabulary ids exceed its embedding table");
  if (state.extra_method == "SUM") {
    if (extra.size(1) != width) throw SentimentModelError("summed sentiment embeddings have different widths");
  } else {
    width += extra.size(1);
  }
  return width;
}

struct CharLMSlot {
  const NativeCharLM* model;
  const char* projection;
  const char* bad_input_width;
  const char* bad_output_width;
};

// Steps 3 and 4: the width a character LM adds, after its optional projection.
std::int64_t check_charlm(const State& state, const CharLMSlot& slot) {
  const std::int64_t hidden = slot.model->hidden_size();
  if (state.charlm_projection < 1) return hidden;
  const at::Tensor& weight = state.weight(std::string(slot.projection) + ".weight");
  const at::Tensor& bias = state.weight(std::string(slot.projection) + ".bias");
  if (weight.dim() != 2 || weight.size(1) != hidden) throw SentimentModelError(slot.bad_input_width);
  // A projection narrower than configured would broadcast silently into the input rows.
  if (weight.size(0) != state.charlm_projection || bias.sizes() != at::IntArrayRef{state.charlm_projection}) {
    throw SentimentModelError(slot.bad_output_width);
  }
  return state.charlm_projection;
}

// Step 6: the BiLSTM's weights in at::lstm order; returns its output width.
std::int64_t check_bilstm(State& state, std::int64_t input_width) {
  auto weight = [&](const std::string& name) { return state.weight(name); };
  state.lstm_weights = lstm_parameters(weight, "bilstm.", 2, /*bidirectional=*/true);
  const at::Tensor& first = state.lstm_weights.front();
  if (first.dim() != 2 || first.size(1) != input_width) {
    throw SentimentModelError("sentiment BiLSTM input width disagrees with its embedding profile");
  }
  // A bias of the wrong length would broadcast silently inside the recurrence.
  const std::int64_t hidden = state.bilstm_hidden_dim;
  for (std::size_t k = 0; k < state.lstm_weights.size(); k += 4) {
    const std::int64_t layer_input = k < 8 ? input_width : 2 * hidden;
    if (state.lstm_weights[k].sizes() != at::IntArrayRef{4 * hidden, layer_input} ||
        state.lstm_weights[k + 1].sizes() != at::IntArrayRef{4 * hidden, hidden} ||
        state.lstm_weights[k + 2].sizes() != at::IntArrayRef{4 * hidden} ||
        state.lstm_weights[k + 3].sizes() != at::IntArrayRef{4 * hidden}) {
      throw SentimentModelError("sentiment BiLSTM weights disagree with its hidden size");
    }
  }
  if (std::all_of(state.lstm_weights.begin(), state.lstm_weights.end(),
                  [](const at::Tensor& tensor) { return tensor.scalar_type() == at::kFloat; })) {
    state.prepared_lstm = std::make_unique<const InferenceLstm>(state.lstm_weights, 2, /*bidirectional=*/true);
  }
  return 2 * hidden;
}

// Step 7: every filter against the input width; returns the pooled width of all filters.
std::int64_t check_filters(const State& state, std::int64_t width) {
  std::int64_t pooled = 0;
  for (std::size_t i = 0; i < state.filters.size(); ++i) {
    const ConvFilter& filter = state.filters[i];
    const std::string prefix = "conv_layers." + std::to_string(i);
    const at::Tensor& weight = state.weight(prefix + ".weight");
    const at::Tensor& bias = state.weight(prefix + ".bias");
    // A bias of the wrong length would broadcast silently over the channels.
    if (weight.dim() != 4 || weight.size(1) != 1 || weight.size(2) != filter.height ||
        bias.sizes() != at::IntArrayRef{weight.size(0)}) {
      throw SentimentModelError("sentiment convolution tensor disagrees with its configured filter");
    }
    std::int64_t features = weight.size(0);
    if (!filter.width) {
      if (weight.size(3) != width) throw SentimentModelError("sentiment full-width convolution has the wrong input width");
    } else {
      if (weight.size(3) != *filter.width || width % *filter.width != 0) {
        throw SentimentModelError("sentiment 2D filter does not tile its input width");
      }
      features *= width / *filter.width;
    }
    pooled += features / state.maxpool_width;
  }
  return pooled;
}

// Step 8: the fully connected layers from the pooled width to the classes.
void check_fc_layers(State& state, const JsonValue& config, std::int64_t pooled) {
  std::vector<std::int64_t> outputs;
  for (const JsonValue& shape : config.at("fc_shapes", kConfigPath).as_array("assets.config.fc_shapes")) {
    outputs.push_back(shape.as_integer("assets.config.fc_shapes[]"));
  }
  outputs.push_back(state.num_classes);
  std::int64_t input = pooled;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const std::string prefix = "fc_layers." + std::to_string(i);
    const at::Tensor& weight = state.weight(prefix + ".weight");
    const at::Tensor& bias = state.weight(prefix + ".bias");
    if (weight.sizes() != at::IntArrayRef{outputs[i], input} || bias.sizes() != at::IntArrayRef{outputs[i]}) {
      throw SentimentModelError("sentiment fully connected layer dimensions disagree with the configured architecture");
    }
    input = outputs[i];
  }
  state.num_fc_layers = static_cast<std::int64_t>(outputs.size());
}

void check_tensor_contract(State& state, const JsonValue& config) {
  std::int64_t width = check_embeddings(state);
  if (state.charlm_forward) {
    width += check_charlm(state, {state.charlm_forward.get(), "charmodel_forward_projection",
                                  "sentiment forward charLM projection has an invalid input width",
                                  "sentiment forward charLM projection has an invalid output width"});
  }
  if (state.charlm_backward) {
    width += check_charlm(state, {state.charlm_backward.get(), "charmodel_backward_projection",
                                  "sentiment backward charLM projection has an invalid input width",
                                  "sentiment backward charLM projection has an invalid output width"});
  }
  if (state.transformer) width += state.transformer->hidden_size();
  if (state.bilstm) width = check_bilstm(state, width);
  check_fc_layers(state, config, check_filters(state, width));
}

}  // namespace

std::unique_ptr<SentimentPlan::Impl> load_sentiment_model(std::filesystem::path bundle_path, bool verify_checksums) {
  auto state = std::make_unique<State>();
  state->bundle = std::make_shared<ModelBundle>(std::move(bundle_path), verify_checksums);
  if (state->bundle->processor() != "sentiment") {
    throw SentimentModelError("expected a sentiment bundle, got '" + state->bundle->processor() + "'");
  }
  with_model_error<SentimentModelError>([&] {
    const JsonValue root = parse_json(state->bundle->assets_json());
    const JsonValue& config = root.at("config", "assets");
    read_profile(*state, config);
    read_filters(*state, config);
    read_vocabularies(*state, root);
    bind_tensors(*state);
    load_encoders(*state, root);
    check_tensor_contract(*state, config);
  });
  return state;
}

}  // namespace velmora::detail
