// Loading a "lemma" bundle: flags, the POS-keyed dictionary and, unless dictionary-only, the
// seq2seq model.

#include "models/model_config.hpp"
#include "seq2seq/lemma_model.hpp"
#include "velmora/json.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

bool read_caseless(const JsonValue& root, const JsonValue& config) {
  const JsonValue* top = root.find("caseless");
  if (top != nullptr && !top->is_null()) return top->as_bool("assets.caseless");
  return config_bool(config, "caseless", false);
}

void read_dictionary(LemmaModel& model, const JsonValue& root) {
  for (const auto& [pos, entries] : root.at("pos_dict", "assets").as_object("assets.pos_dict")) {
    const std::string path = "assets.pos_dict." + pos;
    StringMap<std::string>& words = model.pos_dict[pos];
    for (const auto& [word, lemma] : entries.as_object(path)) {
      if (lemma.is_null()) continue;
      words.emplace(word, lemma.as_string(path));
    }
  }
}

}  // namespace

std::unique_ptr<LemmaModel> load_lemma_model(std::filesystem::path bundle_path, bool verify_checksums) {
  auto model = std::make_unique<LemmaModel>();
  model->bundle = std::make_shared<ModelBundle>(bundle_path, verify_checksums);
  if (model->bundle->processor() != "lemma") {
    throw LemmaModelError("expected a lemma bundle, got '" + model->bundle->processor() + "'");
  }
  const JsonValue root = parse_json(model->bundle->assets_json());
  const JsonValue& config = root.at("config", "assets");
  model->dict_only = config_bool(config, "dict_only", false);
  model->ensemble_dict = config_bool(config, "ensemble_dict", false);
  model->pos = config_bool(config, "pos", false);
  model->caseless = read_caseless(root, config);
  read_dictionary(*model, root);
  if (model->dict_only) return model;
  model->seq2seq = std::make_unique<Seq2SeqPlan>(std::move(bundle_path), verify_checksums);
  if (model->seq2seq->uses_pos() != model->pos) {
    throw LemmaModelError("lemma config and seq2seq POS settings disagree");
  }
  return model;
}

}  // namespace velmora::detail
