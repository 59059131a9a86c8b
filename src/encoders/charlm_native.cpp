#include "encoders/charlm_native.hpp"

#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <utility>

#include "models/lstm_parameters.hpp"
#include "models/model_config.hpp"
#include "models/parallel_units.hpp"
#include "models/tensor_view.hpp"
#include "velmora/errors.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/utf8_text.hpp"

namespace velmora::detail {
namespace {

// Sentences per LSTM call of encode_many; each chunk is sorted and packed on its own.
constexpr std::size_t kSentencesPerBatch = 64;

// Without a projection table, the prepared LSTM's calls of encode_many take sentences until
// their embedded characters would pass this many floats (128 MB): bounded memory.
constexpr std::int64_t kEmbeddingFloatsPerCall = std::int64_t{1} << 25;

// The largest projection table kept (64 MB): character vocabularies are small, and the LSTM
// reads each step's projection from the table where it lies, so that a call of any length
// needs no memory for its input but the ids.
constexpr std::int64_t kProjectionTableFloats = std::int64_t{1} << 24;

[[noreturn]] void refuse_tensors() { throw CharLMModelError("character language model tensors do not match its assets"); }

std::vector<std::string> code_points(const std::string& word) {
  const Utf8Text text(word);
  std::vector<std::string> units;
  units.reserve(text.codepoint_count());
  for (std::uint64_t i = 0; i < text.codepoint_count(); ++i) units.push_back(text.slice(i, i + 1));
  return units;
}

at::Tensor int64_view(const std::vector<std::int64_t>& values, at::IntArrayRef shape) {
  // The ids are only read; viewing the vector avoids a copy.
  return at::from_blob(const_cast<std::int64_t*>(values.data()), shape, at::TensorOptions().dtype(at::kLong));
}

}  // namespace

NativeCharLM::NativeCharLM(std::shared_ptr<const ModelBundle> bundle, std::string tensor_prefix, const JsonValue& assets)
    : bundle_(std::move(bundle)), tensor_prefix_(std::move(tensor_prefix)) {
  const JsonValue& config = assets.at("config", "charlm assets");
  hidden_dim_ = config.at("char_hidden_dim", "charlm assets.config").as_integer("charlm assets.config.char_hidden_dim");
  num_layers_ = config.at("char_num_layers", "charlm assets.config").as_integer("charlm assets.config.char_num_layers");
  const JsonValue* dropout = config.find("char_rec_dropout");
  if (hidden_dim_ < 1 || num_layers_ < 1 ||
      (dropout != nullptr && dropout->as_number("charlm assets.config.char_rec_dropout") != 0.0)) {
    throw CharLMModelError(
        "unsupported character language model; hidden size and layer count must be positive and recurrent dropout "
        "must be zero");
  }
  forward_ = assets.at("is_forward_lm", "charlm assets").as_bool("charlm assets.is_forward_lm");
  unit_to_id_ = read_unit2id(assets.at("vocab", "charlm assets"), "charlm assets.vocab");
  const auto start = unit_to_id_.find("\n");
  const auto separator = unit_to_id_.find(" ");
  if (start == unit_to_id_.end() || separator == unit_to_id_.end()) {
    throw CharLMModelError("character language model vocabulary has no start/end symbols");
  }
  start_id_ = start->second;
  separator_id_ = separator->second;
  if (const auto unknown = unit_to_id_.find("<UNK>"); unknown != unit_to_id_.end()) unknown_id_ = unknown->second;

  auto weight = [&](const std::string& name) {
    return bundle_tensor_view<CharLMModelError>(*bundle_, bundle_->tensor(tensor_prefix_ + name));
  };
  char_embedding_ = weight("char_emb.weight");
  h_init_ = weight("charlstm_h_init");
  c_init_ = weight("charlstm_c_init");
  const auto vocabulary_size = static_cast<std::int64_t>(unit_to_id_.size());
  if (char_embedding_.dim() != 2 || char_embedding_.size(0) != vocabulary_size) refuse_tensors();
  if (h_init_.sizes() != at::IntArrayRef{num_layers_, 1, hidden_dim_} || c_init_.sizes() != h_init_.sizes()) {
    refuse_tensors();
  }
  lstm_weights_ = lstm_parameters(weight, "charlstm.lstm.", static_cast<int>(num_layers_), false);
  // A weight of the wrong width would only fail inside the LSTM, and a wrong bias could even
  // broadcast silently, so the layer shapes are checked here.
  const std::int64_t gates = 4 * hidden_dim_;
  for (std::int64_t layer = 0; layer < num_layers_; ++layer) {
    const auto* parameters = &lstm_weights_[static_cast<std::size_t>(4 * layer)];
    const std::int64_t input_width = layer == 0 ? char_embedding_.size(1) : hidden_dim_;
    if (parameters[0].sizes() != at::IntArrayRef{gates, input_width} ||
        parameters[1].sizes() != at::IntArrayRef{gates, hidden_dim_} || parameters[2].sizes() != at::IntArrayRef{gates} ||
        parameters[3].sizes() != at::IntArrayRef{gates}) {
      refuse_tensors();
    }
  }
  const bool float32 = char_embedding_.scalar_type() == at::kFloat && h_init_.scalar_type() == at::kFloat &&
                       c_init_.scalar_type() == at::kFloat &&
                       std::all_of(lstm_weights_.begin(), lstm_weights_.end(),
                                   [](const at::Tensor& tensor) { return tensor.scalar_type() == at::kFloat; });
  if (float32) {
    lstm_ = std::make_unique<const InferenceLstm>(lstm_weights_, static_cast<int>(num_layers_), false);
    // Ids outside the table are left to the embedding lookup, which refuses them.
    const auto in_table = [&](std::int64_t id) { return id >= 0 && id < vocabulary_size; };
    const bool ids_fit = in_table(unknown_id_) && std::all_of(unit_to_id_.begin(), unit_to_id_.end(), [&](const auto& entry) {
      return in_table(entry.second);
    });
    if (ids_fit && vocabulary_size * lstm_->projection_width() <= kProjectionTableFloats) {
      c10::InferenceMode guard(true);
      projection_table_ = lstm_->first_layer_projections(char_embedding_);
    }
  }
}

at::Tensor NativeCharLM::run_prepared(const std::vector<std::int64_t>& ids, std::span<const std::int64_t> lengths,
                                      const std::vector<std::int64_t>& kept) const {
  const std::vector<at::Tensor> initial = {h_init_, c_init_};
  if (projection_table_.defined()) return lstm_->run_gathered(projection_table_, ids, lengths, initial, kept);
  const auto steps = static_cast<std::int64_t>(ids.size());
  const at::Tensor states =
      lstm_->run_packed(at::embedding(char_embedding_, int64_view(ids, {steps}), -1), lengths, initial);
  return states.index_select(0, int64_view(kept, {static_cast<std::int64_t>(kept.size())}));
}

NativeCharLM::~NativeCharLM() = default;

std::int64_t NativeCharLM::unit_id(const std::string& unit, std::int64_t unknown_id) const {
  const auto found = unit_to_id_.find(unit);
  return found == unit_to_id_.end() ? unknown_id : found->second;
}

NativeCharLM::Ids NativeCharLM::sentence_ids(const std::vector<std::string>& words) const {
  Ids result;
  result.ids.reserve(8 * words.size() + 1);
  result.positions.reserve(words.size());
  result.ids.push_back(start_id_);
  auto add_word = [&](const std::string& word) {
    std::vector<std::string> units = code_points(word);
    if (!forward_) std::reverse(units.begin(), units.end());
    for (const std::string& unit : units) result.ids.push_back(unit_id(unit, unknown_id_));
    result.positions.push_back(static_cast<std::int64_t>(result.ids.size()));
    result.ids.push_back(separator_id_);
  };
  if (forward_) {
    std::for_each(words.begin(), words.end(), add_word);
  } else {
    std::for_each(words.rbegin(), words.rend(), add_word);
    // Position i belongs to input word i again.
    std::reverse(result.positions.begin(), result.positions.end());
  }
  return result;
}

at::Tensor NativeCharLM::empty_rows() const { return at::empty({0, hidden_dim_}, char_embedding_.options()); }

at::Tensor NativeCharLM::encode(const std::vector<std::string>& words) const {
  c10::InferenceMode guard(true);
  const Ids sentence = sentence_ids(words);
  if (words.empty()) return empty_rows();
  const auto length = static_cast<std::int64_t>(sentence.ids.size());
  const auto count = static_cast<std::int64_t>(sentence.positions.size());
  if (lstm_) {
    const std::int64_t lengths[] = {length};
    return run_prepared(sentence.ids, lengths, sentence.positions);
  }
  at::Tensor rows;
  for_each_unit(1, [&](std::size_t) {  // serial operators: the same bits at every thread count
    c10::InferenceMode unit_guard(true);
    const at::Tensor embedded = at::embedding(char_embedding_, int64_view(sentence.ids, {1, length}), -1);
    const at::Tensor h0 = h_init_.expand({num_layers_, 1, hidden_dim_}).contiguous();
    const at::Tensor c0 = c_init_.expand({num_layers_, 1, hidden_dim_}).contiguous();
    const auto outputs = at::lstm(embedded, {h0, c0}, lstm_weights_, /*has_biases=*/true, num_layers_,
                                  /*dropout=*/0.0, /*train=*/false, /*bidirectional=*/false, /*batch_first=*/true);
    const at::Tensor states = std::get<0>(outputs).select(0, 0);
    rows = states.index_select(0, int64_view(sentence.positions, {count})).contiguous();
  });
  return rows;
}

std::vector<at::Tensor> NativeCharLM::encode_many(const std::vector<std::vector<std::string>>& sentences) const {
  c10::InferenceMode guard(true);
  std::vector<Ids> encoded;
  encoded.reserve(sentences.size());
  for (const auto& words : sentences) encoded.push_back(sentence_ids(words));
  if (lstm_) return encode_many_prepared(encoded);
  std::vector<at::Tensor> result(sentences.size());

  // The tensor library's LSTM, for other dtypes: each chunk is a unit, whose operators run on
  // one thread and so give the same bits at every thread count.
  for_each_unit(unit_count(sentences.size(), kSentencesPerBatch), [&](std::size_t chunk) {
    c10::InferenceMode unit_guard(true);
    const std::size_t begin = chunk * kSentencesPerBatch;
    const std::size_t end = std::min(sentences.size(), begin + kSentencesPerBatch);
    std::vector<std::size_t> order(end - begin);
    std::iota(order.begin(), order.end(), begin);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return encoded[a].ids.size() > encoded[b].ids.size(); });
    const auto batch = static_cast<std::int64_t>(order.size());
    const auto longest = static_cast<std::int64_t>(encoded[order.front()].ids.size());

    at::Tensor ids = at::full({batch, longest}, start_id_, at::TensorOptions().dtype(at::kLong));
    at::Tensor lengths = at::empty({batch}, at::TensorOptions().dtype(at::kLong));
    auto* id_rows = ids.data_ptr<std::int64_t>();
    auto* length_data = lengths.data_ptr<std::int64_t>();
    for (std::int64_t row = 0; row < batch; ++row) {
      const std::vector<std::int64_t>& row_ids = encoded[order[static_cast<std::size_t>(row)]].ids;
      std::copy(row_ids.begin(), row_ids.end(), id_rows + row * longest);
      length_data[row] = static_cast<std::int64_t>(row_ids.size());
    }

    const at::Tensor embedded = at::embedding(char_embedding_, ids, -1);
    const auto [packed, batch_sizes] = at::_pack_padded_sequence(embedded, lengths, /*batch_first=*/true);
    const at::Tensor h0 = h_init_.expand({num_layers_, batch, hidden_dim_}).contiguous();
    const at::Tensor c0 = c_init_.expand({num_layers_, batch, hidden_dim_}).contiguous();
    const auto outputs = at::lstm(packed, batch_sizes, {h0, c0}, lstm_weights_, /*has_biases=*/true, num_layers_,
                                  /*dropout=*/0.0, /*train=*/false, /*bidirectional=*/false);
    const at::Tensor states =
        std::get<0>(at::_pad_packed_sequence(std::get<0>(outputs), batch_sizes, /*batch_first=*/true,
                                             /*padding_value=*/0.0, /*total_length=*/longest));

    for (std::int64_t row = 0; row < batch; ++row) {
      const std::size_t index = order[static_cast<std::size_t>(row)];
      const std::vector<std::int64_t>& positions = encoded[index].positions;
      if (positions.empty()) {
        result[index] = empty_rows();
        continue;
      }
      const auto count = static_cast<std::int64_t>(positions.size());
      result[index] = states.select(0, row).index_select(0, int64_view(positions, {count})).contiguous();
    }
  });
  return result;
}

