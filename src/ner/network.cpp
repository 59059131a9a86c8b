// The network forward of a chunk of sentences: word and delta embeddings, transformer vectors,
// character features (character BiLSTM or character language models), the optional input
// transform, and the bidirectional tagger LSTM. Each sentence is its own sequence: the chunk
// only shares the networks' calls, packed without padding.

#include <algorithm>
#include <numeric>

#include "models/string_hash.hpp"
#include "ner/model_state.hpp"
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

// The last layer's forward and backward final states of every token, [n, 2 * char_hidden_dim],
// forward first: the prepared LSTM over the tokens padded to the longest one.
at::Tensor prepared_char_lstm(const NERPlan::Impl& state, const std::vector<std::vector<std::int64_t>>& ids_of) {
  const auto count = static_cast<std::int64_t>(ids_of.size());
  std::size_t longest = 0;
  for (const auto& ids : ids_of) longest = std::max(longest, ids.size());
  // Steps past a token's length are never read; they repeat its last id so every id is valid.
  std::vector<std::int64_t> padded_ids;
  std::vector<std::int64_t> lengths;
  std::vector<std::int64_t> last_rows;
  padded_ids.reserve(ids_of.size() * longest);
  for (const auto& ids : ids_of) {
    for (std::size_t step = 0; step < longest; ++step) padded_ids.push_back(ids[std::min(step, ids.size() - 1)]);
    lengths.push_back(static_cast<std::int64_t>(ids.size()));
    last_rows.push_back(static_cast<std::int64_t>(last_rows.size() * longest + ids.size() - 1));
  }
  const auto steps = static_cast<std::int64_t>(longest);
  const at::Tensor embedded = at::embedding(state.char_embedding, int64_view(padded_ids, {count, steps}));
  const at::Tensor output = (*state.char_rnn)(embedded, lengths, state.char_lstm_state);
  const std::int64_t hidden = state.char_hidden_dim;
  const at::Tensor forward =
      output.reshape({count * steps, 2 * hidden}).index_select(0, int64_view(last_rows, {count})).narrow(1, 0, hidden);
  const at::Tensor backward = output.select(1, 0).narrow(1, hidden, hidden);
  return at::cat({forward, backward}, 1);
}

// The same through at::lstm, for weights of other dtypes: one packed batch, longest first.
at::Tensor packed_char_lstm(const NERPlan::Impl& state, const std::vector<std::vector<std::int64_t>>& ids_of) {
  const auto count = static_cast<std::int64_t>(ids_of.size());
  std::vector<std::int64_t> order(ids_of.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::int64_t a, std::int64_t b) {
    return ids_of[static_cast<std::size_t>(a)].size() > ids_of[static_cast<std::size_t>(b)].size();
  });
  std::vector<std::int64_t> packed_ids;
  std::vector<std::int64_t> batch_sizes;
  for (std::size_t step = 0;; ++step) {
    std::int64_t active = 0;
    for (std::int64_t token : order) {
      const std::vector<std::int64_t>& ids = ids_of[static_cast<std::size_t>(token)];
      if (ids.size() <= step) break;
      packed_ids.push_back(ids[step]);
      ++active;
    }
    if (active == 0) break;
    batch_sizes.push_back(active);
  }
  const at::Tensor embedded =
      at::embedding(state.char_embedding, int64_view(packed_ids, {static_cast<std::int64_t>(packed_ids.size())}));
  const std::vector<at::Tensor> initial_state = {state.char_lstm_state[0].expand({-1, count, -1}).contiguous(),
                                                 state.char_lstm_state[1].expand({-1, count, -1}).contiguous()};
  const auto [output, final_hidden, final_cell] =
      at::lstm(embedded, int64_view(batch_sizes, {static_cast<std::int64_t>(batch_sizes.size())}), initial_state,
               state.char_lstm_params, /*has_biases=*/true, state.char_num_layers, /*dropout=*/0.0, /*train=*/false,
               /*bidirectional=*/true);
  std::vector<std::int64_t> position(ids_of.size());
  for (std::size_t k = 0; k < order.size(); ++k) position[static_cast<std::size_t>(order[k])] = static_cast<std::int64_t>(k);
  return final_hidden.narrow(0, 2 * state.char_num_layers - 2, 2)
      .transpose(0, 1)
      .reshape({count, -1})
      .index_select(0, int64_view(position, {count}));
}

at::Tensor run_bidirectional_lstm(const at::Tensor& input, const std::vector<at::Tensor>& initial_state,
                                  const std::vector<at::Tensor>& parameters, std::int64_t layers) {
  return std::get<0>(at::lstm(input, initial_state, parameters, /*has_biases=*/true, layers, /*dropout=*/0.0,
                              /*train=*/false, /*bidirectional=*/true, /*batch_first=*/true));
}

// Appends the code-point ids of every token to `ids_of`, in token order.
void append_char_ids(const NERPlan::Impl& state, const std::vector<std::string>& tokens,
                     std::vector<std::vector<std::int64_t>>& ids_of) {
  for (const std::string& token : tokens) {
    const Utf8Text text(character_text(state, token));
    const std::uint64_t length = text.codepoint_count();
    if (length == 0) throw NERModelError("NER cannot encode an empty token");
    std::vector<std::int64_t>& ids = ids_of.emplace_back();
    ids.reserve(length);
    for (std::uint64_t i = 0; i < length; ++i) ids.push_back(lookup(state.char_vocab, text.slice_view(i, i + 1)));
  }
}

