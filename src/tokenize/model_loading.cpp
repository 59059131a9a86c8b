// Loading a tokenize bundle into the tokenizer's model state.

#include <array>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

#include "models/lstm_parameters.hpp"
#include "models/model_config.hpp"
#include "models/scaled_size.hpp"
#include "models/tensor_view.hpp"
#include "tokenize/features.hpp"
#include "tokenize/model_loading.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

constexpr std::string_view kConfigPath = "assets.config";

bool is_known_feature(std::string_view name) {
  static const std::unordered_set<std::string_view> known_features{
      "space_before",  "capitalized", "numeric",      "end_of_para", "start_of_para",
      "labeled_field", "phone_id",    "date_pattern", "currency"};
  return known_features.contains(name);
}

void read_config(TokenizerPlan::Impl& state, const JsonValue& root, const JsonValue& config) {
  state.emb_dim = config.at("emb_dim", kConfigPath).as_integer("");
  state.hidden_dim = config.at("hidden_dim", kConfigPath).as_integer("");
  state.feat_dim = config.at("feat_dim", kConfigPath).as_integer("");
  state.rnn_layers = config.at("rnn_layers", kConfigPath).as_integer("");
  state.hierarchical = config.at("hierarchical", kConfigPath).as_bool("");
  state.use_mwt = config.at("use_mwt", kConfigPath).as_bool("");
  state.hier_invtemp = config.at("hier_invtemp", kConfigPath).as_number("");
  state.skip_newline = config.at("skip_newline", kConfigPath).as_bool("");
  state.shorthand = config.at("shorthand", kConfigPath).as_string("");
  state.lang = config.at("lang", kConfigPath).as_string("");

  if (const JsonValue* batch_size = config.find("batch_size")) {
    state.batch_size = batch_size->as_integer("assets.config.batch_size");
    if (state.batch_size <= 0) throw TokenizerModelError("tokenizer batch size must be positive");
  }
  if (const JsonValue* charlm = config.find("charlm_forward_file"); charlm != nullptr && !charlm->is_null()) {
    throw TokenizerModelError("character-LM tokenizers are not supported by this profile");
  }
  if (const JsonValue* conv_res = config.find("conv_res"); conv_res != nullptr && !conv_res->is_null()) {
    throw TokenizerModelError("convolutional residual tokenizers are not supported");
  }
  if (state.rnn_layers != 1 || !state.hierarchical) {
    throw TokenizerModelError("this tokenizer profile requires a one-layer hierarchical model");
  }

  if (const JsonValue* use_dictionary = config.find("use_dictionary")) {
    state.use_dictionary = use_dictionary->as_bool("");
  }
  if (state.use_dictionary) {
    state.num_dict_feat = config.at("num_dict_feat", kConfigPath).as_integer("");
    if (state.num_dict_feat <= 0) throw TokenizerModelError("dictionary tokenizer feature window must be positive");
    for (const JsonValue& entry : root.at("lexicon", "assets").as_array("assets.lexicon")) {
      add_lexicon_entry(state, entry.as_string("assets.lexicon[]"));
    }
  }

  for (const JsonValue& name : config.at("feat_funcs", kConfigPath).as_array("assets.config.feat_funcs")) {
    state.feat_funcs.push_back(name.as_string("assets.config.feat_funcs[]"));
  }
  for (const std::string& name : state.feat_funcs) {
    if (!is_known_feature(name)) throw TokenizerModelError("unsupported tokenizer feature: " + name);
  }
}

void read_vocabulary(TokenizerPlan::Impl& state, const JsonValue& vocab) {
  const JsonValue::Object& members = vocab.at("_unit2id", "assets.vocab").as_object("assets.vocab._unit2id");
  state.unit_to_id.reserve(members.size());
  for (const auto& [unit, id] : members) state.unit_to_id.emplace(unit, id.as_integer("assets.vocab._unit2id"));
  const auto pad = state.unit_to_id.find("<PAD>");
  const auto unk = state.unit_to_id.find("<UNK>");
  if (pad == state.unit_to_id.end() || unk == state.unit_to_id.end()) {
    throw TokenizerModelError("tokenizer vocabulary lacks <PAD> or <UNK>");
  }
  state.pad_id = pad->second;
  state.unk_id = unk->second;
}

