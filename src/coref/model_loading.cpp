// Loading a "coref" bundle: configuration, special token ids, the word-to-subword table, every
// tensor as a read-only view, and the tensors the network needs. JSON reader errors pass on
// unchanged, with the dotted path of the offending key.

#include <array>
#include <string>
#include <utility>

#include "coref/model_state.hpp"
#include "models/model_config.hpp"
#include "models/tensor_view.hpp"
#include "velmora/json.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

constexpr std::string_view kConfigPath = "assets.config";

std::int64_t required_config_int(const JsonValue& config, std::string_view key) {
  return config.at(key, kConfigPath).as_integer("assets.config." + std::string(key));
}

void read_config(CorefModel& model, const JsonValue& config) {
  model.hidden_size = required_config_int(config, "hidden_size");
  model.embedding_size = required_config_int(config, "embedding_size");
  model.sp_embedding_size = required_config_int(config, "sp_embedding_size");
  model.a_scoring_batch_size = required_config_int(config, "a_scoring_batch_size");
  model.n_hidden_layers = required_config_int(config, "n_hidden_layers");
  model.rough_k = required_config_int(config, "rough_k");
  model.bert_window_size = required_config_int(config, "bert_window_size");
  model.singletons = config_bool(config, "singletons", false);
  model.full_pairwise = config_bool(config, "full_pairwise", false);
  model.use_zeros = config_bool(config, "use_zeros", false);
  if (model.hidden_size < 1 || model.embedding_size < 1 || model.sp_embedding_size < 1 ||
      model.a_scoring_batch_size < 1 || model.rough_k < 1 || model.bert_window_size < 5 ||
      model.n_hidden_layers < 0) {
    throw CorefModelError("coref config dimensions are invalid");
  }
}

// Coref bundles hold integer and floating tensors only.
bool is_coref_dtype(std::string_view dtype) {
  static constexpr std::array<std::string_view, 5> kDtypes{"int64", "float16", "float32", "float64", "bfloat16"};
  for (std::string_view allowed : kDtypes) {
    if (allowed == dtype) return true;
  }
  return false;
}

void bind_tensors(CorefModel& model) {
  for (const TensorDescriptor& descriptor : model.bundle->tensors()) {
    if (!is_coref_dtype(descriptor.dtype)) {
      throw CorefModelError("ATen view does not support coref bundle dtype: " + descriptor.dtype);
    }
    model.tensors.insert_or_assign(descriptor.name, bundle_tensor_view<CorefModelError>(*model.bundle, descriptor));
  }
}

void read_special_ids(CorefModel& model, const JsonValue& assets) {
  const JsonValue& tokenizer = assets.at("transformer", "assets").at("tokenizer", "assets.transformer");
  constexpr std::string_view path = "assets.transformer.tokenizer";
  auto read = [&](std::string_view key) {
    return tokenizer.at(key, path).as_integer(std::string(path) + "." + std::string(key));
  };
  model.cls_id = read("cls_id");
  model.sep_id = read("sep_id");
  model.pad_id = read("pad_id");
  model.eos_id = read("eos_id");
}

void read_word_subwords(CorefModel& model, const JsonValue& assets) {
  const JsonValue::Object& table = assets.at("runtime_contract", "assets")
                                       .at("tokenizer_map_ids", "assets.runtime_contract")
                                       .as_object("assets.runtime_contract.tokenizer_map_ids");
  model.word_subwords.reserve(table.size());
  for (const auto& [word, value] : table) {
    const JsonValue::Array& ids = value.as_array("assets.runtime_contract.tokenizer_map_ids." + word);
    std::vector<std::int64_t>& subwords = model.word_subwords[word];
    subwords.reserve(ids.size());
    for (const JsonValue& id : ids) subwords.push_back(id.as_integer(""));
  }
}

