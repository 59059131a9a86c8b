// Loading a depparse bundle: profile and runtime-contract checks, vocabularies, the character
// language models and transformer it names, and the tensor contract of its weights.

#include <charconv>
#include <map>

#include "depparse/model_state.hpp"
#include "models/charlm_pair.hpp"
#include "models/composite_xpos.hpp"
#include "models/lstm_parameters.hpp"
#include "models/model_config.hpp"
#include "models/tensor_view.hpp"
#include "models/vocabulary_ids.hpp"

namespace velmora::detail {
namespace {

using Vocabulary = StringMap<std::int64_t>;

[[noreturn]] void unsupported_architecture() {
  throw DepparseModelError(
      "unsupported depparse architecture; the native profile requires word/lemma/POS/pretrain embeddings, one "
      "unidirectional character LSTM, a non-reversed GraphParser HighwayLSTM without recurrent dropout, and "
      "standard deep biaffine heads");
}

void read_config(DepparseModel& model, const JsonValue& config) {
  model.word_emb_dim = config_int(config, "word_emb_dim", 0);
  model.tag_emb_dim = config_int(config, "tag_emb_dim", 0);
  model.transformed_dim = config_int(config, "transformed_dim", 0);
  model.char_emb_dim = config_int(config, "char_emb_dim", 0);
  model.char_hidden_dim = config_int(config, "char_hidden_dim", 0);
  model.hidden_dim = config_int(config, "hidden_dim", 0);
  model.num_layers = config_int(config, "num_layers", 0);
  model.batch_size = config_int(config, "batch_size", 5000);
  model.deep_biaff_hidden_dim = config_int(config, "deep_biaff_hidden_dim", 0);
  model.linearization = config_bool(config, "linearization", false);
  model.distance = config_bool(config, "distance", false);
  model.charlm = config_bool(config, "charlm", false);
  model.uses_transformer = config_has(config, "bert_model");
}

// Conditions are read one at a time, so that keys after the first unmet one are not read.
void check_profile(const DepparseModel& model, const JsonValue& config) {
  auto require = [](bool condition) {
    if (!condition) unsupported_architecture();
  };
  require(config_bool(config, "char", false));
  require(config_bool(config, "pretrain", false));
  require(!config_bool(config, "char_bidirectional", false));
  require(!config_bool(config, "use_arc_embedding", false));
  require(!config_bool(config, "reversed", false));
  require(config_bool(config, "use_upos", true));
  require(config_bool(config, "use_xpos", true));
  require(config_bool(config, "use_ufeats", true));
  if (!model.charlm) {
    require(config_int(config, "char_num_layers", 0) == 1);
    require(config_double(config, "char_rec_dropout") == 0.0);
  }
  require(config_double(config, "rec_dropout") == 0.0);
  for (std::int64_t value : {model.word_emb_dim, model.tag_emb_dim, model.transformed_dim, model.char_emb_dim,
                             model.char_hidden_dim, model.hidden_dim, model.num_layers, model.batch_size,
                             model.deep_biaff_hidden_dim}) {
    require(value >= 1);
  }
}

void check_runtime_contract(const JsonValue& assets) {
  const std::string& input = assets.at("runtime_contract", "assets")
                                 .at("depparse_ufeats_input", "assets.runtime_contract")
                                 .as_string("assets.runtime_contract.depparse_ufeats_input");
  if (input != "duplicated_pos_emb") {
    throw DepparseModelError(
        "unsupported depparse UFeats input contract; released Dorvek 1.14 checkpoints require duplicated_pos_emb");
  }
}

bool read_lower_flag(const JsonValue& vocabulary, const std::string& path) {
  const JsonValue* lower = vocabulary.find("lower");
  return lower != nullptr && lower->as_bool(path + ".lower");
}

// A composite XPOS vocabulary: one unit map per component, keyed "0", "1", ... in the assets.
void read_composite_xpos(DepparseModel& model, const JsonValue& xpos) {
  constexpr std::string_view kPath = "assets.vocab.xpos";
  if (xpos.at("keyed", kPath).as_bool("assets.vocab.xpos.keyed")) {
    throw DepparseModelError("keyed composite XPOS vocabularies are unsupported");
  }
  model.xpos_separator = xpos.at("sep", kPath).as_string("assets.vocab.xpos.sep");
  const std::string map_path = std::string(kPath) + "._unit2id";
  std::multimap<std::uint64_t, Vocabulary> components;
  for (const auto& [key, units] : xpos.at("_unit2id", kPath).as_object(map_path)) {
    const std::uint64_t index = composite_xpos_index<DepparseModelError>(key);
    const std::string component_path = map_path + "." + key;
    Vocabulary ids;
    for (const auto& [unit, id] : units.as_object(component_path)) {
      ids.emplace(unit, id.as_integer(component_path + "." + unit));
    }
    components.emplace(index, std::move(ids));
  }
  std::uint64_t expected = 0;
  for (auto& [index, ids] : components) {
    if (index != expected++) throw DepparseModelError(std::string(kCompositeXposKeysNotContiguous));
    model.xpos_components.push_back(std::move(ids));
  }
}

void read_vocabularies(DepparseModel& model, const JsonValue& assets) {
  const JsonValue& vocab = assets.at("vocab", "assets");
  const std::string& xpos_class =
      vocab.at("_key2class", "assets.vocab").at("xpos", "assets.vocab._key2class").as_string("assets.vocab._key2class.xpos");
  if (xpos_class == "XPOSVocab") {
    model.xpos_composite = true;
  } else if (xpos_class != "WordVocab") {
    throw DepparseModelError("unsupported XPOS vocabulary class: " + xpos_class);
  }

  const JsonValue& word = vocab.at("word", "assets.vocab");
  model.word_vocab = read_unit2id(word, "assets.vocab.word");
  model.word_lower = read_lower_flag(word, "assets.vocab.word");
  const JsonValue& lemma = vocab.at("lemma", "assets.vocab");
  model.lemma_vocab = read_unit2id(lemma, "assets.vocab.lemma");
  model.lemma_lower = read_lower_flag(lemma, "assets.vocab.lemma");
  model.char_vocab = read_unit2id(vocab.at("char", "assets.vocab"), "assets.vocab.char");
  model.upos_vocab = read_unit2id(vocab.at("upos", "assets.vocab"), "assets.vocab.upos");

  const JsonValue& xpos = vocab.at("xpos", "assets.vocab");
  if (model.xpos_composite) {
    read_composite_xpos(model, xpos);
  } else {
    model.xpos_vocab = read_unit2id(xpos, "assets.vocab.xpos");
    const JsonValue* ignore = xpos.find("ignore");
    model.xpos_has_ignore = ignore != nullptr && !ignore->as_array("assets.vocab.xpos.ignore").empty();
  }

  model.pretrain_vocab = read_unit2id(assets.at("pretrain_vocab", "assets"), "assets.pretrain_vocab");

  const JsonValue& deprel = vocab.at("deprel", "assets.vocab");
  for (const JsonValue& entry : deprel.at("_id2unit", "assets.vocab.deprel").as_array("assets.vocab.deprel._id2unit")) {
    model.deprels.push_back(entry.as_string("assets.vocab.deprel._id2unit[]"));
  }

  const JsonValue& feats = vocab.at("feats", "assets.vocab");
  const bool keyed = feats.at("keyed", "assets.vocab.feats").as_bool("assets.vocab.feats.keyed");
  if (!keyed || feats.at("sep", "assets.vocab.feats").as_string("assets.vocab.feats.sep") != "|") {
    throw DepparseModelError("the native depparse profile requires keyed, pipe-separated morphological features");
  }
  model.feature_count = feats.at("_id2unit", "assets.vocab.feats").as_object("assets.vocab.feats._id2unit").size();
}

void bind_tensor_views(DepparseModel& model) {
  for (const TensorDescriptor& descriptor : model.bundle->tensors()) {
    model.tensors.emplace(descriptor.name, bundle_tensor_view<DepparseModelError>(*model.bundle, descriptor));
  }
}

void build_encoders(DepparseModel& model, const JsonValue& assets) {
  if (model.charlm) {
    auto [forward, backward] = load_charlm_pair<DepparseModelError>(
        model.bundle, assets, "depparse charLM directions disagree with their asset slots");
    model.forward_charlm = std::move(forward);
    model.backward_charlm = std::move(backward);
  }
  if (model.uses_transformer) {
    model.transformer = std::make_unique<NativeTransformer>(model.bundle, assets.at("transformer", "assets"));
  }
}

const std::string kCharLstmPrefix = "charmodel.charlstm.lstm.";

std::string layer_lstm_prefix(std::int64_t layer) { return "parserlstm.lstm." + std::to_string(layer) + ".lstm."; }

std::vector<std::string> deep_biaffine_names(const std::string& prefix) {
  return {prefix + ".W1.weight", prefix + ".W1.bias", prefix + ".W2.weight",
          prefix + ".W2.bias", prefix + ".scorer.W_bilin.weight", prefix + ".scorer.W_bilin.bias"};
}

void require_deep_biaffine_tensors(const DepparseModel& model, const std::string& prefix) {
  for (const std::string& name : deep_biaffine_names(prefix)) depparse_tensor(model, name);
}

std::vector<at::Tensor> depparse_char_lstm_weights(const DepparseModel& model) {
  auto weight = [&](const std::string& name) { return depparse_tensor(model, name); };
  return lstm_parameters(weight, kCharLstmPrefix, 1, false);
}

std::vector<at::Tensor> depparse_parser_lstm_weights(const DepparseModel& model, std::int64_t layer) {
  auto weight = [&](const std::string& name) { return depparse_tensor(model, name); };
  // The bundle numbers each layer's LSTM as its own one-layer module: every name ends in "l0".
  return lstm_parameters(weight, layer_lstm_prefix(layer), 1, true);
}

void require_tensors(const DepparseModel& model) {
  for (const char* name : {"word_emb.weight", "lemma_emb.weight", "upos_emb.weight", "pretrained_emb.weight",
                           "trans_pretrained.weight", "parserlstm_h_init", "parserlstm_c_init"}) {
    depparse_tensor(model, name);
  }
  require_deep_biaffine_tensors(model, "unlabeled");
  require_deep_biaffine_tensors(model, "deprel");
  if (model.xpos_composite) {
    for (std::size_t i = 0; i < model.xpos_components.size(); ++i) {
      depparse_tensor(model, "xpos_emb." + std::to_string(i) + ".weight");
    }
  } else {
    depparse_tensor(model, "xpos_emb.weight");
  }
  if (!model.charlm) {
    for (const char* name : {"charmodel.char_emb.weight", "charmodel.char_attn.weight", "charmodel.charlstm_h_init",
                             "charmodel.charlstm_c_init"}) {
      depparse_tensor(model, name);
    }
    depparse_char_lstm_weights(model);
    depparse_tensor(model, "trans_char.weight");
  }
  for (std::int64_t layer = 0; layer < model.num_layers; ++layer) {
    depparse_parser_lstm_weights(model, layer);
    const std::string index = std::to_string(layer);
    depparse_tensor(model, "parserlstm.highway." + index + ".weight");
    depparse_tensor(model, "parserlstm.highway." + index + ".bias");
    depparse_tensor(model, "parserlstm.gate." + index + ".weight");
    depparse_tensor(model, "parserlstm.gate." + index + ".bias");
  }
  if (model.linearization) require_deep_biaffine_tensors(model, "linearization");
  if (model.distance) require_deep_biaffine_tensors(model, "distance");
  for (std::uint64_t i = 0; i < model.feature_count; ++i) depparse_tensor(model, "ufeats_emb." + std::to_string(i) + ".weight");
}

std::int64_t input_width(const DepparseModel& model) {
  const std::int64_t characters = model.charlm ? model.forward_charlm->hidden_size() + model.backward_charlm->hidden_size()
                                               : model.transformed_dim;
  const std::int64_t transformer = model.uses_transformer ? model.transformer->hidden_size() : 0;
  return 2 * model.word_emb_dim + 2 * model.tag_emb_dim + model.transformed_dim + characters + transformer;
}

void check_dimensions(const DepparseModel& model) {
  auto rows = [&](std::string_view name) { return depparse_tensor(model, name).size(0); };
  auto size = [](std::size_t count) { return static_cast<std::int64_t>(count); };
  const bool agrees = rows("word_emb.weight") == size(model.word_vocab.size()) &&
                      depparse_tensor(model, "word_emb.weight").size(1) == model.word_emb_dim &&
                      rows("lemma_emb.weight") == size(model.lemma_vocab.size()) &&
                      depparse_tensor(model, "lemma_emb.weight").size(1) == model.word_emb_dim &&
                      rows("upos_emb.weight") == size(model.upos_vocab.size()) &&
                      rows("pretrained_emb.weight") == size(model.pretrain_vocab.size()) &&
                      depparse_tensor(model, "parserlstm.lstm.0.lstm.weight_ih_l0").size(1) == input_width(model) &&
                      rows("deprel.scorer.W_bilin.bias") == size(model.deprels.size()) - 4 &&
                      // Ids index their tables as the vocabularies give them.
                      vocabulary_ids_fit(model.word_vocab, depparse_tensor(model, "word_emb.weight")) &&
                      vocabulary_ids_fit(model.lemma_vocab, depparse_tensor(model, "lemma_emb.weight")) &&
                      vocabulary_ids_fit(model.upos_vocab, depparse_tensor(model, "upos_emb.weight")) &&
                      vocabulary_ids_fit(model.pretrain_vocab, depparse_tensor(model, "pretrained_emb.weight"));
  if (!agrees) throw DepparseModelError("depparse tensor dimensions disagree with bundled configuration or vocabularies");
  if (model.xpos_composite) {
    for (std::size_t i = 0; i < model.xpos_components.size(); ++i) {
      const at::Tensor& table = depparse_tensor(model, "xpos_emb." + std::to_string(i) + ".weight");
      if (rows("xpos_emb." + std::to_string(i) + ".weight") != size(model.xpos_components[i].size()) ||
          !vocabulary_ids_fit(model.xpos_components[i], table)) {
        throw DepparseModelError("composite XPOS embedding dimensions disagree with its vocabulary");
      }
    }
  } else if (rows("xpos_emb.weight") != size(model.xpos_vocab.size()) ||
             !vocabulary_ids_fit(model.xpos_vocab, depparse_tensor(model, "xpos_emb.weight"))) {
    throw DepparseModelError("XPOS embedding dimensions disagree with its vocabulary");
  }
  if (!model.charlm && (rows("charmodel.char_emb.weight") != size(model.char_vocab.size()) ||
                        !vocabulary_ids_fit(model.char_vocab, depparse_tensor(model, "charmodel.char_emb.weight")))) {
    throw DepparseModelError("depparse character tensor dimensions disagree with its vocabulary");
  }
}

void group_weights(DepparseModel& model) {
  auto weight = [&](const std::string& name) -> const at::Tensor& { return depparse_tensor(model, name); };
  if (!model.charlm) model.char_model = bind_word_character_model(weight);
  model.layers = bind_highway_lstm_layers(weight, "parserlstm", model.num_layers);
}

}  // namespace

const at::Tensor& depparse_tensor(const DepparseModel& model, std::string_view name) {
  const auto found = model.tensors.find(name);
  if (found == model.tensors.end()) throw DepparseModelError("missing depparse tensor: '" + std::string(name) + "'");
  return found->second;
}

std::unique_ptr<DepparseModel> load_depparse_model(std::filesystem::path bundle_path, bool verify_checksums) {
  return with_model_error<DepparseModelError>([&] {
    auto model = std::make_unique<DepparseModel>();
    model->bundle = std::make_shared<ModelBundle>(std::move(bundle_path), verify_checksums);
    if (model->bundle->processor() != "depparse") {
      throw DepparseModelError("expected a depparse bundle, got '" + model->bundle->processor() + "'");
    }
    const JsonValue assets = parse_json(model->bundle->assets_json());
    const JsonValue& config = assets.at("config", "assets");
    read_config(*model, config);
    check_profile(*model, config);
    check_runtime_contract(assets);
    read_vocabularies(*model, assets);
    bind_tensor_views(*model);
    build_encoders(*model, assets);
    require_tensors(*model);
    check_dimensions(*model);
    group_weights(*model);
    return model;
  });
}

}  // namespace velmora::detail
