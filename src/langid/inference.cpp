// Language identification: texts grouped by length run through the character BiLSTM in one
// batch per length; each text's per-character tag scores are summed and the best allowed tag wins.

#include <ATen/ATen.h>
#include <c10/core/InferenceMode.h>

#include <limits>
#include <map>
#include <stdexcept>
#include <string_view>

#include "langid/model_state.hpp"
#include "models/string_hash.hpp"
#include "velmora/unicode.hpp"

namespace velmora {
namespace detail {
namespace {

// 0 for an allowed tag, negative infinity for an excluded one.
at::Tensor subset_mask(const LangIDPlan::Impl& model, const std::vector<std::string>& language_subset) {
  if (language_subset.empty()) return model.default_mask;
  const StringSet allowed(language_subset.begin(), language_subset.end());
  at::Tensor mask = at::empty({static_cast<std::int64_t>(model.tags.size())}, at::kFloat);
  float* entries = mask.data_ptr<float>();
  bool any_known = false;
  for (std::size_t id = 0; id < model.tags.size(); ++id) {
    const bool known = allowed.contains(model.tags[id]);
    any_known = any_known || known;
    entries[id] = known ? 0.0f : -std::numeric_limits<float>::infinity();
  }
  if (!any_known) throw LangIDModelError("LangID language subset contains no known language");
  return mask;
}

}  // namespace

std::vector<std::int64_t> langid_character_ids(const LangIDPlan::Impl& model, const std::string& text) {
  std::vector<std::int64_t> ids;
  ids.reserve(text.size());
  const std::string_view bytes = text;
  for (std::size_t offset = 0; offset < bytes.size();) {
    char32_t code_point = 0;
    std::size_t length = 0;
    try {
      length = decode_utf8_at(bytes, offset, code_point);
    } catch (const std::invalid_argument& error) {
      throw LangIDModelError(error.what());  // names the offending byte offset within the text
    }
    const auto found = model.char_to_id.find(bytes.substr(offset, length));
    ids.push_back(found == model.char_to_id.end() ? model.unknown_id : found->second);
    offset += length;
  }
  if (ids.empty()) throw LangIDModelError("language identification requires non-empty text");
  return ids;
}

std::vector<std::int64_t> langid_forward(const LangIDPlan::Impl& model,
                                         const std::vector<const std::vector<std::int64_t>*>& batch,
                                         const at::Tensor& mask) {
  const auto rows = static_cast<std::int64_t>(batch.size());
  const auto length = static_cast<std::int64_t>(batch.front()->size());
  std::vector<std::int64_t> ids;
  ids.reserve(static_cast<std::size_t>(rows * length));
  for (const std::vector<std::int64_t>* text : batch) {
    if (static_cast<std::int64_t>(text->size()) != length) {
      throw LangIDModelError("internal LangID batch has unequal sequence lengths");
    }
    ids.insert(ids.end(), text->begin(), text->end());
  }
  c10::InferenceMode guard;
  // from_blob takes a mutable pointer; the view is only read.
  const at::Tensor id_matrix = at::from_blob(ids.data(), {rows, length}, [](void*) {}, at::kLong);
  const at::Tensor embedded = at::embedding(model.tensors.at("char_embeds.weight"), id_matrix, model.padding_id);
  at::Tensor output;
  if (model.fast_lstm && embedded.scalar_type() == at::kFloat) {
    output = (*model.fast_lstm)(embedded);  // zero initial states
  } else {
    const at::Tensor zeros = at::zeros({2 * model.num_layers, rows, model.hidden_dim}, at::kFloat);
    output = std::get<0>(at::lstm(embedded, {zeros, zeros}, model.lstm_weights, /*has_biases=*/true,
                                  model.num_layers, /*dropout=*/0.0, /*train=*/false, /*bidirectional=*/true,
                                  /*batch_first=*/true));
  }
  const at::Tensor scores =
      at::linear(output, model.tensors.at("hidden_to_tag.weight"), model.tensors.at("hidden_to_tag.bias"));
  // A plain sum over the characters; argmax takes the lowest tag id among equal maxima.
  const at::Tensor best = at::argmax(scores.sum(1) + mask, 1).contiguous();
  const std::int64_t* values = best.data_ptr<std::int64_t>();
  return std::vector<std::int64_t>(values, values + rows);
}

}  // namespace detail

std::vector<std::string> LangIDPlan::identify_many(const std::vector<std::string>& texts,
                                                   const std::vector<std::string>& language_subset) const {
  if (texts.empty()) return {};
  const Impl& model = *impl_;
  std::vector<std::vector<std::int64_t>> encoded;
  encoded.reserve(texts.size());
  std::map<std::size_t, std::vector<std::size_t>> by_length;
  for (std::size_t position = 0; position < texts.size(); ++position) {
    encoded.push_back(detail::langid_character_ids(model, texts[position]));
    by_length[encoded.back().size()].push_back(position);
  }
  const at::Tensor mask = detail::subset_mask(model, language_subset);

  std::vector<std::string> result(texts.size());
  std::vector<const std::vector<std::int64_t>*> batch;
  for (const auto& [length, positions] : by_length) {
    batch.clear();
    for (std::size_t position : positions) batch.push_back(&encoded[position]);
    const std::vector<std::int64_t> best = detail::langid_forward(model, batch, mask);
    for (std::size_t k = 0; k < positions.size(); ++k) {
      if (best[k] < 0 || best[k] >= static_cast<std::int64_t>(model.tags.size())) {
        throw LangIDModelError("LangID classifier produced an invalid tag id");
      }
      result[positions[k]] = model.tags[static_cast<std::size_t>(best[k])];
    }
  }
  return result;
}

std::string LangIDPlan::identify(const std::string& text, const std::vector<std::string>& language_subset) const {
  return identify_many({text}, language_subset).front();
}

}  // namespace velmora
