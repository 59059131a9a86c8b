// Expanding one token: the dictionary with its case rules, the exact-pieces classifier, or the
// seq2seq model whose output is cleaned of its markers.

#include <c10/core/InferenceMode.h>

#include <array>

#include "seq2seq/mwt_model.hpp"
#include "seq2seq/model_state.hpp"
#include "velmora/unicode.hpp"

namespace velmora::detail {
namespace {

std::optional<std::string> find_expansion(const MWTModel& model, std::string_view key) {
  const auto found = model.expansion_dict.find(key);
  if (found == model.expansion_dict.end()) return std::nullopt;
  return found->second;
}

std::string trim_spaces(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string expand_with_seq2seq(const MWTModel& model, const std::string& token) {
  std::string text = model.seq2seq->predict(token, std::nullopt, std::nullopt, /*suppress_unk=*/true).text;
  static constexpr std::array<std::string_view, 4> kMarkers{"<PAD>", "<UNK>", "<SOS>", "<EOS>"};
  for (std::string_view marker : kMarkers) {
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) {
      text.erase(at, marker.size());
    }
  }
  return text.find(' ') == std::string::npos ? token : text;
}

}  // namespace

std::optional<std::string> mwt_dictionary_lookup(const MWTModel& model, const std::string& token) {
  if (auto exact = find_expansion(model, token)) return exact;
  if (unicode_is_upper(token)) {
    if (auto lower = find_expansion(model, unicode_lower(token))) return unicode_upper(*lower);
  }
  const std::vector<std::string> points = split_code_points(token);
  if (points.empty()) return std::nullopt;
  std::string rest;
  for (std::size_t i = 1; i < points.size(); ++i) rest += points[i];
  if (!unicode_is_upper(points.front()) || !unicode_is_lower(rest)) return std::nullopt;
  std::optional<std::string> value = find_expansion(model, unicode_lower(token));
  if (!value) return std::nullopt;
  const std::vector<std::string> value_points = split_code_points(*value);
  if (value_points.empty()) return value;
  std::string titled = unicode_upper(value_points.front());
  for (std::size_t i = 1; i < value_points.size(); ++i) titled += value_points[i];
  return titled;
}

std::string mwt_classify_token(const MWTModel& model, const std::string& token) {
  const std::vector<std::string> points = split_code_points(token);
  std::vector<std::int64_t> ids;
  ids.reserve(points.size() + 2);
  ids.push_back(kStartId);
  for (const std::string& point : points) {
    const auto found = model.unit2id.find(point);
    ids.push_back(found == model.unit2id.end() ? kUnkId : found->second);
  }
  ids.push_back(kEndId);

  c10::InferenceMode guard;
  const at::Tensor input = at::from_blob(ids.data(), {1, static_cast<std::int64_t>(ids.size())},
                                         at::TensorOptions().dtype(at::kLong));
  const at::Tensor embedded = at::embedding(model.embedding, input);
  const at::Tensor encoded =
      std::get<0>(at::lstm(embedded, model.lstm_state, model.lstm_weights, /*has_biases=*/true, model.num_layers,
                           /*dropout=*/0.0, /*train=*/false, /*bidirectional=*/true, /*batch_first=*/true));
  const at::Tensor logits = at::linear(at::relu(at::linear(encoded, model.hidden_weight, model.hidden_bias)),
                                       model.output_weight, model.output_bias);
  const at::Tensor breaks = logits.select(2, 1).gt(logits.select(2, 0)).squeeze(0).contiguous();
  const bool* decided = breaks.data_ptr<bool>();
  std::string result;
  for (std::size_t i = 1; i <= points.size(); ++i) {
    if (decided[i]) result += ' ';
    result += points[i - 1];
  }
  return trim_spaces(result);
}

std::string mwt_expand_token(const MWTModel& model, const std::string& token) {
  if (model.dict_only || model.ensemble_dict) {
    if (std::optional<std::string> hit = mwt_dictionary_lookup(model, token)) return *hit;
    if (model.dict_only) return token;
  }
  if (model.force_exact_pieces) return mwt_classify_token(model, token);
  return expand_with_seq2seq(model, token);
}

}  // namespace velmora::detail