constexpr std::array<std::string_view, 26> kRequiredTensors{
    "embeddings.weight",
    "rnn.weight_ih_l0",  "rnn.weight_hh_l0",  "rnn.bias_ih_l0",  "rnn.bias_hh_l0",
    "rnn.weight_ih_l0_reverse",  "rnn.weight_hh_l0_reverse",  "rnn.bias_ih_l0_reverse",  "rnn.bias_hh_l0_reverse",
    "tok_clf.weight",    "tok_clf.bias",      "sent_clf.weight", "sent_clf.bias",
    "mwt_clf.weight",    "mwt_clf.bias",
    "rnn2.weight_ih_l0", "rnn2.weight_hh_l0", "rnn2.bias_ih_l0", "rnn2.bias_hh_l0",
    "rnn2.weight_ih_l0_reverse", "rnn2.weight_hh_l0_reverse", "rnn2.bias_ih_l0_reverse", "rnn2.bias_hh_l0_reverse",
    "tok_clf2.weight",   "sent_clf2.weight",  "mwt_clf2.weight"};

// Largest projection table built at load, in floats (64 MiB); a larger vocabulary keeps the
// per-pass projection of the first layer's input.
constexpr std::int64_t kProjectionTableLimit = std::int64_t{16} << 20;

// The first layer's input projection of every vocabulary row, and the projection rows of the
// features, so that inference gathers instead of multiplying. Skipped when the shapes do not
// fit an LSTM input of [embedding | features]: inference then fails in the LSTM as it would.
void precompute_input_projections(TokenizerPlan::Impl& state) {
  const at::Tensor& embeddings = state.weight("embeddings.weight");
  if (embeddings.dim() != 2 || state.feat_dim < 0 || embeddings.size(1) + state.feat_dim != state.rnn.input_size()) {
    return;
  }
  const at::Tensor& weights = state.rnn.first_layer_input_weights();
  if (embeddings.size(0) * weights.size(1) > kProjectionTableLimit) return;
  // The LSTM's own product, with zero features: the same bits whatever the thread count.
  state.unit_projections = state.rnn.first_layer_projections(
      at::cat({embeddings.to(at::kFloat), at::zeros({embeddings.size(0), state.feat_dim}, at::kFloat)}, 1));
  state.feature_projections = weights.narrow(0, embeddings.size(1), state.feat_dim).contiguous();
}

// Inference takes its sizes from some tensors and reads others with them: the classifier rows
// and biases with the classifier count, the LSTM outputs with the classifier width, the initial
// states with the LSTM width. Every tensor must therefore have the shape the network needs; the
// first LSTM's input width alone is left to the LSTM, which checks it against the features.
void check_shapes(const TokenizerPlan::Impl& state) {
  constexpr std::int64_t kAny = std::numeric_limits<std::int64_t>::min();  // any size (never a product)
  const std::int64_t H = state.hidden_dim;
  if (H < 1) throw TokenizerModelError("tokenizer hidden_dim must be positive");
  const std::int64_t H2 = scaled_size(H, 2);
  const std::int64_t H4 = scaled_size(H, 4);
  auto check = [&](const std::string& name, std::vector<std::int64_t> expected) {
    const at::Tensor& tensor = state.weight(name);
    bool fits = tensor.dim() == static_cast<std::int64_t>(expected.size());
    for (std::size_t d = 0; fits && d < expected.size(); ++d) {
      fits = expected[d] == kAny || tensor.size(static_cast<std::int64_t>(d)) == expected[d];
    }
    if (!fits) throw TokenizerModelError("tokenizer tensor has an unexpected shape: '" + name + "'");
  };
  check("embeddings.weight", {kAny, kAny});
  for (const char* direction : {"", "_reverse"}) {
    const std::string suffix = std::string("_l0") + direction;
    check("rnn.weight_ih" + suffix, {H4, kAny});
    check("rnn.weight_hh" + suffix, {H4, H});
    check("rnn.bias_ih" + suffix, {H4});
    check("rnn.bias_hh" + suffix, {H4});
    check("rnn2.weight_ih" + suffix, {H4, H2});
    check("rnn2.weight_hh" + suffix, {H4, H});
    check("rnn2.bias_ih" + suffix, {H4});
    check("rnn2.bias_hh" + suffix, {H4});
  }
  for (const char* head : {"tok_clf", "sent_clf", "mwt_clf"}) {
    if (!state.use_mwt && std::string_view(head) == "mwt_clf") continue;
    check(std::string(head) + ".weight", {1, H2});
    check(std::string(head) + ".bias", {1});
    check(std::string(head) + "2.weight", {1, H2});
  }
}

