// Loading a "langid" bundle: configuration, character vocabulary, tag table and weights.

#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "langid/model_state.hpp"
#include "models/lstm_parameters.hpp"
#include "models/model_config.hpp"
#include "models/scaled_size.hpp"
#include "models/tensor_view.hpp"
#include "velmora/json.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

using Model = LangIDPlan::Impl;

void read_config(Model& model, const JsonValue& assets) {
  const JsonValue& config = assets.at("config", "assets");
  auto positive = [&](std::string_view key) {
    const std::int64_t value = config.at(key, "assets.config").as_integer("assets.config");
    if (value <= 0) throw LangIDModelError("LangID config value must be positive: " + std::string(key));
    return value;
  };
  model.num_layers = positive("num_layers");
  model.embedding_dim = positive("embedding_dim");
  model.hidden_dim = positive("hidden_dim");
}

void read_vocabularies(Model& model, const JsonValue& assets) {
  const JsonValue::Object& chars = assets.at("char_to_idx", "assets").as_object("assets.char_to_idx");
  model.char_to_id.reserve(chars.size());
  for (const auto& [character, id] : chars) model.char_to_id.emplace(character, id.as_integer("assets.char_to_idx"));
  const auto unknown = model.char_to_id.find("UNK");
  const auto padding = model.char_to_id.find("<PAD>");
  if (unknown == model.char_to_id.end() || padding == model.char_to_id.end()) {
    throw LangIDModelError("LangID vocabulary lacks UNK or <PAD>");
  }
  model.unknown_id = unknown->second;
  model.padding_id = padding->second;

  const JsonValue::Object& tags = assets.at("tag_to_idx", "assets").as_object("assets.tag_to_idx");
  const auto count = static_cast<std::int64_t>(tags.size());
  model.tags.assign(tags.size(), std::string());
  std::vector<bool> seen(tags.size(), false);
  for (const auto& [tag, value] : tags) {
    const std::int64_t id = value.as_integer("assets.tag_to_idx");
    if (id < 0 || id >= count || seen[static_cast<std::size_t>(id)]) {
      throw LangIDModelError("LangID tag ids must be contiguous and unique");
    }
    seen[static_cast<std::size_t>(id)] = true;
    model.tags[static_cast<std::size_t>(id)] = tag;
  }
}

bool is_langid_dtype(const std::string& dtype) {
  return dtype == "int64" || dtype == "float16" || dtype == "float32" || dtype == "float64" || dtype == "bfloat16";
}

void bind_tensors(Model& model) {
  for (const TensorDescriptor& descriptor : model.bundle->tensors()) {
    if (!is_langid_dtype(descriptor.dtype)) {
      throw LangIDModelError("ATen view does not support LangID bundle dtype: " + descriptor.dtype);
    }
    model.tensors.insert_or_assign(descriptor.name, bundle_tensor_view<LangIDModelError>(*model.bundle, descriptor));
  }
}

const at::Tensor& weight(const Model& model, const std::string& name) {
  const auto found = model.tensors.find(name);
  if (found == model.tensors.end()) throw LangIDModelError("missing LangID weight: '" + name + "'");
  return found->second;
}

void check_shape(const Model& model, const std::string& name, std::vector<std::int64_t> expected) {
  if (weight(model, name).sizes() != at::IntArrayRef(expected)) {
    throw LangIDModelError("LangID tensor has an unexpected shape: '" + name + "'");
  }
}

// Every character id must name a row of the embedding table, so that no character of a text can
// make the lookup read outside the mapped weights.
void check_character_ids(const Model& model) {
  const auto rows = static_cast<std::int64_t>(model.char_to_id.size());
  for (const auto& [character, id] : model.char_to_id) {
    if (id < 0 || id >= rows) {
      throw LangIDModelError("LangID character id is outside the embedding table: " + character);
    }
  }
}

// Weights of another float type or of shapes that do not fit together are left to at::lstm, which
// refuses them when the network first runs, as the bundle contract says.
void prepare_fast_lstm(Model& model, int layers) {
  try {
    model.fast_lstm.emplace(model.lstm_weights, layers, true);
  } catch (const c10::Error&) {
    model.fast_lstm.reset();
    return;
  }
  if (model.fast_lstm->hidden_size() != model.hidden_dim || model.fast_lstm->input_size() != model.embedding_dim) {
    model.fast_lstm.reset();
  }
}

}  // namespace

std::unique_ptr<LangIDPlan::Impl> load_langid_model(std::filesystem::path bundle_path, bool verify_checksums) {
  auto model = std::make_unique<Model>();
  model->bundle = std::make_shared<ModelBundle>(std::move(bundle_path), verify_checksums);
  if (model->bundle->processor() != "langid") {
    throw LangIDModelError("expected a langid bundle, got '" + model->bundle->processor() + "'");
  }
  with_model_error<LangIDModelError>([&] {
    const JsonValue assets = parse_json(model->bundle->assets_json());
    read_config(*model, assets);
    read_vocabularies(*model, assets);
  });
  bind_tensors(*model);
  const auto vocabulary_size = static_cast<std::int64_t>(model->char_to_id.size());
  const auto tag_count = static_cast<std::int64_t>(model->tags.size());
  check_shape(*model, "char_embeds.weight", {vocabulary_size, model->embedding_dim});
  check_shape(*model, "hidden_to_tag.weight", {tag_count, scaled_size(model->hidden_dim, 2)});
  check_shape(*model, "hidden_to_tag.bias", {tag_count});
  // A layer count beyond int range cannot be backed by tensors anyway: the first missing layer fails.
  const int layers = static_cast<int>(std::min<std::int64_t>(model->num_layers, std::numeric_limits<int>::max()));
  model->lstm_weights = lstm_parameters([&](const std::string& name) { return weight(*model, name); }, "lstm.",
                                        layers, true);
  prepare_fast_lstm(*model, layers);
  check_character_ids(*model);
  model->default_mask = at::zeros({tag_count}, at::kFloat);
  return model;
}

}  // namespace velmora::detail
