// Loading an "ner" bundle: bundle kind, configuration profile, vocabularies, tag columns and the
// optional character language models and transformer. The tensors follow in tensors.cpp.

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "models/charlm_pair.hpp"
#include "models/model_config.hpp"
#include "ner/model_state.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

void read_config(NERPlan::Impl& state, const JsonValue& config) {
  state.word_emb_dim = config_int(config, "word_emb_dim", 0);
  state.char_emb_dim = config_int(config, "char_emb_dim", 0);
  state.char_hidden_dim = config_int(config, "char_hidden_dim", 0);
  state.char_num_layers = config_int(config, "char_num_layers", 0);
  state.hidden_dim = config_int(config, "hidden_dim", 0);
  state.num_layers = config_int(config, "num_layers", 0);
  state.predict_tagset = config_int(config, "predict_tagset", 0);
  state.lowercase = config_bool(config, "lowercase", true);
  state.char_lowercase = config_bool(config, "char_lowercase", false);
  state.input_transform = config_bool(config, "input_transform", false);
  state.connect_output_layers = config_bool(config, "connect_output_layers", false);
  state.charlm = config_bool(config, "charlm", false);
  const bool char_features = config_bool(config, "char", false);

  const bool dimensions_set = state.word_emb_dim >= 1 && state.char_emb_dim >= 1 && state.char_hidden_dim >= 1 &&
                              state.char_num_layers >= 1 && state.hidden_dim >= 1 && state.num_layers >= 1;
  if (!char_features || !dimensions_set || config_double(config, "char_rec_dropout", 0.0) != 0.0) {
    throw NERModelError(
        "unsupported NER architecture; the native profile requires static and delta word embeddings, a "
        "bidirectional character LSTM without recurrent dropout, and a standard bidirectional tagger LSTM");
  }

  state.use_transformer = config_has(config, "bert_model");

  const JsonValue* scheme = config.find("scheme");
  if (scheme != nullptr && !scheme->is_null() && scheme->as_string("assets.config.scheme") != "bioes") {
    throw NERModelError("the native NER profile requires BIOES tags");
  }
}

void check_vocabulary_layout(const JsonValue& vocab) {
  const JsonValue& classes = vocab.at("_key2class", "assets.vocab");
  static constexpr std::pair<std::string_view, std::string_view> kClasses[] = {
      {"char", "CharVocab"}, {"word", "PretrainedWordVocab"}, {"delta", "WordVocab"}, {"tag", "CompositeVocab"}};
  for (const auto& [key, expected] : kClasses) {
    if (classes.at(key, "assets.vocab._key2class").as_string("") != expected) {
      throw NERModelError("unsupported NER vocabulary layout");
    }
  }
}

bool read_lower_flag(const JsonValue& vocabulary, std::string_view path) {
  const JsonValue* lower = vocabulary.find("lower");
  return lower != nullptr && lower->as_bool(std::string(path) + ".lower");
}

// The column a tag vocabulary key names: a base-10 unsigned number below `columns`.
std::size_t tag_column_index(const std::string& key, std::size_t columns) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long index = std::strtoull(key.c_str(), &end, 10);
  if (end == key.c_str() || errno == ERANGE) {
    throw NERModelError("NER tag vocabulary column is not numeric: '" + key + "'");
  }
  if (end != key.c_str() + key.size() || index >= columns) {
    throw NERModelError("NER tag vocabulary columns are not contiguous");
  }
  return static_cast<std::size_t>(index);
}

void read_tag_vocabulary(NERPlan::Impl& state, const JsonValue& vocab) {
  const JsonValue::Object& columns =
      vocab.at("tag", "assets.vocab").at("_id2unit", "assets.vocab.tag").as_object("assets.vocab.tag._id2unit");
  state.tag_vocab.assign(columns.size(), {});
  for (const auto& [key, tags] : columns) {
    std::vector<std::string>& column = state.tag_vocab[tag_column_index(key, columns.size())];
    // A column already filled by another spelling of the same number (such as "1" and "01").
    if (!column.empty()) throw NERModelError("NER tag vocabulary columns are not contiguous");
    const std::string path = "assets.vocab.tag._id2unit." + key;
    const JsonValue::Array& entries = tags.as_array(path);
    column.reserve(entries.size());
    for (const JsonValue& tag : entries) column.push_back(tag.as_string(path + "[]"));
  }
  if (state.predict_tagset < 0 || static_cast<std::size_t>(state.predict_tagset) >= state.tag_vocab.size()) {
    throw NERModelError("NER predict_tagset is out of range");
  }
}

void load_character_models(NERPlan::Impl& state, const JsonValue& root) {
  auto [forward, backward] =
      load_charlm_pair<NERModelError>(state.bundle, root, "NER charLM directions disagree with their asset slots");
  state.charlm_forward = std::move(forward);
  state.charlm_backward = std::move(backward);
}

}  // namespace

void load_ner_model(NERPlan::Impl& state, std::filesystem::path bundle_path, bool verify_checksums) {
  state.bundle = std::make_shared<ModelBundle>(std::move(bundle_path), verify_checksums);
  if (state.bundle->processor() != "ner") {
    throw NERModelError("expected an NER bundle, got '" + state.bundle->processor() + "'");
  }
  const JsonValue root = parse_json(state.bundle->assets_json());
  read_config(state, root.at("config", "assets"));

  const JsonValue& vocab = root.at("vocab", "assets");
  check_vocabulary_layout(vocab);
  const JsonValue& word = vocab.at("word", "assets.vocab");
  const JsonValue& delta = vocab.at("delta", "assets.vocab");
  state.word_vocab = read_unit2id(word, "assets.vocab.word");
  state.delta_vocab = read_unit2id(delta, "assets.vocab.delta");
  state.char_vocab = read_unit2id(vocab.at("char", "assets.vocab"), "assets.vocab.char");
  state.word_vocab_lower = read_lower_flag(word, "assets.vocab.word");
  state.delta_vocab_lower = read_lower_flag(delta, "assets.vocab.delta");
  read_tag_vocabulary(state, vocab);

  bind_ner_tensors(state);
  if (state.charlm) load_character_models(state, root);
  if (state.use_transformer) {
    state.transformer = std::make_unique<NativeTransformer>(state.bundle, root.at("transformer", "assets"));
  }
  check_ner_tensors(state);
}

}  // namespace velmora::detail
