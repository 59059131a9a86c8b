// Antecedent scoring: a rough bilinear scorer keeps each word's best `rough_k` earlier words
// as candidates; a feed-forward anaphoricity scorer over the word, the candidate, their product
// and pairwise distance (and speaker) features rescores them against a fixed dummy score for
// "no antecedent". With singletons a start column also decides whether a word heads a mention
// on its own.

#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "coref/model_state.hpp"
#include "models/parallel_units.hpp"

namespace velmora::detail {
namespace {

// The dummy column's score: a candidate has to beat it to become an antecedent.
constexpr double kDummyScore = 1e-7;

// The pairwise features [count, k, P] of the candidates of words first to first + count - 1.
at::Tensor pairwise_embeddings(const CorefModel& model, const at::Tensor& candidates, std::int64_t first,
                               const std::vector<std::string>& speakers) {
  const std::int64_t count = candidates.size(0);
  const std::int64_t k = candidates.size(1);
  const auto rows = candidates.accessor<std::int64_t, 2>();
  std::vector<std::int64_t> buckets;
  std::vector<std::int64_t> same_speaker;
  buckets.reserve(static_cast<std::size_t>(count * k));
  if (model.full_pairwise) same_speaker.reserve(static_cast<std::size_t>(count * k));
  for (std::int64_t r = 0; r < count; ++r) {
    const std::int64_t i = first + r;
    for (std::int64_t c = 0; c < k; ++c) {
      const std::int64_t j = rows[r][c];
      buckets.push_back(coref_distance_bucket(i - j));
      if (model.full_pairwise) {
        same_speaker.push_back(speakers[static_cast<std::size_t>(i)] == speakers[static_cast<std::size_t>(j)]);
      }
    }
  }
  const at::Tensor distances =
      at::embedding(coref_tensor(model, "pw.distance_emb.weight"), coref_long_tensor(buckets.data(), candidates.sizes()));
  if (!model.full_pairwise) return distances;
  const at::Tensor flags = coref_long_tensor(same_speaker.data(), candidates.sizes());
  return at::cat({at::embedding(coref_tensor(model, "pw.speaker_emb.weight"), flags), distances}, 2);
}

// [count, k] anaphoricity scores of the candidates of words first to first + count - 1.
at::Tensor anaphoricity_scores(const CorefModel& model, const at::Tensor& words, const at::Tensor& candidates,
                               const at::Tensor& pairwise, std::int64_t first) {
  const std::int64_t count = candidates.size(0);
  const std::int64_t k = candidates.size(1);
  const std::int64_t hidden = words.size(1);
  const at::Tensor candidate_rows = words.index_select(0, candidates.flatten()).reshape({count, k, hidden});
  const at::Tensor mention_rows = words.narrow(0, first, count).unsqueeze(1).expand({count, k, hidden});
  at::Tensor pairs = at::cat({mention_rows, candidate_rows, mention_rows * candidate_rows, pairwise}, 2);
  for (std::int64_t layer = 0; layer < model.n_hidden_layers; ++layer) {
    const std::string prefix = "a_scorer.hidden." + std::to_string(3 * layer);
    pairs = at::leaky_relu(
        at::linear(pairs, coref_tensor(model, prefix + ".weight"), coref_tensor(model, prefix + ".bias")), 0.01);
  }
  return at::linear(pairs, coref_tensor(model, "a_scorer.out.weight"), coref_tensor(model, "a_scorer.out.bias"))
      .squeeze(-1);
}

// Antecedents and mention flags in slots that units may write side by side (unlike the bits of
// a std::vector<bool>).
struct Decisions {
  std::vector<std::int64_t> antecedent;
  std::vector<std::uint8_t> mention;
};

// Scores the words first to first + count - 1 against their rough top-k candidates and writes
// their decisions.
void score_block(const CorefModel& model, const at::Tensor& words, const std::vector<std::string>& speakers,
                 std::int64_t first, std::int64_t count, Decisions& result) {
  const std::int64_t n = words.size(0);
  const std::int64_t k = std::min(n, model.rough_k);
  const at::Tensor projected = at::linear(words.narrow(0, first, count),
                                          coref_tensor(model, "rough_scorer.bilinear.weight"),
                                          coref_tensor(model, "rough_scorer.bilinear.bias"));
  // Only earlier words are candidates: for row r (word first + r) every column from first + r on
  // is masked.
  const at::Tensor precedence =
      at::full({count, n}, -std::numeric_limits<float>::infinity(), words.options()).triu(first);
  const at::Tensor rough = at::matmul(projected, words.t()) + precedence;
  const auto [rough_top, candidates] = at::topk(rough, k, 1, true, false);
  at::Tensor scores =
      anaphoricity_scores(model, words, candidates, pairwise_embeddings(model, candidates, first, speakers), first);
  const at::Tensor dummy = at::full({count, 1}, kDummyScore, scores.options());
  at::Tensor start_column;
  if (model.singletons) {
    // The start column reads the anaphoricity scores before the rough scores are added.
    start_column = at::matmul(scores, coref_tensor(model, "a_scorer.start_map.weight").narrow(1, 0, k).t());
  }
  scores = scores + rough_top;
  const at::Tensor final_scores = model.singletons ? at::cat({start_column, dummy, scores}, 1) : at::cat({dummy, scores}, 1);

  const std::int64_t first_choice = model.singletons ? 1 : 0;
  const at::Tensor slots = (at::argmax(final_scores.narrow(1, first_choice, k + 1), 1) - 1).contiguous();
  const auto slot = slots.accessor<std::int64_t, 1>();
  const auto candidate = candidates.accessor<std::int64_t, 2>();
  for (std::int64_t r = 0; r < count; ++r) {
    if (slot[r] >= 0) result.antecedent[static_cast<std::size_t>(first + r)] = candidate[r][slot[r]];
  }
  if (model.singletons) {
    // A tie between the start column and the dummy goes to the start column.
    const at::Tensor starts = (at::argmax(final_scores.narrow(1, 0, 2), 1) == 0).contiguous();
    const auto starts_mention = starts.accessor<bool, 1>();
    for (std::int64_t r = 0; r < count; ++r) result.mention[static_cast<std::size_t>(first + r)] = starts_mention[r];
  }
}

}  // namespace

std::int64_t coref_distance_bucket(std::int64_t distance) {
  const std::int64_t d = distance < 1 ? 1 : distance;
  if (d < 5) return d - 1;
  const auto log2 = static_cast<std::int64_t>(std::bit_width(static_cast<std::uint64_t>(d))) - 1;
  return std::min<std::int64_t>(log2, 6) + 2;
}

CorefAntecedents coref_score_antecedents(const CorefModel& model, const at::Tensor& words,
                                         const std::vector<std::string>& speakers) {
  const std::int64_t n = words.size(0);
  Decisions decisions{std::vector<std::int64_t>(static_cast<std::size_t>(n), -1),
                      std::vector<std::uint8_t>(static_cast<std::size_t>(n), 0)};
  // Every word's scores depend on its own row of the rough and pair scores only, so blocks of
  // consecutive words run as units of work, each within the scorer's row batch.
  const std::int64_t block = std::min(kCorefWordsPerUnit, model.a_scoring_batch_size);
  for_each_unit(unit_count(static_cast<std::size_t>(n), static_cast<std::size_t>(block)), [&](std::size_t unit) {
    c10::InferenceMode inference;
    const std::int64_t first = static_cast<std::int64_t>(unit) * block;
    score_block(model, words, speakers, first, std::min(n, first + block) - first, decisions);
  });
  return {std::move(decisions.antecedent), std::vector<bool>(decisions.mention.begin(), decisions.mention.end())};
}

}  // namespace velmora::detail