void bind_tensors(TokenizerPlan::Impl& state) {
  for (const TensorDescriptor& descriptor : state.bundle->tensors()) {
    if (descriptor.dtype != "float32") {
      throw TokenizerModelError("the native tokenizer currently requires float32 weights");
    }
    state.tensors.insert_or_assign(descriptor.name, bundle_tensor_view<TokenizerModelError>(*state.bundle, descriptor));
  }
  for (std::string_view name : kRequiredTensors) {
    if (!state.use_mwt && name.starts_with("mwt_")) continue;
    if (!state.tensors.contains(name)) {
      throw TokenizerModelError("tokenizer bundle lacks required tensor: '" + std::string(name) + "'");
    }
  }
  check_shapes(state);
  auto weight = [&](const std::string& name) { return state.weight(name); };
  state.rnn_parameters = lstm_parameters(weight, "rnn.", 1, true);
  state.rnn2_parameters = lstm_parameters(weight, "rnn2.", 1, true);
  const at::Tensor zeros = at::zeros({2, 1, state.hidden_dim}, at::kFloat);
  state.initial_state = {zeros, zeros.clone()};
  state.rnn = InferenceLstm(state.rnn_parameters, 1, true);
  state.rnn2 = InferenceLstm(state.rnn2_parameters, 1, true);
  precompute_input_projections(state);

  // Each stage's classifiers as the rows of one matrix, scored together.
  std::vector<std::string> heads = {"tok_clf", "sent_clf"};
  if (state.use_mwt) heads.emplace_back("mwt_clf");
  std::vector<at::Tensor> weights;
  std::vector<at::Tensor> biases;
  std::vector<at::Tensor> second_weights;
  for (const std::string& head : heads) {
    weights.push_back(state.weight(head + ".weight"));
    biases.push_back(state.weight(head + ".bias"));
    second_weights.push_back(state.weight(head + "2.weight"));
  }
  state.head_weights = at::cat(weights, 0).contiguous();
  state.head_bias = at::cat(biases, 0);
  state.second_head_weights = at::cat(second_weights, 0).contiguous();
}

// Every vocabulary id must name a row of the embedding table, so that no unit can read outside
// the mapped weights.
void check_vocabulary_ids(const TokenizerPlan::Impl& state) {
  const at::Tensor& embedding = state.weight("embeddings.weight");
  const std::int64_t rows = embedding.dim() == 2 ? embedding.size(0) : 0;
  for (const auto& [unit, id] : state.unit_to_id) {
    if (id < 0 || id >= rows) {
      throw TokenizerModelError("tokenizer vocabulary id is outside the embedding table: " + unit);
    }
  }
}

}  // namespace

std::unique_ptr<TokenizerPlan::Impl> load_tokenizer_model(std::filesystem::path bundle_path, bool verify_checksums) {
  auto state = std::make_unique<TokenizerPlan::Impl>();
  state->bundle = std::make_shared<ModelBundle>(std::move(bundle_path), verify_checksums);
  if (state->bundle->processor() != "tokenize") {
    throw TokenizerModelError("expected a tokenize bundle, got '" + state->bundle->processor() + "'");
  }
  with_model_error<TokenizerModelError>([&] {
    const JsonValue root = parse_json(state->bundle->assets_json());
    const JsonValue& config = root.at("config", "assets");
    const JsonValue& vocab = root.at("vocab", "assets");
    read_config(*state, root, config);
    read_vocabulary(*state, vocab);
  });
  bind_tensors(*state);
  check_vocabulary_ids(*state);
  return state;
}

}  // namespace velmora::detail
