// The lemmatizer's operations: dictionary lookup, the seq2seq model with its edit classes, and
// writing lemmas into documents.

#include "models/model_config.hpp"
#include "seq2seq/lemma_model.hpp"
#include "velmora/document.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/unicode.hpp"

namespace velmora {
namespace detail {
namespace {

constexpr std::string_view kPlaceholder = "_";

std::string or_placeholder(std::string lemma) { return lemma.empty() ? std::string(kPlaceholder) : lemma; }

struct LookupKey {
  std::string word;
  std::string pos;
};

LookupKey lookup_key(const LemmaModel& model, const std::string& word, const std::optional<std::string>& upos) {
  return {model.caseless ? unicode_lower(word) : word, upos.value_or(std::string(kPlaceholder))};
}

// The lemma of a word that the dictionary or the missing model answers, if so.
std::optional<std::string> answer_without_model(const LemmaModel& model, const LookupKey& key) {
  if (model.dict_only || model.ensemble_dict) {
    if (std::optional<std::string> hit = lookup_lemma(model, key.word, key.pos)) return or_placeholder(*hit);
    if (model.dict_only) return or_placeholder(key.word);
  }
  if (!model.seq2seq) return or_placeholder(key.word);
  return std::nullopt;
}

std::string lemma_from_prediction(const Seq2SeqPrediction& prediction, const std::string& lookup_word) {
  std::string candidate;
  switch (prediction.edit_class.value_or(0)) {
    case 0: candidate = prediction.text; break;
    case 1: candidate = lookup_word; break;
    case 2: candidate = unicode_lower(lookup_word); break;
    default: throw LemmaModelError("seq2seq returned an unknown lemma edit class");
  }
  if (candidate.empty() || candidate.find("<UNK>") != std::string::npos) candidate = lookup_word;
  return or_placeholder(std::move(candidate));
}

}  // namespace

std::optional<std::string> lookup_lemma(const LemmaModel& model, const std::string& word, const std::string& pos) {
  for (std::string_view key : {std::string_view(pos), std::string_view("*")}) {
    const auto entry = model.pos_dict.find(key);
    if (entry == model.pos_dict.end()) continue;
    const auto found = entry->second.find(word);
    if (found != entry->second.end()) return found->second;
  }
  return std::nullopt;
}

std::string lemmatize_word(const LemmaModel& model, const std::string& word, const std::optional<std::string>& upos) {
  const LookupKey key = lookup_key(model, word, upos);
  if (std::optional<std::string> answer = answer_without_model(model, key)) return *answer;
  return lemma_from_prediction(model.seq2seq->predict(key.word, key.pos, std::nullopt, /*suppress_unk=*/false),
                               key.word);
}

std::vector<std::string> lemmatize_words(const LemmaModel& model, const std::vector<std::string>& words,
                                         const std::vector<std::optional<std::string>>& upos) {
  if (words.size() != upos.size()) throw LemmaModelError("lemma word and POS batches must have equal lengths");
  std::vector<std::string> lemmas(words.size());
  std::vector<std::size_t> pending;
  std::vector<std::string> pending_words;
  std::vector<std::optional<std::string>> pending_pos;
  for (std::size_t i = 0; i < words.size(); ++i) {
    LookupKey key = lookup_key(model, words[i], upos[i]);
    if (std::optional<std::string> answer = answer_without_model(model, key)) {
      lemmas[i] = std::move(*answer);
      continue;
    }
    pending.push_back(i);
    pending_words.push_back(std::move(key.word));
    pending_pos.emplace_back(std::move(key.pos));
  }
  if (pending.empty()) return lemmas;
  const std::vector<Seq2SeqPrediction> predictions =
      model.seq2seq->predict_many(pending_words, pending_pos, std::nullopt, /*suppress_unk=*/false);
  for (std::size_t k = 0; k < pending.size(); ++k) {
    lemmas[pending[k]] = lemma_from_prediction(predictions[k], pending_words[k]);
  }
  return lemmas;
}

}  // namespace detail

LemmaPlan::LemmaPlan(std::filesystem::path bundle_path, bool verify_checksums)
    : impl_(detail::with_model_error<LemmaModelError>(
          [&] { return detail::load_lemma_model(std::move(bundle_path), verify_checksums); })) {}

LemmaPlan::~LemmaPlan() = default;
LemmaPlan::LemmaPlan(LemmaPlan&&) noexcept = default;
LemmaPlan& LemmaPlan::operator=(LemmaPlan&&) noexcept = default;

const ModelBundle& LemmaPlan::bundle() const { return *impl_->bundle; }
bool LemmaPlan::uses_pos() const { return impl_->pos; }

std::string LemmaPlan::lemmatize(const std::string& word, const std::optional<std::string>& upos) const {
  return detail::lemmatize_word(*impl_, word, upos);
}

namespace {

// The text and UPOS of every word of the documents, in order.
void collect_words(const std::vector<Document>& documents, std::vector<std::string>& texts,
                   std::vector<std::optional<std::string>>& upos) {
  for (const Document& document : documents) {
    const WordSequence words = document.words();
    for (std::size_t i = 0; i < words.size(); ++i) {
      const Word word = words.at(static_cast<long>(i));
      texts.push_back(word.text());
      upos.push_back(word.upos());
    }
  }
}

}  // namespace

Document LemmaPlan::process(Document document) const {
  // A document's words are a batch: they take the path of a list's words.
  std::vector<Document> documents;
  documents.push_back(std::move(document));
  std::vector<std::string> texts;
  std::vector<std::optional<std::string>> upos;
  collect_words(documents, texts, upos);
  std::vector<std::string> lemmas;
  try {
    lemmas = detail::lemmatize_words(*impl_, texts, upos);
  } catch (...) {
    // The words before the one that fails keep their new lemmas: one word at a time, that word
    // raises the same error.
    const WordSequence words = documents.front().words();
    for (std::size_t i = 0; i < words.size(); ++i) {
      Word word = words.at(static_cast<long>(i));
      word.set_lemma(detail::lemmatize_word(*impl_, word.text(), word.upos()));
    }
    return std::move(documents.front());
  }
  const WordSequence words = documents.front().words();
  for (std::size_t i = 0; i < words.size(); ++i) words.at(static_cast<long>(i)).set_lemma(lemmas[i]);
  return std::move(documents.front());
}

std::vector<Document> LemmaPlan::process_bulk(std::vector<Document> documents) const {
  std::vector<std::string> texts;
  std::vector<std::optional<std::string>> upos;
  collect_words(documents, texts, upos);
  const std::vector<std::string> lemmas = detail::lemmatize_words(*impl_, texts, upos);
  std::size_t next = 0;
  for (const Document& document : documents) {
    const WordSequence words = document.words();
    for (std::size_t i = 0; i < words.size(); ++i) words.at(static_cast<long>(i)).set_lemma(lemmas[next++]);
  }
  return documents;
}

}  // namespace velmora
