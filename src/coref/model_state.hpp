#pragma once

// The loaded coreference model and the stages of its forward pass: word encoding over
// transformer windows, antecedent scoring, clustering, span prediction and zero anaphora.

#include <ATen/ATen.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "encoders/transformer_native.hpp"
#include "models/string_hash.hpp"
#include "velmora/coref.hpp"

namespace velmora {

struct CorefPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  /// Every tensor of the bundle, as a read-only view.
  detail::StringMap<at::Tensor> tensors;
  std::unique_ptr<detail::NativeTransformer> transformer;
  /// The bundle's own subword ids of known words, tried before the transformer's tokenizer.
  detail::StringMap<std::vector<std::int64_t>> word_subwords;
  std::int64_t hidden_size = 0;
  std::int64_t embedding_size = 0;
  std::int64_t sp_embedding_size = 0;
  std::int64_t a_scoring_batch_size = 0;
  std::int64_t n_hidden_layers = 0;
  std::int64_t rough_k = 0;
  std::int64_t bert_window_size = 0;
  std::int64_t cls_id = -1;
  std::int64_t sep_id = -1;
  std::int64_t pad_id = -1;
  std::int64_t eos_id = -1;
  bool singletons = false;
  bool full_pairwise = false;
  bool use_zeros = false;
};

}  // namespace velmora

namespace velmora::detail {

using CorefModel = CorefPlan::Impl;
using WordSpan = std::pair<std::uint64_t, std::uint64_t>;

/// Words per unit of work where words are pooled and scored in blocks: each block's rows are
/// computed on one thread, so the results do not depend on the thread count.
inline constexpr std::int64_t kCorefWordsPerUnit = 32;

/// Fills `model` from the bundle directory; the first failure ends loading.
void load_coref_model(CorefModel& model, std::filesystem::path bundle_path, bool verify_checksums);

/// The bound tensor of that name, or CorefModelError.
const at::Tensor& coref_tensor(const CorefModel& model, std::string_view name);

/// An int64 tensor of `shape` owning a copy of `data`.
at::Tensor coref_long_tensor(const std::int64_t* data, at::IntArrayRef shape);

struct CorefWordEncoding {
  /// float32 [subwords, hidden_size]: the document's subword vectors, special ids excluded.
  at::Tensor subword_embeddings;
  /// Per word: its first subword row and one past its last.
  std::vector<std::pair<std::int64_t, std::int64_t>> word_spans;
};

/// The transformer windows [start, end) over subwords whose owners have the given sentence ids:
/// at most `room` subwords each, ending at the last sentence boundary inside the window when
/// there is one.
std::vector<std::pair<std::int64_t, std::int64_t>> coref_windows(const std::vector<std::uint64_t>& subword_sentences,
                                                                 std::int64_t room);

CorefWordEncoding coref_encode_words(const CorefModel& model, const std::vector<std::string>& words,
                                     const std::vector<std::uint64_t>& sentence_ids);

/// float32 [words, hidden_size]: each word's subword rows pooled by the learned attention.
at::Tensor coref_pool_subwords(const CorefModel& model, const CorefWordEncoding& encoding);

/// The pairwise distance bucket (0 to 8) of a head and a candidate `distance` words before it.
std::int64_t coref_distance_bucket(std::int64_t distance);

/// Per word, the antecedent chosen by the scoring network, and whether it heads a mention on
/// its own (only with singletons).
struct CorefAntecedents {
  /// The antecedent word of each word, or -1.
  std::vector<std::int64_t> antecedent;
  std::vector<bool> mention;
};

/// Scores the rough top-k candidates of every word and picks each word's antecedent.
CorefAntecedents coref_score_antecedents(const CorefModel& model, const at::Tensor& word_vectors,
                                         const std::vector<std::string>& speakers);

/// The clusters of the undirected antecedent links, plus single-word clusters of flagged
/// unlinked words; each cluster ascending, the list ordered lexicographically.
std::vector<std::vector<std::uint64_t>> coref_clusters(const CorefAntecedents& antecedents);

/// The span of `head` from the start and end scores of its sentence's words (ascending word
/// indices `sentence_words`, one score each): the best start at or before the head and the
/// best end at or after it, earliest on ties, NaN never chosen.
WordSpan coref_span_from_scores(const std::vector<std::int64_t>& sentence_words, const float* start_scores,
                                const float* end_scores, std::int64_t head);

/// The whole forward pass; inference mode is entered here.
CorefPrediction coref_forward(const CorefModel& model, const std::vector<std::string>& words,
                              const std::vector<std::uint64_t>& sentence_ids, const std::vector<std::string>& speakers);

/// The resolver's view of a document: its regular words with their sentence and speaker.
/// Sentences without regular words take no id, so that every id stays below the word count.
struct CorefDocumentWords {
  std::vector<std::string> words;
  /// Consecutive ids of the sentences that have words, one per word.
  std::vector<std::uint64_t> sentence_ids;
  std::vector<std::string> speakers;
  /// The document sentence of each id.
  std::vector<std::uint32_t> sentences;
};

CorefDocumentWords coref_document_words(const Document& document);

/// Turns a prediction over `words` into chains (adding an empty word per zero anaphor) and
/// stores them in the document.
void store_coref_prediction(Document document, const CorefDocumentWords& words,
                            const CorefPrediction& prediction);

}  // namespace velmora::detail
