// Loading an "mwt" bundle: flags, dictionary and character vocabulary, then either the seq2seq
// model or the exact-pieces classifier.

#include "models/lstm_parameters.hpp"
#include "models/tensor_view.hpp"
#include "seq2seq/mwt_model.hpp"
#include "velmora/json.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

constexpr std::string_view kConfigPath = "assets.config";

void read_config(MWTModel& model, const JsonValue& config) {
  model.dict_only = config.at("dict_only", kConfigPath).as_bool("");
  model.ensemble_dict = config.at("ensemble_dict", kConfigPath).as_bool("");
  const JsonValue* exact = config.find("force_exact_pieces");
  model.force_exact_pieces = exact != nullptr && !exact->is_null() && exact->as_bool("");
  config.at("vocab_size", kConfigPath).as_integer("");
  model.hidden_dim = config.at("hidden_dim", kConfigPath).as_integer("");
  model.num_layers = config.at("num_layers", kConfigPath).as_integer("");
}

void read_dictionary_and_vocabulary(MWTModel& model, const JsonValue& root) {
  const JsonValue::Object& entries = root.at("expansion_dict", "assets").as_object("assets.expansion_dict");
  model.expansion_dict.reserve(entries.size());
  for (const auto& [token, expansion] : entries) {
    model.expansion_dict.emplace(token, expansion.as_string("assets.expansion_dict"));
  }
  const JsonValue::Object& units =
      root.at("vocab", "assets").at("_unit2id", "assets.vocab").as_object("assets.vocab._unit2id");
  model.unit2id.reserve(units.size());
  for (const auto& [unit, id] : units) model.unit2id.emplace(unit, id.as_integer("assets.vocab._unit2id"));
}

void load_classifier(MWTModel& model) {
  // Layers and widths come from the configuration; refuse values that leave no network.
  if (model.num_layers < 1 || model.hidden_dim < 2) {
    throw MWTModelError("invalid MWT classifier dimensions in assets.config");
  }
  for (const TensorDescriptor& descriptor : model.bundle->tensors()) {
    if (descriptor.dtype != "float32" && descriptor.dtype != "int64") {
      throw MWTModelError("MWT tensor dtype is unsupported: " + descriptor.dtype);
    }
    model.tensors.insert_or_assign(descriptor.name, bundle_tensor_view<MWTModelError>(*model.bundle, descriptor));
  }
  mwt_tensor(model, "embedding.weight");
  auto weight = [&](const std::string& name) { return mwt_tensor(model, name); };
  model.lstm_weights = lstm_parameters(weight, "encoder.", static_cast<int>(model.num_layers), /*bidirectional=*/true);
  model.hidden_weight = mwt_tensor(model, "output_layer.0.weight");
  model.hidden_bias = mwt_tensor(model, "output_layer.0.bias");
  model.output_weight = mwt_tensor(model, "output_layer.2.weight");
  model.output_bias = mwt_tensor(model, "output_layer.2.bias");
  model.embedding = mwt_tensor(model, "embedding.weight");
  // Character ids index the embedding as the vocabulary gives them.
  for (const auto& [unit, id] : model.unit2id) {
    if (id < 0 || model.embedding.dim() != 2 || id >= model.embedding.size(0)) {
      throw MWTModelError("MWT classifier vocabulary ids exceed its embedding table");
    }
  }
  const at::TensorOptions options = model.embedding.options();
  model.lstm_state = {at::zeros({2 * model.num_layers, 1, model.hidden_dim / 2}, options),
                      at::zeros({2 * model.num_layers, 1, model.hidden_dim / 2}, options)};
}

}  // namespace

const at::Tensor& mwt_tensor(const MWTModel& model, std::string_view name) {
  const auto found = model.tensors.find(name);
  if (found == model.tensors.end()) throw MWTModelError("missing MWT tensor: '" + std::string(name) + "'");
  return found->second;
}

std::unique_ptr<MWTModel> load_mwt_model(std::filesystem::path bundle_path, bool verify_checksums) {
  auto model = std::make_unique<MWTModel>();
  model->bundle = std::make_shared<ModelBundle>(bundle_path, verify_checksums);
  if (model->bundle->processor() != "mwt") {
    throw MWTModelError("expected an MWT bundle, got '" + model->bundle->processor() + "'");
  }
  const JsonValue root = parse_json(model->bundle->assets_json());
  read_config(*model, root.at("config", "assets"));
  read_dictionary_and_vocabulary(*model, root);
  if (model->dict_only) return model;
  if (!model->force_exact_pieces) {
    model->seq2seq = std::make_unique<Seq2SeqPlan>(std::move(bundle_path), verify_checksums);
    return model;
  }
  load_classifier(*model);
  return model;
}

}  // namespace velmora::detail