at::Tensor char_features_of(const NERPlan::Impl& state, const std::vector<std::vector<std::int64_t>>& ids_of) {
  return state.char_rnn ? prepared_char_lstm(state, ids_of) : packed_char_lstm(state, ids_of);
}

// The word feature of every token of the sentences: static plus delta embedding, [tokens, width].
at::Tensor word_features(const NERPlan::Impl& state, const std::vector<const std::vector<std::string>*>& sentences) {
  std::vector<std::int64_t> word_ids;
  std::vector<std::int64_t> delta_ids;
  for (const std::vector<std::string>* tokens : sentences) {
    for (const std::string& token : *tokens) {
      const std::int64_t word_id = lookup(state.word_vocab, ner_word_key(state, token, state.word_vocab_lower, true));
      std::int64_t delta_id = lookup(state.delta_vocab, ner_word_key(state, token, state.delta_vocab_lower, false));
      // A word known to the pretrained vocabulary but not to the delta vocabulary reads delta row 0.
      if (delta_id == kUnknownId && word_id != kUnknownId) delta_id = 0;
      word_ids.push_back(word_id);
      delta_ids.push_back(delta_id);
    }
  }
  const auto count = static_cast<std::int64_t>(word_ids.size());
  return at::embedding(state.word_embedding, int64_view(word_ids, {count})) +
         at::embedding(state.delta_embedding, int64_view(delta_ids, {count}));
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

at::Tensor ner_char_features(const NERPlan::Impl& state, const std::vector<std::string>& tokens) {
  std::vector<std::vector<std::int64_t>> ids_of;
  ids_of.reserve(tokens.size());
  append_char_ids(state, tokens, ids_of);
  return char_features_of(state, ids_of);
}

at::Tensor ner_inputs(const NERPlan::Impl& state, const std::vector<const std::vector<std::string>*>& sentences) {
  // The steps that can fail run sentence by sentence, in the order a sentence alone runs them
  // (character ids, transformer, character-LM texts), so that a chunk fails as its first
  // failing sentence would. The networks then run once over the whole chunk.
  std::vector<std::vector<std::int64_t>> char_ids;
  std::vector<at::Tensor> transformer_rows;
  std::vector<std::vector<std::string>> charlm_texts;
  for (const std::vector<std::string>* tokens : sentences) {
    if (!state.charlm) append_char_ids(state, *tokens, char_ids);
    if (state.use_transformer) transformer_rows.push_back(state.transformer->encode(*tokens, /*keep_endpoints=*/false));
    if (state.charlm) {
      std::vector<std::string>& texts = charlm_texts.emplace_back();
      texts.reserve(tokens->size());
      for (const std::string& token : *tokens) {
        texts.push_back(character_text(state, token));
        // The language models split every text into code points, which fails on invalid UTF-8.
        static_cast<void>(Utf8Text(texts.back()));
      }
    }
  }

  std::vector<at::Tensor> features;
  features.push_back(word_features(state, sentences));
  if (state.use_transformer) features.push_back(at::cat(transformer_rows, 0));
  if (state.charlm) {
    features.push_back(at::cat(state.charlm_forward->encode_many(charlm_texts), 0));
    features.push_back(at::cat(state.charlm_backward->encode_many(charlm_texts), 0));
  } else {
    features.push_back(char_features_of(state, char_ids));
  }
  at::Tensor input = at::cat(features, 1);
  if (state.input_transform) input = at::linear(input, state.input_transform_weight, state.input_transform_bias);
  return input;
}

at::Tensor ner_forward(const NERPlan::Impl& state, const std::vector<std::string>& tokens) {
  return ner_inputs(state, {&tokens}).unsqueeze(0);
}

at::Tensor run_ner_tagger(const NERPlan::Impl& state, const std::vector<const std::vector<std::string>*>& sentences) {
  const at::Tensor input = ner_inputs(state, sentences);
  std::vector<std::int64_t> lengths;
  lengths.reserve(sentences.size());
  for (const std::vector<std::string>* tokens : sentences) lengths.push_back(static_cast<std::int64_t>(tokens->size()));
  if (state.tagger_rnn && input.scalar_type() == at::kFloat) {
    // Packed rows: each sentence runs over its own tokens only, as it would alone.
    return state.tagger_rnn->run_packed(input, lengths, state.tagger_lstm_state);
  }
  std::vector<at::Tensor> rows;
  std::int64_t start = 0;
  for (const std::int64_t length : lengths) {
    rows.push_back(run_bidirectional_lstm(input.narrow(0, start, length).unsqueeze(0), state.tagger_lstm_state,
                                          state.tagger_lstm_params, state.num_layers)
                       .squeeze(0));
    start += length;
  }
  return at::cat(rows, 0);
}

at::Tensor run_ner_tagger_lstm(const NERPlan::Impl& state, const std::vector<std::string>& tokens) {
  return run_ner_tagger(state, {&tokens});
}

}  // namespace velmora::detail
