// The network forward of one sentence: word and delta embeddings, transformer vectors,
// character features (character BiLSTM or character language models), the optional input
// transform, and the bidirectional tagger LSTM.

#include "models/string_hash.hpp"
#include "ner/ner_model.hpp"
#include "velmora/unicode.hpp"
#include "velmora/utf8_text.hpp"

namespace velmora::detail {
namespace {

// Id of a vocabulary unit absent from its vocabulary.
constexpr std::int64_t kUnknownId = 1;

std::int64_t lookup(const StringMap<std::int64_t>& vocabulary, std::string_view key) {
  const auto found = vocabulary.find(key);
  return found == vocabulary.end() ? kUnknownId : found->second;
}

at::Tensor int64_view(const std::vector<std::int64_t>& ids, at::IntArrayRef shape) {
  // The ids are only read, and the vector outlives every use of the view.
  return at::from_blob(const_cast<std::int64_t*>(ids.data()), shape, at::TensorOptions().dtype(at::kLong));
}

std::string character_text(const NERPlan::Impl& state, const std::string& token) {
  return state.char_lowercase ? unicode_lower(token) : token;
}

at::Tensor run_bidirectional_lstm(const at::Tensor& input, const std::vector<at::Tensor>& initial_state,
                                  const std::vector<at::Tensor>& parameters, std::int64_t layers) {
  return std::get<0>(at::lstm(input, initial_state, parameters, /*has_biases=*/true, layers, /*dropout=*/0.0,
                              /*train=*/false, /*bidirectional=*/true, /*batch_first=*/true));
}

}  // namespace

std::string ner_word_key(const NERPlan::Impl& state, std::string_view text, bool vocabulary_lower,
                         bool word_vocabulary) {
  std::string key = state.lowercase ? unicode_lower(text) : std::string(text);
  if (vocabulary_lower) key = unicode_lower(key);
  if (!word_vocabulary) return key;
  // The pretrained vocabulary stores multi-word entries with no-break spaces.
  std::string joined;
  joined.reserve(key.size());
  for (char byte : key) {
    if (byte == ' ') {
      joined += "\xC2\xA0";
    } else {
      joined += byte;
    }
  }
  return joined;
}

at::Tensor ner_char_encoding(const NERPlan::Impl& state, const std::string& token) {
  const Utf8Text text(character_text(state, token));
  const std::uint64_t length = text.codepoint_count();
  if (length == 0) throw NERModelError("NER cannot encode an empty token");
  std::vector<std::int64_t> ids;
  ids.reserve(length);
  for (std::uint64_t i = 0; i < length; ++i) ids.push_back(lookup(state.char_vocab, text.slice_view(i, i + 1)));
  const at::Tensor embedded =
      at::embedding(state.char_embedding, int64_view(ids, {1, static_cast<std::int64_t>(length)}));
  const auto [output, final_hidden, final_cell] =
      at::lstm(embedded, state.char_lstm_state, state.char_lstm_params, /*has_biases=*/true, state.char_num_layers,
               /*dropout=*/0.0, /*train=*/false, /*bidirectional=*/true, /*batch_first=*/true);
  // The last layer's forward and backward final states, forward first.
  return final_hidden.narrow(0, 2 * state.char_num_layers - 2, 2).transpose(0, 1).reshape({-1});
}

at::Tensor ner_forward(const NERPlan::Impl& state, const std::vector<std::string>& tokens) {
  const auto count = static_cast<std::int64_t>(tokens.size());
  std::vector<std::int64_t> word_ids;
  std::vector<std::int64_t> delta_ids;
  std::vector<at::Tensor> character_rows;
  word_ids.reserve(tokens.size());
  delta_ids.reserve(tokens.size());
  if (!state.charlm) character_rows.reserve(tokens.size());
  for (const std::string& token : tokens) {
    const std::int64_t word_id = lookup(state.word_vocab, ner_word_key(state, token, state.word_vocab_lower, true));
    std::int64_t delta_id = lookup(state.delta_vocab, ner_word_key(state, token, state.delta_vocab_lower, false));
    // A word known to the pretrained vocabulary but not to the delta vocabulary reads delta row 0.
    if (delta_id == kUnknownId && word_id != kUnknownId) delta_id = 0;
    word_ids.push_back(word_id);
    delta_ids.push_back(delta_id);
    if (!state.charlm) character_rows.push_back(ner_char_encoding(state, token));
  }

  std::vector<at::Tensor> features;
  features.push_back(at::embedding(state.word_embedding, int64_view(word_ids, {count})) +
                     at::embedding(state.delta_embedding, int64_view(delta_ids, {count})));
  if (state.use_transformer) features.push_back(state.transformer->encode(tokens, /*keep_endpoints=*/false));
  if (state.charlm) {
    std::vector<std::string> texts;
    texts.reserve(tokens.size());
    for (const std::string& token : tokens) texts.push_back(character_text(state, token));
    features.push_back(state.charlm_forward->encode(texts));
    features.push_back(state.charlm_backward->encode(texts));
  } else {
    features.push_back(at::stack(character_rows));
  }
  at::Tensor input = at::cat(features, 1);
  if (state.input_transform) input = at::linear(input, state.input_transform_weight, state.input_transform_bias);
  return input.unsqueeze(0);
}

at::Tensor run_ner_tagger_lstm(const NERPlan::Impl& state, const std::vector<std::string>& tokens) {
  return run_bidirectional_lstm(ner_forward(state, tokens), state.tagger_lstm_state, state.tagger_lstm_params,
                                state.num_layers)
      .squeeze(0);
}

}  // namespace velmora::detail
