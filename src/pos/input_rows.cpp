// The tagger's input rows: word embedding, projected pretrained embedding, a character feature
// (the tagger's own character model, projected, or the two character language models) and,
// when configured, the transformer's word vectors.

#include <algorithm>
#include <utility>

#include "models/word_keys.hpp"
#include "pos/model_state.hpp"
#include "velmora/unicode.hpp"

namespace velmora::detail {
namespace {

std::int64_t lookup(const StringMap<std::int64_t>& vocab, const std::string& key) {
  const auto found = vocab.find(key);
  return found == vocab.end() ? 1 : found->second;
}

// Wraps gathered ids without copying; the vector outlives every use of the tensor.
at::Tensor id_tensor(std::vector<std::int64_t>& ids) {
  return at::from_blob(ids.data(), {static_cast<std::int64_t>(ids.size())}, at::kLong);
}

std::vector<std::int64_t> character_ids(const POSModel& state, const std::string& word) {
  const std::vector<std::string> characters = split_code_points(word);
  if (characters.empty()) throw POSModelError("POS cannot encode an empty word");
  std::vector<std::int64_t> ids;
  ids.reserve(characters.size());
  for (const std::string& character : characters) ids.push_back(lookup(state.char_vocab, character));
  return ids;
}

// The attention-weighted sum over the character positions of LSTM outputs [words, L, C];
// positions past a word's end hold zeros and add nothing.
at::Tensor attend(const POSModel& state, const at::Tensor& hidden) {
  // Independent sigmoid weights per character, not a softmax over them.
  const at::Tensor attention = at::sigmoid(at::linear(hidden, pos_tensor(state, "charmodel.char_attn.weight")));
  return (hidden * attention).sum(1);
}

}  // namespace

at::Tensor pos_char_encode(const POSModel& state, const std::string& word) {
  std::vector<std::int64_t> ids = character_ids(state, word);
  const at::Tensor embedded =
      at::embedding(pos_tensor(state, "charmodel.char_emb.weight"), id_tensor(ids).unsqueeze(0));
  const at::Tensor hidden =
      std::get<0>(at::lstm(embedded, state.char_lstm_initial_state, state.char_lstm_weights, /*has_biases=*/true,
                           /*num_layers=*/1, /*dropout=*/0.0, /*train=*/false, /*bidirectional=*/false,
                           /*batch_first=*/true));
  return attend(state, hidden).squeeze(0);
}

at::Tensor pos_char_encode_many(const POSModel& state, const std::vector<std::string>& words) {
  const at::Tensor& embedding = pos_tensor(state, "charmodel.char_emb.weight");
  if (!state.char_lstm || embedding.scalar_type() != at::kFloat) {
    std::vector<at::Tensor> vectors;
    vectors.reserve(words.size());
    for (const std::string& word : words) vectors.push_back(pos_char_encode(state, word));
    return at::stack(vectors, 0);
  }
  // Every word is its own sequence from the same initial state: one run over all of them.
  std::vector<std::vector<std::int64_t>> ids;
  ids.reserve(words.size());
  std::vector<std::int64_t> lengths;
  lengths.reserve(words.size());
  std::size_t longest = 0;
  for (const std::string& word : words) {
    ids.push_back(character_ids(state, word));
    lengths.push_back(static_cast<std::int64_t>(ids.back().size()));
    longest = std::max(longest, ids.back().size());
  }
  // Padding repeats a word's first id, which is as valid as the word itself; its outputs are zero.
  std::vector<std::int64_t> padded;
  padded.reserve(words.size() * longest);
  for (const std::vector<std::int64_t>& word : ids) {
    padded.insert(padded.end(), word.begin(), word.end());
    padded.insert(padded.end(), longest - word.size(), word.front());
  }
  const at::Tensor id_matrix = id_tensor(padded).view({static_cast<std::int64_t>(words.size()),
                                                       static_cast<std::int64_t>(longest)});
  const at::Tensor hidden = (*state.char_lstm)(at::embedding(embedding, id_matrix), lengths,
                                               state.char_lstm_initial_state);
  return attend(state, hidden);
}

at::Tensor pos_character_rows(const POSModel& state, const std::vector<std::vector<std::string>>& sentences) {
  if (state.uses_charlm) return {};
  // Words per run of the character LSTM: enough rows for every worker, a bounded padded input.
  constexpr std::size_t kWordsPerRun = 1024;
  std::vector<at::Tensor> pieces;
  std::vector<std::string> folded;
  folded.reserve(kWordsPerRun);
  auto run = [&] {
    if (folded.empty()) return;
    pieces.push_back(pos_char_encode_many(state, folded));
    folded.clear();
  };
  for (const std::vector<std::string>& words : sentences) {
    for (const std::string& word : words) {
      folded.push_back(fold_punctuation(word));
      if (folded.size() == kWordsPerRun) run();
    }
  }
  run();
  if (pieces.empty()) return at::empty({0, pos_tensor(state, "trans_char.weight").size(0)}, at::kFloat);
  return at::linear(pieces.size() == 1 ? pieces.front() : at::cat(pieces, 0), pos_tensor(state, "trans_char.weight"));
}

at::Tensor pos_embed_words(const POSModel& state, const std::vector<std::string>& words, const at::Tensor* forward,
                           const at::Tensor* backward, const at::Tensor* characters) {
  std::vector<std::int64_t> word_ids;
  std::vector<std::int64_t> pretrained_ids;
  std::vector<std::string> folded_words;
  word_ids.reserve(words.size());
  pretrained_ids.reserve(words.size());
  for (const std::string& word : words) {
    const std::string folded = fold_punctuation(word);
    word_ids.push_back(lookup(state.word_vocab, state.word_lower ? unicode_lower(folded) : folded));
    pretrained_ids.push_back(lookup(state.pretrain_vocab, pretrained_key(folded)));
    if (!state.uses_charlm && characters == nullptr) folded_words.push_back(folded);
  }
  std::vector<at::Tensor> parts;
  parts.push_back(at::embedding(pos_tensor(state, "word_emb.weight"), id_tensor(word_ids)));
  parts.push_back(at::linear(at::embedding(pos_tensor(state, "pretrained_emb.weight"), id_tensor(pretrained_ids)),
                             pos_tensor(state, "trans_pretrained.weight")));
  if (!state.uses_charlm && characters != nullptr) {
    parts.push_back(*characters);
  } else if (!state.uses_charlm) {
    parts.push_back(at::linear(pos_char_encode_many(state, folded_words), pos_tensor(state, "trans_char.weight")));
  } else {
    at::Tensor forward_rows = forward != nullptr ? *forward : state.forward_charlm->encode(words);
    at::Tensor backward_rows = backward != nullptr ? *backward : state.backward_charlm->encode(words);
    if (state.charlm_transform_dim > 0) {
      forward_rows = at::linear(forward_rows, pos_tensor(state, "charmodel_forward_transform.weight"));
      backward_rows = at::linear(backward_rows, pos_tensor(state, "charmodel_backward_transform.weight"));
    }
    parts.push_back(std::move(forward_rows));
    parts.push_back(std::move(backward_rows));
  }
  if (state.uses_transformer) parts.push_back(state.transformer->encode(words, /*keep_endpoints=*/false));
  return at::cat(parts, 1).unsqueeze(0);
}

}  // namespace velmora::detail
