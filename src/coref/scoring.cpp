// Antecedent scoring: a rough bilinear scorer keeps each word's best `rough_k` earlier words
// as candidates; a feed-forward anaphoricity scorer over the word, the candidate, their product
// and pairwise distance (and speaker) features rescores them against a fixed dummy score for
// "no antecedent". With singletons a start column also decides whether a word heads a mention
// on its own.

#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "coref/model_state.hpp"

namespace velmora::detail {
namespace {

// The dummy column's score: a candidate has to beat it to become an antecedent.
constexpr double kDummyScore = 1e-7;

struct PairFeatures {
  std::vector<std::int64_t> buckets;
  std::vector<std::int64_t> same_speaker;
};

PairFeatures pair_features(const at::Tensor& candidates, const std::vector<std::string>& speakers,
                           bool with_speakers) {
  const std::int64_t n = candidates.size(0);
  const std::int64_t k = candidates.size(1);
  const auto rows = candidates.accessor<std::int64_t, 2>();
  PairFeatures features;
  features.buckets.reserve(static_cast<std::size_t>(n * k));
  if (with_speakers) features.same_speaker.reserve(static_cast<std::size_t>(n * k));
  for (std::int64_t i = 0; i < n; ++i) {
    for (std::int64_t c = 0; c < k; ++c) {
      const std::int64_t j = rows[i][c];
      features.buckets.push_back(coref_distance_bucket(i - j));
      if (with_speakers) {
        features.same_speaker.push_back(speakers[static_cast<std::size_t>(i)] == speakers[static_cast<std::size_t>(j)]);
      }
    }
  }
  return features;
}

at::Tensor pairwise_embeddings(const CorefModel& model, const at::Tensor& candidates,
                               const std::vector<std::string>& speakers) {
  const PairFeatures features = pair_features(candidates, speakers, model.full_pairwise);
  const at::Tensor buckets = coref_long_tensor(features.buckets.data(), candidates.sizes());
  const at::Tensor distances = at::embedding(coref_tensor(model, "pw.distance_emb.weight"), buckets);
  if (!model.full_pairwise) return distances;
  const at::Tensor flags = coref_long_tensor(features.same_speaker.data(), candidates.sizes());
  const at::Tensor same_speaker = at::embedding(coref_tensor(model, "pw.speaker_emb.weight"), flags);
  return at::cat({same_speaker, distances}, 2);
}

// [b, k] anaphoricity scores of the candidates of words start to start + b - 1.
at::Tensor anaphoricity_scores(const CorefModel& model, const at::Tensor& words, const at::Tensor& candidates,
                               const at::Tensor& pairwise, std::int64_t start, std::int64_t count) {
  const std::int64_t k = candidates.size(1);
  const std::int64_t hidden = words.size(1);
  const at::Tensor candidate_rows =
      words.index_select(0, candidates.narrow(0, start, count).flatten()).reshape({count, k, hidden});
  const at::Tensor mention_rows = words.narrow(0, start, count).unsqueeze(1).expand({count, k, hidden});
  at::Tensor pairs =
      at::cat({mention_rows, candidate_rows, mention_rows * candidate_rows, pairwise.narrow(0, start, count)}, 2);
  for (std::int64_t layer = 0; layer < model.n_hidden_layers; ++layer) {
    const std::string prefix = "a_scorer.hidden." + std::to_string(3 * layer);
    pairs = at::leaky_relu(
        at::linear(pairs, coref_tensor(model, prefix + ".weight"), coref_tensor(model, prefix + ".bias")), 0.01);
  }
  return at::linear(pairs, coref_tensor(model, "a_scorer.out.weight"), coref_tensor(model, "a_scorer.out.bias"))
      .squeeze(-1);
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
  const std::int64_t k = std::min(n, model.rough_k);
  const at::Tensor projected = at::linear(words, coref_tensor(model, "rough_scorer.bilinear.weight"),
                                          coref_tensor(model, "rough_scorer.bilinear.bias"));
  // Only earlier words are candidates: every entry on or above the diagonal is masked.
  const at::Tensor precedence = at::full({n, n}, -std::numeric_limits<float>::infinity(), words.options()).triu(0);
  const at::Tensor rough = at::matmul(projected, words.t()) + precedence;
  const auto [rough_top, candidates] = at::topk(rough, k, 1, true, false);
  const at::Tensor pairwise = pairwise_embeddings(model, candidates, speakers);

  std::vector<at::Tensor> blocks;
  for (std::int64_t start = 0; start < n; start += model.a_scoring_batch_size) {
    const std::int64_t count = std::min(n, start + model.a_scoring_batch_size) - start;
    at::Tensor scores = anaphoricity_scores(model, words, candidates, pairwise, start, count);
    const at::Tensor dummy = at::full({count, 1}, kDummyScore, scores.options());
    at::Tensor start_column;
    if (model.singletons) {
      // The start column reads the anaphoricity scores before the rough scores are added.
      start_column = at::matmul(scores, coref_tensor(model, "a_scorer.start_map.weight").narrow(1, 0, k).t());
    }
    scores = scores + rough_top.narrow(0, start, count);
    blocks.push_back(model.singletons ? at::cat({start_column, dummy, scores}, 1) : at::cat({dummy, scores}, 1));
  }
  const at::Tensor final_scores = at::cat(blocks, 0);

  const std::int64_t first_choice = model.singletons ? 1 : 0;
  const at::Tensor slots = (at::argmax(final_scores.narrow(1, first_choice, k + 1), 1) - 1).contiguous();
  const auto slot = slots.accessor<std::int64_t, 1>();
  const auto candidate = candidates.accessor<std::int64_t, 2>();
  CorefAntecedents result;
  result.antecedent.assign(static_cast<std::size_t>(n), -1);
  result.mention.assign(static_cast<std::size_t>(n), false);
  for (std::int64_t i = 0; i < n; ++i) {
    if (slot[i] >= 0) result.antecedent[static_cast<std::size_t>(i)] = candidate[i][slot[i]];
  }
  if (model.singletons) {
    // A tie between the start column and the dummy goes to the start column.
    const at::Tensor starts = (at::argmax(final_scores.narrow(1, 0, 2), 1) == 0).contiguous();
    const auto starts_mention = starts.accessor<bool, 1>();
    for (std::int64_t i = 0; i < n; ++i) result.mention[static_cast<std::size_t>(i)] = starts_mention[i];
  }
  return result;
}

}  // namespace velmora::detail