// Every tensor the forward reads, in lookup order; the optional ones only with their option.
std::vector<std::string> required_tensor_names(const CorefModel& model) {
  std::vector<std::string> names{"we.attn.weight",
                                 "we.attn.bias",
                                 "rough_scorer.bilinear.weight",
                                 "rough_scorer.bilinear.bias",
                                 "pw.distance_emb.weight",
                                 "a_scorer.out.weight",
                                 "a_scorer.out.bias",
                                 "sp.ffnn.0.weight",
                                 "sp.ffnn.0.bias",
                                 "sp.ffnn.3.weight",
                                 "sp.ffnn.3.bias",
                                 "sp.ffnn.6.weight",
                                 "sp.ffnn.6.bias",
                                 "sp.conv.0.weight",
                                 "sp.conv.0.bias",
                                 "sp.conv.1.weight",
                                 "sp.conv.1.bias",
                                 "sp.emb.weight",
                                 "zeros_predictor.0.weight",
                                 "zeros_predictor.0.bias",
                                 "zeros_predictor.2.weight",
                                 "zeros_predictor.2.bias"};
  for (std::int64_t layer = 0; layer < model.n_hidden_layers; ++layer) {
    const std::string prefix = "a_scorer.hidden." + std::to_string(3 * layer);
    names.push_back(prefix + ".weight");
    names.push_back(prefix + ".bias");
  }
  if (model.singletons) names.emplace_back("a_scorer.start_map.weight");
  if (model.full_pairwise) names.emplace_back("pw.speaker_emb.weight");
  return names;
}

// A convolution over sentence words that keeps their number (width 3, padding 1).
bool is_width_three_conv(const at::Tensor& weight) { return weight.dim() == 3 && weight.size(2) == 3; }

bool has_one_row(const at::Tensor& weight) { return weight.dim() == 2 && weight.size(0) == 1; }

void check_tensors(const CorefModel& model) {
  for (const std::string& name : required_tensor_names(model)) coref_tensor(model, name);
  const at::Tensor& attention = coref_tensor(model, "we.attn.weight");
  const at::Tensor& bilinear = coref_tensor(model, "rough_scorer.bilinear.weight");
  const at::Tensor& distances = coref_tensor(model, "pw.distance_emb.weight");
  const at::Tensor& first_conv = coref_tensor(model, "sp.conv.0.weight");
  const at::Tensor& second_conv = coref_tensor(model, "sp.conv.1.weight");
  // The span decoding reads exactly one start and one end score per sentence word, and the
  // start map must add exactly one column in front of the dummy.
  const bool fits = attention.dim() >= 2 && attention.size(1) == model.hidden_size &&  //
                    bilinear.dim() == 2 && bilinear.size(0) == model.hidden_size &&
                    bilinear.size(1) == model.hidden_size &&  //
                    distances.dim() >= 1 && distances.size(0) == 9 &&
                    is_width_three_conv(first_conv) && is_width_three_conv(second_conv) &&
                    second_conv.size(0) == 2 &&
                    (!model.singletons || has_one_row(coref_tensor(model, "a_scorer.start_map.weight"))) &&
                    // One score per candidate and one zero-anaphor logit per head are read
                    // back by position; relative positions index 128 rows, speakers two.
                    has_one_row(coref_tensor(model, "a_scorer.out.weight")) &&
                    has_one_row(coref_tensor(model, "zeros_predictor.2.weight")) &&
                    coref_tensor(model, "zeros_predictor.2.bias").numel() == 1 &&
                    coref_tensor(model, "sp.emb.weight").dim() == 2 && coref_tensor(model, "sp.emb.weight").size(0) == 128 &&
                    (!model.full_pairwise || (coref_tensor(model, "pw.speaker_emb.weight").dim() == 2 &&
                                              coref_tensor(model, "pw.speaker_emb.weight").size(0) == 2));
  if (!fits) throw CorefModelError("coref tensor dimensions disagree");
}

}  // namespace

const at::Tensor& coref_tensor(const CorefModel& model, std::string_view name) {
  const auto found = model.tensors.find(name);
  if (found == model.tensors.end()) throw CorefModelError("missing coref tensor: '" + std::string(name) + "'");
  return found->second;
}

void load_coref_model(CorefModel& model, std::filesystem::path bundle_path, bool verify_checksums) {
  model.bundle = std::make_shared<ModelBundle>(std::move(bundle_path), verify_checksums);
  const std::string& processor = model.bundle->processor();
  if (processor != "coref") throw CorefModelError("expected a coref bundle, got '" + processor + "'");
  const JsonValue assets = parse_json(model.bundle->assets_json());
  read_config(model, assets.at("config", "assets"));
  bind_tensors(model);
  model.transformer = std::make_unique<NativeTransformer>(model.bundle, assets.at("transformer", "assets"));
  if (model.transformer->hidden_size() != model.hidden_size) {
    throw CorefModelError("coref transformer hidden size disagrees with config");
  }
  read_special_ids(model, assets);
  read_word_subwords(model, assets);
  check_tensors(model);
}

}  // namespace velmora::detail