std::vector<at::Tensor> NativeCharLM::encode_many_prepared(const std::vector<Ids>& encoded) const {
  std::vector<at::Tensor> result(encoded.size());
  // With a table, one call takes every sentence: the more rows a call has, the fuller its steps.
  const std::int64_t step_budget = projection_table_.defined()
                                       ? std::numeric_limits<std::int64_t>::max()
                                       : std::max<std::int64_t>(1, kEmbeddingFloatsPerCall / char_embedding_.size(1));
  std::vector<std::size_t> members;      // sentences of the call, in input order
  std::vector<std::int64_t> ids;         // their steps, packed
  std::vector<std::int64_t> lengths;     // steps per member
  std::vector<std::int64_t> positions;   // packed rows of every member's words, member after member
  auto run = [&] {
    if (members.empty()) return;
    const at::Tensor words = run_prepared(ids, lengths, positions);
    std::int64_t start = 0;
    for (const std::size_t index : members) {
      const auto count = static_cast<std::int64_t>(encoded[index].positions.size());
      result[index] = words.narrow(0, start, count);
      start += count;
    }
    members.clear();
    ids.clear();
    lengths.clear();
    positions.clear();
  };
  for (std::size_t index = 0; index < encoded.size(); ++index) {
    const Ids& sentence = encoded[index];
    if (sentence.positions.empty()) {
      result[index] = empty_rows();
      continue;
    }
    const auto length = static_cast<std::int64_t>(sentence.ids.size());
    if (!ids.empty() && static_cast<std::int64_t>(ids.size()) + length > step_budget) run();
    const auto offset = static_cast<std::int64_t>(ids.size());
    for (const std::int64_t position : sentence.positions) positions.push_back(offset + position);
    ids.insert(ids.end(), sentence.ids.begin(), sentence.ids.end());
    lengths.push_back(length);
    members.push_back(index);
  }
  run();
  return result;
}

}  // namespace velmora::detail
