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

}  // namespace

std::vector<std::int64_t> pos_character_ids(const POSModel& state, const std::string& word) {
  const std::vector<std::string> characters = split_code_points(word);
  if (characters.empty()) throw POSModelError("POS cannot encode an empty word");
  std::vector<std::int64_t> ids;
  ids.reserve(characters.size());
  for (const std::string& character : characters) ids.push_back(lookup(state.char_vocab, character));
  return ids;
}

at::Tensor pos_char_encode(const POSModel& state, const std::string& word) {
  return encode_character_words(state.char_model, {pos_character_ids(state, word)}).squeeze(0);
}

at::Tensor pos_char_encode_many(const POSModel& state, const std::vector<std::string>& words) {
  std::vector<std::vector<std::int64_t>> ids;
  ids.reserve(words.size());
  for (const std::string& word : words) ids.push_back(pos_character_ids(state, word));
  return encode_character_words(state.char_model, ids);
}

std::vector<std::vector<std::int64_t>> pos_sentence_character_ids(const POSModel& state,
                                                                  const std::vector<std::string>& words) {
  std::vector<std::vector<std::int64_t>> ids;
  ids.reserve(words.size());
  for (const std::string& word : words) ids.push_back(pos_character_ids(state, fold_punctuation(word)));
  return ids;
}

at::Tensor pos_character_rows(const POSModel& state, const std::vector<std::vector<std::int64_t>>& words) {
  return at::linear(encode_character_words(state.char_model, words), pos_tensor(state, "trans_char.weight"));
}

at::Tensor pos_embed_words(const POSModel& state, const std::vector<std::string>& words, const at::Tensor* forward,
                           const at::Tensor* backward, const at::Tensor* characters) {
  std::vector<std::int64_t> word_ids;
  std::vector<std::int64_t> pretrained_ids;
  word_ids.reserve(words.size());
  pretrained_ids.reserve(words.size());
  for (const std::string& word : words) {
    const std::string folded = fold_punctuation(word);
    word_ids.push_back(lookup(state.word_vocab, state.word_lower ? unicode_lower(folded) : folded));
    pretrained_ids.push_back(lookup(state.pretrain_vocab, pretrained_key(folded)));
  }
  std::vector<at::Tensor> parts;
  parts.push_back(at::embedding(pos_tensor(state, "word_emb.weight"), id_tensor(word_ids)));
  parts.push_back(at::linear(at::embedding(pos_tensor(state, "pretrained_emb.weight"), id_tensor(pretrained_ids)),
                             pos_tensor(state, "trans_pretrained.weight")));
  if (!state.uses_charlm) {
    parts.push_back(characters != nullptr ? *characters
                                          : pos_character_rows(state, pos_sentence_character_ids(state, words)));
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
