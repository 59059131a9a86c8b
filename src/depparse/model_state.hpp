#pragma once

// The loaded dependency parser, built once by the plan's constructor and only read afterwards,
// and the internal stages that read it: input embeddings, the highway BiLSTM encoder, the deep
// biaffine scorers and the decoders.

#include <ATen/ATen.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "encoders/charlm_native.hpp"
#include "encoders/transformer_native.hpp"
#include "models/highway_lstm.hpp"
#include "models/sentence_embedding.hpp"
#include "models/sentence_chunks.hpp"
#include "models/string_hash.hpp"
#include "models/word_character_model.hpp"
#include "velmora/depparse.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {

/// The weights of one encoder layer: a one-layer BiLSTM and the highway term around it.
using DepparseHighwayLayer = detail::HighwayLstmLayer;

struct DepparsePlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  detail::StringMap<at::Tensor> tensors;
  detail::WordCharacterModel char_model;  // unbound with character language models
  std::vector<DepparseHighwayLayer> layers;
  detail::StringMap<std::int64_t> word_vocab;
  detail::StringMap<std::int64_t> lemma_vocab;
  detail::StringMap<std::int64_t> char_vocab;
  detail::StringMap<std::int64_t> upos_vocab;
  detail::StringMap<std::int64_t> xpos_vocab;                 // plain XPOS only
  std::vector<detail::StringMap<std::int64_t>> xpos_components;  // composite XPOS only
  detail::StringMap<std::int64_t> pretrain_vocab;
  std::vector<std::string> deprels;  // the first four are reserved; relation column c is entry c + 4
  std::uint64_t feature_count = 0;
  std::int64_t word_emb_dim = 0;
  std::int64_t tag_emb_dim = 0;
  std::int64_t transformed_dim = 0;
  std::int64_t char_emb_dim = 0;
  std::int64_t char_hidden_dim = 0;
  std::int64_t hidden_dim = 0;
  std::int64_t num_layers = 0;
  std::int64_t batch_size = 5000;
  std::int64_t deep_biaff_hidden_dim = 0;
  std::string xpos_separator;
  bool word_lower = false;
  bool lemma_lower = false;
  bool xpos_has_ignore = false;
  bool xpos_composite = false;
  bool linearization = false;
  bool distance = false;
  bool charlm = false;
  bool uses_transformer = false;
  std::unique_ptr<detail::NativeCharLM> forward_charlm;
  std::unique_ptr<detail::NativeCharLM> backward_charlm;
  std::unique_ptr<detail::NativeTransformer> transformer;
};

