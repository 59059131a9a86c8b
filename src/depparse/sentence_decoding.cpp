// From one sentence's scores to its predictions: the single-root tree, then relations under head
// constraints.

#include <algorithm>

#include "depparse/relation_labelling.hpp"
#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

// The [n, n] arc scores as doubles, converted row by row without a second tensor.
template <typename Value>
ScoreMatrix arc_matrix_of(const at::Tensor& values) {
  const auto n = static_cast<std::size_t>(values.size(0));
  const Value* data = values.const_data_ptr<Value>();
  ScoreMatrix matrix(n);
  for (std::size_t d = 0; d < n; ++d) matrix[d].assign(data + d * n, data + (d + 1) * n);
  return matrix;
}

ScoreMatrix arc_matrix(const at::Tensor& arcs) {
  if (arcs.scalar_type() == at::kDouble) return arc_matrix_of<double>(arcs.contiguous());
  return arc_matrix_of<float>(arcs.to(at::kFloat).contiguous());
}

std::vector<DepparsePrediction> decode(const DepparseModel& model, const ScoreMatrix& arcs,
                                       const RelationScores& relations) {
  const std::size_t n = arcs.size();
  auto [heads, labels] = decode_with_head_constraints(model, arcs, relations, decode_single_root(arcs));
  std::vector<DepparsePrediction> predictions;
  predictions.reserve(n - 1);
  for (std::size_t i = 1; i < n; ++i) {
    const std::int64_t column = labels[i - 1];
    if (column < 0 || static_cast<std::uint64_t>(column) + 4 >= model.deprels.size()) {
      throw DepparseModelError("deprel classifier produced an invalid id");
    }
    predictions.push_back({static_cast<std::int32_t>(heads[i]), model.deprels[static_cast<std::size_t>(column) + 4]});
  }
  return predictions;
}

}  // namespace

std::vector<DepparsePrediction> depparse_decode_sentence(const DepparseModel& model,
                                                         const std::vector<DepparseWord>& words,
                                                         at::Tensor& arc_scores, at::Tensor& relation_scores) {
  if (words.empty()) return {};
  arc_scores = arc_scores.squeeze(0).contiguous();
  relation_scores = relation_scores.squeeze(0).contiguous();
  const auto n = static_cast<std::size_t>(arc_scores.size(0));
  const auto relations = static_cast<std::size_t>(relation_scores.size(2));
  // Only the arcs that decoding reads are converted to doubles.
  const at::Tensor values =
      relation_scores.scalar_type() == at::kDouble ? relation_scores : relation_scores.to(at::kFloat);
  const bool as_double = values.scalar_type() == at::kDouble;
  RelationScores labels_scores(n, relations,
                               [=](const std::vector<std::int64_t>& dependents, const std::vector<std::int64_t>& heads,
                                   double* out) {
                                 for (std::size_t k = 0; k < dependents.size(); ++k) {
                                   const std::size_t first = (static_cast<std::size_t>(dependents[k]) * n +
                                                              static_cast<std::size_t>(heads[k])) * relations;
                                   if (as_double) {
                                     std::copy_n(values.const_data_ptr<double>() + first, relations, out + k * relations);
                                   } else {
                                     std::copy_n(values.const_data_ptr<float>() + first, relations, out + k * relations);
                                   }
                                 }
                               });
  return decode(model, arc_matrix(arc_scores), labels_scores);
}

std::vector<DepparsePrediction> depparse_decode_sentence(const DepparseModel& model,
                                                         const std::vector<DepparseWord>& words,
                                                         DepparseSentenceScores scores) {
  if (words.empty()) return {};
  const ScoreMatrix arcs = arc_matrix(scores.arcs);
  scores.arcs = at::Tensor();  // the float copy is no longer needed
  const RelationScorer scorer(model, std::move(scores.relation_dependents), std::move(scores.relation_heads));
  const RelationScores labels_scores(arcs.size(), static_cast<std::size_t>(scorer.relations()), scorer);
  return decode(model, arcs, labels_scores);
}

}  // namespace velmora::detail
