// From one sentence's score tensors to its predictions: the single-root tree, then relations
// under head constraints.

#include "depparse/relation_labelling.hpp"
#include "velmora/errors.hpp"

namespace velmora::detail {

std::vector<DepparsePrediction> depparse_decode_sentence(const DepparseModel& model,
                                                         const std::vector<DepparseWord>& words,
                                                         at::Tensor& arc_scores, at::Tensor& relation_scores) {
  if (words.empty()) return {};
  arc_scores = arc_scores.squeeze(0).contiguous();
  relation_scores = relation_scores.squeeze(0).contiguous();
  const auto n = static_cast<std::size_t>(arc_scores.size(0));
  const auto relations = static_cast<std::size_t>(relation_scores.size(2));

  ScoreMatrix arcs(n);
  const at::Tensor arc_values = arc_scores.to(at::kDouble).contiguous();
  const double* arc_data = arc_values.const_data_ptr<double>();
  for (std::size_t d = 0; d < n; ++d) arcs[d].assign(arc_data + d * n, arc_data + (d + 1) * n);
  const at::Tensor relation_values = relation_scores.to(at::kDouble).contiguous();
  const double* relation_data = relation_values.const_data_ptr<double>();
  RelationScores labels_scores(n, relations,
                               std::vector<double>(relation_data, relation_data + n * n * relations));

  auto [heads, labels] = decode_with_head_constraints(model, arcs, labels_scores, decode_single_root(arcs));
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

}  // namespace velmora::detail