namespace detail {

using DepparseModel = DepparsePlan::Impl;

/// Opens a "depparse" bundle, checks its profile, reads its vocabularies and binds its weights.
std::unique_ptr<DepparseModel> load_depparse_model(std::filesystem::path bundle_path, bool verify_checksums);

/// The bound tensor of that name; DepparseModelError when absent.
const at::Tensor& depparse_tensor(const DepparseModel& model, std::string_view name);

// Input embeddings ------------------------------------------------------------------------

/// [1, n + 1, input width] for a non-empty sentence, row 0 standing for the root. The two
/// pointers carry precomputed character-LM rows ([n + 1, hidden], root row first); null makes
/// the model run that character LM itself. They are read only with character language models.
/// `character_rows`, read only without them, carries the sentence's depparse_character_rows
/// (computed with other sentences'); null makes the model run its character model itself.
at::Tensor depparse_embed_words(const DepparseModel& model, const std::vector<DepparseWord>& words,
                                const at::Tensor* forward_charlm_rows, const at::Tensor* backward_charlm_rows,
                                const at::Tensor* character_rows = nullptr);
/// The character ids of one text; DepparseModelError for an empty one.
std::vector<std::int64_t> depparse_character_ids(const DepparseModel& model, const std::string& text);
/// The character ids of a sentence's rows: the root's, then each word's (punctuation folded).
std::vector<std::vector<std::int64_t>> depparse_sentence_character_ids(const DepparseModel& model,
                                                                       const std::vector<DepparseWord>& words);
/// The parser's own character model over many words in one run, projected by trans_char:
/// [words, transformed_dim].
at::Tensor depparse_character_rows(const DepparseModel& model, const std::vector<std::vector<std::int64_t>>& words);
/// The parser's own character model on one text: [char_hidden_dim].
at::Tensor depparse_char_encode_word(const DepparseModel& model, const std::string& text);
/// The parser's own character model on character ids: [char_hidden_dim].
at::Tensor depparse_char_encode(const DepparseModel& model, const std::vector<std::int64_t>& ids);

/// The input rows [n_i + 1, input width] of the leading sentences that embed (undefined for a
/// sentence without words), and the failure of the next one (null when all did). The character
/// model runs over the words of all of them at once.
EmbeddedSentences depparse_embed_sentences(const DepparseModel& model,
                                           std::span<const std::vector<DepparseWord>> sentences,
                                           std::span<const at::Tensor> forward_charlm_rows,
                                           std::span<const at::Tensor> backward_charlm_rows);

// Encoder ---------------------------------------------------------------------------------

/// [1, n + 1, 2H] for one non-empty sentence.
at::Tensor depparse_highway_lstm_forward(const DepparseModel& model, const std::vector<DepparseWord>& words,
                                         const at::Tensor* forward_charlm_rows,
                                         const at::Tensor* backward_charlm_rows);
/// One [1, n_i + 1, 2H] tensor per sentence (undefined for an empty one), encoded in padded
/// groups of at most batch_size rows. The character-LM vectors are read only with character
/// language models and are indexed like the sentences.
std::vector<at::Tensor> depparse_highway_lstm_forward_batch(const DepparseModel& model,
                                                            const std::vector<std::vector<DepparseWord>>& sentences,
                                                            const std::vector<at::Tensor>& forward_charlm_rows,
                                                            const std::vector<at::Tensor>& backward_charlm_rows);

/// How both the encoder and the scorers cut sentences into padded groups: at most
/// batch_size padded rows per group, unless one sentence alone is longer.
HighwayGrouping depparse_grouping(const DepparseModel& model);

// Scoring ---------------------------------------------------------------------------------

/// The two projected sides of a deep biaffine scorer, each [B, N, D + 1] with its ones column.
struct BiaffineRows {
  at::Tensor dependents;
  at::Tensor heads;
};
BiaffineRows biaffine_rows(const DepparseModel& model, const at::Tensor& encoded, std::string_view prefix);
/// [B, N, N, O] of the deep biaffine scorer named `prefix`: row i the dependent, column j the head.
at::Tensor deep_biaffine_scores(const DepparseModel& model, const at::Tensor& encoded, std::string_view prefix);
/// Arc log-probabilities [B, N, N]; the optional mask [B, N] is true at real positions, and
/// padded positions cannot be heads.
at::Tensor depparse_arc_scores(const DepparseModel& model, const at::Tensor& encoded, const at::Tensor* mask);
/// (arc log-probabilities [B, N, N], relation log-probabilities [B, N, N, R - 4]).
std::pair<at::Tensor, at::Tensor> depparse_scores(const DepparseModel& model, const at::Tensor& encoded,
                                                  const at::Tensor* mask);
/// depparse_scores of every encoded sentence, regrouped into padded batches.
std::vector<std::pair<at::Tensor, at::Tensor>> depparse_score_batch(
    const DepparseModel& model, const std::vector<at::Tensor>& encoded,
    const std::vector<std::vector<DepparseWord>>& sentences);

/// What decoding reads of one sentence of n words: the arc log-probabilities [n + 1, n + 1] and
/// the relation scorer's projected rows [n + 1, D + 1] of both sides, from which relation
/// scores are formed only for the arcs decoding asks about.
struct DepparseSentenceScores {
  at::Tensor arcs;
  at::Tensor relation_dependents;
  at::Tensor relation_heads;
};
/// The scores of one encoded sentence [1, n + 1, 2H].
DepparseSentenceScores depparse_sentence_scores(const DepparseModel& model, const at::Tensor& encoded);
/// The scores of every encoded sentence, in padded groups like the encoder's; undefined tensors
/// for a sentence without words. The scorers' projections run on the sentences' rows without
/// padding; only their pairwise products are padded.
std::vector<DepparseSentenceScores> depparse_score_sentences(const DepparseModel& model,
                                                             const std::vector<at::Tensor>& encoded,
                                                             std::span<const std::vector<DepparseWord>> sentences);

/// Relation log-probabilities of chosen arcs of one sentence from the relation scorer's projected
/// rows; a source for RelationScores. Each dependent's product with the bilinear form is kept
/// after its first use when the sentence's products fit a bounded size, so that arcs asked for
/// later (the repair search's) do not read the form again. Not for use by several threads at once.
class RelationScorer {
 public:
  RelationScorer(const DepparseModel& model, at::Tensor dependents, at::Tensor heads);
  std::int64_t relations() const { return bilinear_.size(2); }
  /// Writes `relations()` doubles per arc heads[k] -> dependents[k] into `out`.
  void operator()(const std::vector<std::int64_t>& dependents, const std::vector<std::int64_t>& heads,
                  double* out) const;

 private:
  at::Tensor dependents_;
  at::Tensor heads_;
  at::Tensor bilinear_;
  at::Tensor bias_;
  mutable at::Tensor products_;  // [positions, Q * relations]: every dependent row times the form
};

// Decoding --------------------------------------------------------------------------------

/// The predictions of one sentence from its arc and relation score tensors (batch dimension of one).
std::vector<DepparsePrediction> depparse_decode_sentence(const DepparseModel& model,
                                                         const std::vector<DepparseWord>& words,
                                                         at::Tensor& arc_scores, at::Tensor& relation_scores);
/// The predictions of one sentence from its scores; the relation scores read are formed arc by arc.
std::vector<DepparsePrediction> depparse_decode_sentence(const DepparseModel& model,
                                                         const std::vector<DepparseWord>& words,
                                                         DepparseSentenceScores scores);

// Plan steps ------------------------------------------------------------------------------

/// A sentence alone: a batch of one.
std::vector<DepparsePrediction> depparse_parse_sentence(const DepparseModel& model,
                                                        const std::vector<DepparseWord>& words);
/// Every sentence, in chunks of consecutive sentences; rethrows the first sentence's failure.
std::vector<std::vector<DepparsePrediction>> depparse_parse_batch(
    const DepparseModel& model, const std::vector<std::vector<DepparseWord>>& sentences);
/// The character language models once over all sentences, then chunks of consecutive sentences
/// as units, each embedded, encoded and scored as one batch and decoded sentence by sentence.
/// `predictions` gets one entry per sentence, filled for sentences [0, completed).
ChunkedRun depparse_parse_chunks(const DepparseModel& model, const std::vector<std::vector<DepparseWord>>& sentences,
                                 std::vector<std::vector<DepparsePrediction>>& predictions);

}  // namespace detail
}  // namespace velmora
