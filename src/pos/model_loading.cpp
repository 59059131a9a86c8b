// Loading a "pos" bundle: the configuration profile, the vocabularies, the character language
// models and the transformer, then the tensors.

#include <algorithm>
#include <charconv>
#include <limits>
#include <utility>

#include "models/charlm_pair.hpp"
#include "models/composite_xpos.hpp"
#include "models/model_config.hpp"
#include "pos/model_state.hpp"
#include "velmora/json.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

// The one architecture the native tagger runs.
void check_profile(POSModel& state, const JsonValue& config) {
  state.word_emb_dim = config_int(config, "word_emb_dim", 0);
  state.transformed_dim = config_int(config, "transformed_dim", 0);
  state.char_emb_dim = config_int(config, "char_emb_dim", 0);
  state.char_hidden_dim = config_int(config, "char_hidden_dim", 0);
  state.hidden_dim = config_int(config, "hidden_dim", 0);
  state.num_layers = config_int(config, "num_layers", 0);
  state.tag_emb_dim = config_int(config, "tag_emb_dim", 0);
  state.batch_size = config_int(config, "batch_size", 250);
  state.batch_maximum_tokens = config_int(config, "batch_maximum_tokens", 5000);
  state.charlm_transform_dim = config_int(config, "charlm_transform_dim", 0);
  state.uses_charlm = config_bool(config, "charlm", false);

  // Evaluated in order; a failing condition leaves the later keys unread.
  const auto supported = [&] {
    if (!config_bool(config, "char", false) || !config_bool(config, "pretrain", false)) return false;
    if (config_bool(config, "char_bidirectional", false) || config_bool(config, "share_hid", false)) return false;
    if (!state.uses_charlm && (config_int(config, "char_num_layers", 0) != 1 ||
                               config_double(config, "char_rec_dropout") != 0.0)) {
      return false;
    }
    if (config_double(config, "rec_dropout") != 0.0) return false;
    const std::int64_t sizes[] = {state.word_emb_dim, state.transformed_dim, state.char_emb_dim,
                                  state.char_hidden_dim, state.hidden_dim, state.num_layers,
                                  state.tag_emb_dim, state.batch_size, state.batch_maximum_tokens};
    return std::all_of(std::begin(sizes), std::end(sizes), [](std::int64_t size) { return size >= 1; });
  };
  if (!supported()) {
    throw POSModelError(
        "unsupported POS architecture; the native profile requires word/pretrain embeddings, one unidirectional "
        "character LSTM, a non-shared HighwayLSTM, and no recurrent dropout");
  }
  state.uses_transformer = config_has(config, "bert_model");
}

void read_composite_xpos(POSModel& state, const JsonValue& xpos) {
  if (xpos.at("keyed", "assets.vocab.xpos").as_bool("assets.vocab.xpos.keyed")) {
    throw POSModelError("keyed composite XPOS vocabularies are unsupported");
  }
  state.xpos_separator = xpos.at("sep", "assets.vocab.xpos").as_string("assets.vocab.xpos.sep");
  const std::string map_path = "assets.vocab.xpos._id2unit";
  std::vector<std::pair<std::uint64_t, std::vector<std::string>>> components;
  for (const auto& [key, values] : xpos.at("_id2unit", "assets.vocab.xpos").as_object(map_path)) {
    const std::uint64_t position = composite_xpos_index<POSModelError>(key);
    const std::string values_path = map_path + "." + key;
    std::vector<std::string> labels;
    for (const JsonValue& label : values.as_array(values_path)) labels.push_back(label.as_string(values_path + "[]"));
    components.emplace_back(position, std::move(labels));
  }
  std::stable_sort(components.begin(), components.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (components[i].first != i) throw POSModelError(std::string(kCompositeXposKeysNotContiguous));
  }
  for (auto& component : components) state.xpos_components.push_back(std::move(component.second));
}

