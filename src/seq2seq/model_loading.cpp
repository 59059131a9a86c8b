// Loading the seq2seq model of a "lemma" or "mwt" bundle: configuration, vocabularies and
// tensor views, checked in a fixed order.

#include <array>

#include "models/lstm_parameters.hpp"
#include "models/model_config.hpp"
#include "models/tensor_view.hpp"
#include "seq2seq/model_state.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

void read_config(Seq2SeqModel& model, const JsonValue& config) {
  model.vocab_size = config_int(config, "vocab_size", 0);
  model.emb_dim = config_int(config, "emb_dim", 0);
  model.hidden_dim = config_int(config, "hidden_dim", 0);
  model.num_layers = config_int(config, "num_layers", 0);
  model.max_dec_len = config_int(config, "max_dec_len", 0);
  model.beam_size = config_int(config, "beam_size", 1);
  model.batch_size = config_int(config, "batch_size", 50);
  model.pos = config_bool(config, "pos", false);
  model.pos_dim = config_int(config, "pos_dim", 0);
  model.edit = config_bool(config, "edit", false);
  model.copy = config_bool(config, "copy", false);

  if (config.at("attn_type", "assets.config").as_string("assets.config.attn_type") != "soft") {
    throw Seq2SeqModelError("native seq2seq inference currently supports soft attention");
  }
  if (config_bool(config, "charlm", false)) {
    throw Seq2SeqModelError("contextual character-LM seq2seq bundles are unsupported");
  }
  const bool dimensions_valid =
      model.vocab_size == static_cast<std::int64_t>(model.vocab.id2unit.size()) && model.emb_dim >= 1 &&
      model.hidden_dim >= 1 && model.hidden_dim % 2 == 0 && model.num_layers >= 1 && model.max_dec_len >= 1 &&
      model.beam_size >= 1 && model.batch_size >= 1;
  if (!dimensions_valid) throw Seq2SeqModelError("invalid seq2seq dimensions in assets.config");
  if (model.pos && (!model.pos_vocab || model.pos_dim < 1)) {
    throw Seq2SeqModelError("the seq2seq config enables POS without a POS vocabulary");
  }
}

void bind_tensors(Seq2SeqModel& model) {
  for (const TensorDescriptor& descriptor : model.bundle->tensors()) {
    if (!bundle_scalar_type(descriptor.dtype)) {
      throw Seq2SeqModelError("ATen view does not support bundle dtype: " + descriptor.dtype);
    }
    model.tensors.insert_or_assign(descriptor.name, bundle_tensor_view<Seq2SeqModelError>(*model.bundle, descriptor));
  }
}

void check_required_tensors(const Seq2SeqModel& model) {
  seq2seq_tensor(model, "embedding.weight");
  for (std::int64_t layer = 0; layer < model.num_layers; ++layer) {
    for (const char* suffix : {"", "_reverse"}) {
      for (const char* name : {"weight_ih_l", "weight_hh_l", "bias_ih_l", "bias_hh_l"}) {
        seq2seq_tensor(model, std::string("encoder.") + name + std::to_string(layer) + suffix);
      }
    }
  }
  static constexpr std::array<std::string_view, 8> kDecoder{
      "decoder.lstm_cell.weight_ih", "decoder.lstm_cell.weight_hh", "decoder.lstm_cell.bias_ih",
      "decoder.lstm_cell.bias_hh",   "decoder.attention_layer.linear_in.weight",
      "decoder.attention_layer.linear_out.weight", "dec2vocab.weight", "dec2vocab.bias"};
  for (std::string_view name : kDecoder) seq2seq_tensor(model, name);
  if (model.copy) {
    seq2seq_tensor(model, "copy_gate.weight");
    seq2seq_tensor(model, "copy_gate.bias");
  }
  if (model.pos) seq2seq_tensor(model, "pos_embedding.weight");
  if (model.edit) {
    for (std::string_view name : {"edit_clf.0.weight", "edit_clf.0.bias", "edit_clf.2.weight", "edit_clf.2.bias"}) {
      seq2seq_tensor(model, name);
    }
  }
}

