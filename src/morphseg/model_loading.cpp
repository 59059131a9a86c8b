// Loading a "morphseg" bundle: the one supported profile (a two-layer BiLSTM encoder, argmax
// decoding, no auxiliary features), the two vocabularies and the float32 weights.

#include <string>
#include <utility>
#include <vector>

#include "models/lstm_parameters.hpp"
#include "models/model_config.hpp"
#include "models/scaled_size.hpp"
#include "models/tensor_view.hpp"
#include "morphseg/model_state.hpp"
#include "velmora/json.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

using Model = MorphSegPlan::Impl;

constexpr std::int64_t kSupportedLayers = 2;

void read_config(Model& model, const JsonValue& assets) {
  const JsonValue& config = assets.at("config", "assets");
  // Each key is looked up and typed under the object's own path.
  auto positive = [&](std::string_view key) {
    const std::int64_t value = config.at(key, "assets.config").as_integer("assets.config");
    if (value <= 0) throw MorphSegModelError("MorphSeg config value must be positive: " + std::string(key));
    return value;
  };
  model.embedding_size = positive("embedding_size");
  model.hidden_size = positive("hidden_size");
  model.num_layers = positive("num_layers");
  model.batch_size = positive("batch_size");
  const std::int64_t tau = positive("tau");
  const bool use_crf = config.at("use_crf", "assets.config").as_bool("assets.config.use_crf");
  const bool use_features = config.at("use_features", "assets.config").as_bool("assets.config.use_features");
  if (model.num_layers != kSupportedLayers || tau != 1 || use_crf || use_features) {
    throw MorphSegModelError(
        "unsupported MorphSeg architecture; the native profile requires a two-layer BiLSTM, tau=1, argmax "
        "decoding, and no auxiliary features");
  }
}

std::vector<std::string> read_vocabulary(const JsonValue& assets, const std::string& key) {
  const std::string path = "assets." + key;
  const JsonValue::Array& entries = assets.at(key, "assets").as_array(path);
  std::vector<std::string> vocabulary;
  vocabulary.reserve(entries.size());
  for (std::size_t index = 0; index < entries.size(); ++index) {
    vocabulary.push_back(entries[index].as_string(path + "[" + std::to_string(index) + "]"));
  }
  return vocabulary;
}

void read_vocabularies(Model& model, const JsonValue& assets) {
  model.source_vocabulary = read_vocabulary(assets, "source_vocabulary");
  model.target_vocabulary = read_vocabulary(assets, "target_vocabulary");
  for (const std::vector<std::string>* vocabulary : {&model.source_vocabulary, &model.target_vocabulary}) {
    if (vocabulary->size() < 2 || (*vocabulary)[0] != "<PAD>" || (*vocabulary)[1] != "<UNK>") {
      throw MorphSegModelError("MorphSeg vocabularies must begin with <PAD>, <UNK>");
    }
  }
  model.source_index.max_load_factor(1.0f);
  model.source_index.reserve(model.source_vocabulary.size());
  for (std::size_t id = 0; id < model.source_vocabulary.size(); ++id) {
    if (!model.source_index.emplace(model.source_vocabulary[id], static_cast<std::int64_t>(id)).second) {
      throw MorphSegModelError("MorphSeg source vocabulary contains duplicates");
    }
  }
}

void bind_tensors(Model& model) {
  model.tensors.max_load_factor(1.0f);
  model.tensors.reserve(model.bundle->tensors().size());
  for (const TensorDescriptor& descriptor : model.bundle->tensors()) {
    if (descriptor.dtype != "float32") {
      throw MorphSegModelError("MorphSeg tensors must use float32: '" + descriptor.name + "'");
    }
    model.tensors.insert_or_assign(descriptor.name, bundle_tensor_view<MorphSegModelError>(*model.bundle, descriptor));
  }
}

const at::Tensor& weight(const Model& model, const std::string& name) {
  const auto found = model.tensors.find(name);
  if (found == model.tensors.end()) throw MorphSegModelError("missing MorphSeg tensor: '" + name + "'");
  return found->second;
}

void check_shapes(const Model& model) {
  const std::int64_t S = static_cast<std::int64_t>(model.source_vocabulary.size());
  const std::int64_t A = static_cast<std::int64_t>(model.target_vocabulary.size());
  const std::int64_t E = model.embedding_size;
  const std::int64_t H = model.hidden_size;
  const std::int64_t L = model.num_layers;  // 2: the profile was checked
  const std::int64_t H2 = scaled_size(H, 2);
  const std::int64_t H4 = scaled_size(H, 4);
  auto check = [&](const std::string& name, std::vector<std::int64_t> expected) {
    if (weight(model, name).sizes() != at::IntArrayRef(expected)) {
      throw MorphSegModelError("MorphSeg tensor has an unexpected shape: '" + name + "'");
    }
  };
  check("embedding.weight", {S, E});
  check("encoder.h_0", {2 * L, 1, H});
  check("encoder.c_0", {2 * L, 1, H});
  for (std::int64_t layer = 0; layer < L; ++layer) {
    for (const char* direction : {"", "_reverse"}) {
      const std::string suffix = std::to_string(layer) + direction;
      check("encoder.lstm.weight_ih_l" + suffix, {H4, layer == 0 ? E : H2});
      check("encoder.lstm.weight_hh_l" + suffix, {H4, H});
      check("encoder.lstm.bias_ih_l" + suffix, {H4});
      check("encoder.lstm.bias_hh_l" + suffix, {H4});
    }
  }
  check("encoder.reduce_dim.weight", {H, H2});
  check("encoder.reduce_dim.bias", {H});
  check("classifier.1.weight", {A, H});
  check("classifier.1.bias", {A});
}

}  // namespace

std::unique_ptr<MorphSegPlan::Impl> load_morphseg_model(std::filesystem::path bundle_path, bool verify_checksums) {
  auto model = std::make_unique<Model>();
  model->bundle = std::make_shared<ModelBundle>(std::move(bundle_path), verify_checksums);
  if (model->bundle->processor() != "morphseg") {
    throw MorphSegModelError("expected a morphseg bundle, got '" + model->bundle->processor() + "'");
  }
  with_model_error<MorphSegModelError>([&] {
    const JsonValue assets = parse_json(model->bundle->assets_json());
    read_config(*model, assets);
    read_vocabularies(*model, assets);
  });
  bind_tensors(*model);
  check_shapes(*model);
  model->lstm_weights = lstm_parameters([&](const std::string& name) { return weight(*model, name); },
                                        "encoder.lstm.", static_cast<int>(kSupportedLayers), true);
  model->encoder = InferenceLstm(model->lstm_weights, static_cast<int>(kSupportedLayers), true);
  return model;
}

}  // namespace velmora::detail