void read_xpos(POSModel& state, const JsonValue& vocab, const std::string& xpos_class) {
  const JsonValue& xpos = vocab.at("xpos", "assets.vocab");
  state.xpos_composite = xpos_class == "XPOSVocab";
  if (state.xpos_composite) {
    read_composite_xpos(state, xpos);
    return;
  }
  state.xpos_labels = read_id2unit(xpos, "assets.vocab.xpos");
  if (const JsonValue* ignore = xpos.find("ignore")) {
    state.xpos_has_ignore = !ignore->as_array("assets.vocab.xpos.ignore").empty();
  }
}

void read_features(POSModel& state, const JsonValue& vocab) {
  const JsonValue& feats = vocab.at("feats", "assets.vocab");
  if (!feats.at("keyed", "assets.vocab.feats").as_bool("assets.vocab.feats.keyed") ||
      feats.at("sep", "assets.vocab.feats").as_string("assets.vocab.feats.sep") != "|") {
    throw POSModelError("the native POS profile requires keyed, pipe-separated morphological features");
  }
  const std::string map_path = "assets.vocab.feats._id2unit";
  for (const auto& [name, values] : feats.at("_id2unit", "assets.vocab.feats").as_object(map_path)) {
    POSFeatureVocab feature{name, {}};
    const std::string values_path = map_path + "." + name;
    for (const JsonValue& value : values.as_array(values_path)) {
      feature.values.push_back(value.as_string(values_path + "[]"));
    }
    state.feature_vocabs.push_back(std::move(feature));
  }
}

void read_vocabularies(POSModel& state, const JsonValue& assets) {
  const JsonValue& vocab = assets.at("vocab", "assets");
  const std::string& xpos_class =
      vocab.at("_key2class", "assets.vocab").at("xpos", "assets.vocab._key2class").as_string("");
  if (xpos_class != "WordVocab" && xpos_class != "XPOSVocab") {
    throw POSModelError("unsupported XPOS vocabulary class: " + xpos_class);
  }
  const JsonValue& word = vocab.at("word", "assets.vocab");
  state.word_vocab = read_unit2id(word, "assets.vocab.word");
  if (const JsonValue* lower = word.find("lower")) state.word_lower = lower->as_bool("assets.vocab.word.lower");
  state.char_vocab = read_unit2id(vocab.at("char", "assets.vocab"), "assets.vocab.char");
  state.upos_labels = read_id2unit(vocab.at("upos", "assets.vocab"), "assets.vocab.upos");
  read_xpos(state, vocab, xpos_class);
  state.pretrain_vocab = read_unit2id(assets.at("pretrain_vocab", "assets"), "assets.pretrain_vocab");
  read_features(state, vocab);
}

void build_encoders(POSModel& state, const JsonValue& assets) {
  if (state.uses_charlm) {
    auto [forward, backward] =
        load_charlm_pair<POSModelError>(state.bundle, assets, "POS charLM directions disagree with their asset slots");
    state.forward_charlm = std::move(forward);
    state.backward_charlm = std::move(backward);
  }
  if (state.uses_transformer) {
    state.transformer = std::make_unique<NativeTransformer>(state.bundle, assets.at("transformer", "assets"));
  }
}

}  // namespace

void load_pos_model(POSModel& state, std::filesystem::path bundle_path, bool verify_checksums) {
  state.bundle = std::make_shared<ModelBundle>(std::move(bundle_path), verify_checksums);
  if (state.bundle->processor() != "pos") {
    throw POSModelError("expected a POS bundle, got '" + state.bundle->processor() + "'");
  }
  const JsonValue assets = parse_json(state.bundle->assets_json());
  check_profile(state, assets.at("config", "assets"));
  read_vocabularies(state, assets);
  bind_pos_tensors(state);
  build_encoders(state, assets);
  check_pos_tensors(state);
  gather_pos_weights(state);
}

}  // namespace velmora::detail