// Ids below vocab_size index the embedding and name the generator's columns, and POS ids index
// their own table: a table shorter than its ids would only fail once a word reached it.
void check_dimensions(const Seq2SeqModel& model) {
  const auto rows = [&](std::string_view name) {
    const at::Tensor& tensor = seq2seq_tensor(model, name);
    return tensor.dim() >= 1 ? tensor.size(0) : -1;
  };
  bool fits = rows("embedding.weight") == model.vocab_size && rows("dec2vocab.weight") == model.vocab_size &&
              rows("dec2vocab.bias") == model.vocab_size;
  if (model.pos) {
    const std::int64_t tags = rows("pos_embedding.weight");
    fits = fits && tags == static_cast<std::int64_t>(model.pos_vocab->id2unit.size());
    for (const auto& [tag, id] : model.pos_vocab->unit2id) fits = fits && id >= 0 && id < tags;
  }
  if (!fits) throw Seq2SeqModelError("seq2seq tensor dimensions disagree with its vocabularies");
}

}  // namespace

Seq2SeqVocab parse_seq2seq_vocab(const JsonValue& value, std::string_view path) {
  const std::string base(path);
  Seq2SeqVocab vocab;
  const JsonValue::Array& units = value.at("_id2unit", path).as_array(base + "._id2unit");
  vocab.id2unit.reserve(units.size());
  for (const JsonValue& unit : units) vocab.id2unit.push_back(unit.as_string(base + "._id2unit[]"));
  const JsonValue::Object& ids = value.at("_unit2id", path).as_object(base + "._unit2id");
  vocab.unit2id.reserve(ids.size());
  for (const auto& [unit, id] : ids) vocab.unit2id.emplace(unit, id.as_integer(base + "._unit2id"));
  static constexpr std::array<std::string_view, 4> kSpecials{"<PAD>", "<UNK>", "<SOS>", "<EOS>"};
  bool specials_first = vocab.id2unit.size() >= kSpecials.size();
  for (std::size_t k = 0; specials_first && k < kSpecials.size(); ++k) {
    specials_first = vocab.id2unit[k] == kSpecials[k];
  }
  if (!specials_first) throw Seq2SeqModelError(base + " must begin with <PAD>, <UNK>, <SOS>, <EOS>");
  return vocab;
}

const at::Tensor& seq2seq_tensor(const Seq2SeqModel& model, std::string_view name) {
  const auto found = model.tensors.find(name);
  if (found == model.tensors.end()) throw Seq2SeqModelError("missing seq2seq tensor: '" + std::string(name) + "'");
  return found->second;
}

std::unique_ptr<Seq2SeqModel> load_seq2seq_model(std::filesystem::path bundle_path, bool verify_checksums) {
  auto model = std::make_unique<Seq2SeqModel>();
  model->bundle = std::make_shared<ModelBundle>(std::move(bundle_path), verify_checksums);
  const std::string& processor = model->bundle->processor();
  if (processor != "lemma" && processor != "mwt") {
    throw Seq2SeqModelError("expected a lemma or MWT bundle, got '" + processor + "'");
  }
  const JsonValue root = parse_json(model->bundle->assets_json());
  const JsonValue& config = root.at("config", "assets");
  const JsonValue& vocab = root.at("vocab", "assets");
  if (const JsonValue* chars = vocab.find("char")) {
    model->vocab = parse_seq2seq_vocab(*chars, "assets.vocab.char");
  } else {
    model->vocab = parse_seq2seq_vocab(vocab, "assets.vocab");
  }
  if (const JsonValue* tags = vocab.find("pos")) model->pos_vocab = parse_seq2seq_vocab(*tags, "assets.vocab.pos");
  read_config(*model, config);
  bind_tensors(*model);
  check_required_tensors(*model);
  check_dimensions(*model);
  auto weight = [&](const std::string& name) { return seq2seq_tensor(*model, name); };
  model->encoder_weights =
      lstm_parameters(weight, "encoder.", static_cast<int>(model->num_layers), /*bidirectional=*/true);
  const at::Tensor& embedding = seq2seq_tensor(*model, "embedding.weight");
  const at::TensorOptions options = embedding.options();
  model->encoder_zero_state = {at::zeros({2 * model->num_layers, 1, model->hidden_dim / 2}, options),
                               at::zeros({2 * model->num_layers, 1, model->hidden_dim / 2}, options)};
  model->row_decoder = prepare_seq2seq_row_decoder(*model);
  return model;
}

}  // namespace velmora::detail
