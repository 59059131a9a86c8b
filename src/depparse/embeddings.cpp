// The parser's input rows: one row for the root, then one per word, each the concatenation of
// the projected pretrained vector, the word and lemma embeddings, the POS embedding twice (it
// also fills the feature slot), the character feature and the optional transformer vector.

#include <string_view>

#include "depparse/model_state.hpp"
#include "models/word_keys.hpp"
#include "velmora/unicode.hpp"

namespace velmora::detail {
namespace {

constexpr std::int64_t kUnknownId = 1;
constexpr std::int64_t kAbsentId = 2;
constexpr std::int64_t kRootId = 3;
constexpr std::string_view kNoValue = "_";

std::int64_t lookup(const StringMap<std::int64_t>& vocabulary, std::string_view key) {
  const auto found = vocabulary.find(key);
  return found == vocabulary.end() ? kUnknownId : found->second;
}

// The pieces of a composite XPOS: none for "_", else split at the separator (empty pieces
// kept), or one piece per code point without a separator.
std::vector<std::string> xpos_pieces(const DepparseModel& model, const std::string& xpos) {
  if (xpos == kNoValue) return {};
  if (model.xpos_separator.empty()) return split_code_points(xpos);
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = xpos.find(model.xpos_separator, start);
    if (at == std::string::npos) {
      pieces.push_back(xpos.substr(start));
      return pieces;
    }
    pieces.push_back(xpos.substr(start, at - start));
    start = at + model.xpos_separator.size();
  }
}

at::Tensor id_tensor(std::vector<std::int64_t>& ids) {
  return at::from_blob(ids.data(), {static_cast<std::int64_t>(ids.size())}, at::kLong);
}

}  // namespace

std::vector<std::int64_t> depparse_character_ids(const DepparseModel& model, const std::string& text) {
  std::vector<std::int64_t> ids;
  for (const std::string& point : split_code_points(text)) ids.push_back(lookup(model.char_vocab, point));
  if (ids.empty()) throw DepparseModelError("depparse cannot encode an empty word");
  return ids;
}

std::vector<std::vector<std::int64_t>> depparse_sentence_character_ids(const DepparseModel& model,
                                                                       const std::vector<DepparseWord>& words) {
  std::vector<std::vector<std::int64_t>> ids;
  ids.reserve(words.size() + 1);
  ids.push_back({kRootId});
  for (const DepparseWord& word : words) ids.push_back(depparse_character_ids(model, fold_punctuation(word.text)));
  return ids;
}

at::Tensor depparse_character_rows(const DepparseModel& model, const std::vector<std::vector<std::int64_t>>& words) {
  return at::linear(encode_character_words(model.char_model, words), depparse_tensor(model, "trans_char.weight"));
}

at::Tensor depparse_char_encode(const DepparseModel& model, const std::vector<std::int64_t>& ids) {
  if (ids.empty()) throw DepparseModelError("depparse cannot encode an empty word");
  return encode_character_words(model.char_model, {ids}).squeeze(0);
}

at::Tensor depparse_char_encode_word(const DepparseModel& model, const std::string& text) {
  return depparse_char_encode(model, depparse_character_ids(model, text));
}

at::Tensor depparse_embed_words(const DepparseModel& model, const std::vector<DepparseWord>& words,
                                const at::Tensor* forward_charlm_rows, const at::Tensor* backward_charlm_rows,
                                const at::Tensor* character_rows) {
  const std::size_t rows = words.size() + 1;
  auto root_list = [&] {
    std::vector<std::int64_t> ids;
    ids.reserve(rows);
    ids.push_back(kRootId);
    return ids;
  };
  std::vector<std::int64_t> word_ids = root_list();
  std::vector<std::int64_t> lemma_ids = root_list();
  std::vector<std::int64_t> upos_ids = root_list();
  std::vector<std::int64_t> pretrained_ids = root_list();
  std::vector<std::int64_t> xpos_ids;
  std::vector<std::vector<std::int64_t>> component_ids;
  if (model.xpos_composite) {
    component_ids.assign(model.xpos_components.size(), root_list());
  } else {
    xpos_ids = root_list();
  }

  std::vector<std::string> charlm_words;
  if (model.charlm) {
    charlm_words.reserve(rows);
    charlm_words.emplace_back("\n");
  }

  for (const DepparseWord& word : words) {
    const std::string key = fold_punctuation(word.text);
    word_ids.push_back(lookup(model.word_vocab, model.word_lower ? unicode_lower(key) : key));
    const std::string lemma = word.lemma.value_or(std::string(kNoValue));
    lemma_ids.push_back(lookup(model.lemma_vocab, model.lemma_lower ? unicode_lower(lemma) : lemma));
    upos_ids.push_back(lookup(model.upos_vocab, word.upos.value_or(std::string(kNoValue))));
    const std::string xpos = word.xpos.value_or(std::string(kNoValue));
    if (model.xpos_composite) {
      const std::vector<std::string> pieces = xpos_pieces(model, xpos);
      for (std::size_t c = 0; c < component_ids.size(); ++c) {
        component_ids[c].push_back(c < pieces.size() ? lookup(model.xpos_components[c], pieces[c]) : kAbsentId);
      }
    } else {
      xpos_ids.push_back(xpos == kNoValue && model.xpos_has_ignore ? kAbsentId : lookup(model.xpos_vocab, xpos));
    }
    pretrained_ids.push_back(lookup(model.pretrain_vocab, pretrained_key(key)));
    if (model.charlm) charlm_words.push_back(word.text);
  }

  const at::Tensor pretrained = at::linear(at::embedding(depparse_tensor(model, "pretrained_emb.weight"), id_tensor(pretrained_ids)),
                                           depparse_tensor(model, "trans_pretrained.weight"));
  const at::Tensor word_rows = at::embedding(depparse_tensor(model, "word_emb.weight"), id_tensor(word_ids));
  const at::Tensor lemma_rows = at::embedding(depparse_tensor(model, "lemma_emb.weight"), id_tensor(lemma_ids));
  at::Tensor pos = at::embedding(depparse_tensor(model, "upos_emb.weight"), id_tensor(upos_ids));
  if (model.xpos_composite) {
    for (std::size_t c = 0; c < component_ids.size(); ++c) {
      pos = pos + at::embedding(depparse_tensor(model, "xpos_emb." + std::to_string(c) + ".weight"),
                                id_tensor(component_ids[c]));
    }
  } else {
    pos = pos + at::embedding(depparse_tensor(model, "xpos_emb.weight"), id_tensor(xpos_ids));
  }
  std::vector<at::Tensor> parts{pretrained, word_rows, lemma_rows, pos, pos};

  if (model.charlm) {
    parts.push_back(forward_charlm_rows != nullptr ? *forward_charlm_rows : model.forward_charlm->encode(charlm_words));
    parts.push_back(backward_charlm_rows != nullptr ? *backward_charlm_rows
                                                    : model.backward_charlm->encode(charlm_words));
  } else {
    parts.push_back(character_rows != nullptr
                        ? *character_rows
                        : depparse_character_rows(model, depparse_sentence_character_ids(model, words)));
  }
  if (model.uses_transformer) {
    std::vector<std::string> texts;
    texts.reserve(words.size());
    for (const DepparseWord& word : words) texts.push_back(word.text);
    // The leading special token's row stands at the root position; the trailing one is dropped.
    parts.push_back(model.transformer->encode(texts, /*keep_endpoints=*/true).narrow(0, 0, static_cast<std::int64_t>(rows)));
  }
  return at::cat(parts, 1).unsqueeze(0);
}

}  // namespace velmora::detail
