#pragma once

// The loaded lemmatizer and its internal operations.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "models/string_hash.hpp"
#include "velmora/lemma.hpp"
#include "velmora/seq2seq.hpp"

namespace velmora {

struct LemmaPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  std::unique_ptr<Seq2SeqPlan> seq2seq;  // empty for a dictionary-only bundle
  // POS key ("_" for no UPOS, "*" for every POS) -> word -> lemma.
  detail::StringMap<detail::StringMap<std::string>> pos_dict;
  bool dict_only = false;
  bool ensemble_dict = false;
  bool caseless = false;
  bool pos = false;
};

namespace detail {

using LemmaModel = LemmaPlan::Impl;

std::unique_ptr<LemmaModel> load_lemma_model(std::filesystem::path bundle_path, bool verify_checksums);
/// The stored lemma of a lookup word under its POS entry, else under "*".
std::optional<std::string> lookup_lemma(const LemmaModel& model, const std::string& word, const std::string& pos);
/// The lemma of one word.
std::string lemmatize_word(const LemmaModel& model, const std::string& word, const std::optional<std::string>& upos);
/// The lemmas of many words; the model runs once for every word the dictionary does not answer.
std::vector<std::string> lemmatize_words(const LemmaModel& model, const std::vector<std::string>& words,
                                         const std::vector<std::optional<std::string>>& upos);

}  // namespace detail
}  // namespace velmora
