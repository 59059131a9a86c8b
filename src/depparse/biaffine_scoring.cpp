// Arc and relation log-probabilities from the encoded rows: deep biaffine scorers, the
// linearization and distance terms, and the masks for self-attachment and padding.

#include <limits>

#include "depparse/model_state.hpp"

namespace velmora::detail {
namespace {

constexpr double kImpossible = -std::numeric_limits<double>::infinity();

const at::Tensor& scorer_tensor(const DepparseModel& model, std::string_view prefix, std::string_view name) {
  return depparse_tensor(model, std::string(prefix) + std::string(name));
}

at::Tensor with_ones_column(const at::Tensor& rows) {
  return at::cat({rows, at::ones({rows.size(0), rows.size(1), 1}, rows.options())}, 2);
}

}  // namespace

at::Tensor deep_biaffine_scores(const DepparseModel& model, const at::Tensor& encoded, std::string_view prefix) {
  const at::Tensor dependents = with_ones_column(
      at::relu(at::linear(encoded, scorer_tensor(model, prefix, ".W1.weight"), scorer_tensor(model, prefix, ".W1.bias"))));
  const at::Tensor heads = with_ones_column(
      at::relu(at::linear(encoded, scorer_tensor(model, prefix, ".W2.weight"), scorer_tensor(model, prefix, ".W2.bias"))));
  const at::Tensor& bilinear = scorer_tensor(model, prefix, ".scorer.W_bilin.weight");  // [P, Q, O]
  const std::int64_t q = bilinear.size(1);
  const std::int64_t outputs = bilinear.size(2);
  const std::int64_t batch = encoded.size(0);
  const std::int64_t rows = encoded.size(1);
  // Two batched products: each dependent row against the form, then against every head row.
  const at::Tensor left = at::matmul(dependents, bilinear.reshape({bilinear.size(0), q * outputs}))
                              .reshape({batch, rows, q, outputs})
                              .permute({0, 1, 3, 2});
  const at::Tensor scores = at::matmul(left, heads.transpose(1, 2).unsqueeze(1)).permute({0, 1, 3, 2});
  return scores + scorer_tensor(model, prefix, ".scorer.W_bilin.bias");
}

std::pair<at::Tensor, at::Tensor> depparse_scores(const DepparseModel& model, const at::Tensor& encoded,
                                                  const at::Tensor* mask) {
  const std::int64_t rows = encoded.size(1);
  at::Tensor arcs = deep_biaffine_scores(model, encoded, "unlabeled").squeeze(3);
  const at::Tensor relations = deep_biaffine_scores(model, encoded, "deprel");
  // Head position minus dependent position.
  const at::Tensor positions = at::arange(rows, at::kLong);
  const at::Tensor offsets = positions.view({1, 1, rows}) - positions.view({1, rows, 1});
  if (model.linearization) {
    const at::Tensor order = deep_biaffine_scores(model, encoded, "linearization").squeeze(3);
    arcs = arcs + at::log_sigmoid(order * at::sign(offsets).to(order.scalar_type()));
  }
  if (model.distance) {
    const at::Tensor raw = deep_biaffine_scores(model, encoded, "distance").squeeze(3);
    const at::Tensor predicted = 1 + at::softplus(raw, 1, 20);
    const at::Tensor target = at::abs(offsets).to(raw.scalar_type());
    arcs = arcs - at::log(at::pow(target - predicted, 2) / 2 + 1);
  }
  arcs.masked_fill_(at::eye(rows, at::TensorOptions().dtype(at::kBool)).unsqueeze(0), kImpossible);
  if (mask != nullptr) {
    if (mask->dim() != 2 || mask->size(0) != encoded.size(0) || mask->size(1) != rows) {
      throw DepparseModelError("depparse padding mask does not match encoded input");
    }
    arcs.masked_fill_(mask->logical_not().unsqueeze(1), kImpossible);
  }
  return {at::log_softmax(arcs, 2), at::log_softmax(relations, 3)};
}

std::vector<std::pair<at::Tensor, at::Tensor>> depparse_score_batch(
    const DepparseModel& model, const std::vector<at::Tensor>& encoded,
    const std::vector<std::vector<DepparseWord>>& sentences) {
  if (encoded.size() != sentences.size()) {
    throw DepparseModelError("depparse encoded and sentence batches must have equal lengths");
  }
  std::vector<std::pair<at::Tensor, at::Tensor>> results(sentences.size());
  std::vector<std::int64_t> rows(sentences.size(), 0);
  for (std::size_t s = 0; s < sentences.size(); ++s) {
    if (sentences[s].empty()) continue;
    const at::Tensor& rows_of = encoded[s];
    const auto expected = static_cast<std::int64_t>(sentences[s].size()) + 1;
    if (!rows_of.defined() || rows_of.dim() != 3 || rows_of.size(0) != 1 || rows_of.size(1) != expected) {
      throw DepparseModelError("depparse encoded sentence length does not match its words");
    }
    rows[s] = expected;
  }
  for (const std::vector<std::size_t>& group : group_by_length(rows, depparse_grouping(model))) {
    const at::Tensor& first = encoded[group.front()];
    const std::int64_t longest = first.size(1);
    const auto count = static_cast<std::int64_t>(group.size());
    at::Tensor padded = at::zeros({count, longest, first.size(2)}, first.options());
    at::Tensor mask = at::zeros({count, longest}, at::TensorOptions().dtype(at::kBool));
    for (std::int64_t k = 0; k < count; ++k) {
      const std::size_t s = group[static_cast<std::size_t>(k)];
      padded[k].narrow(0, 0, rows[s]).copy_(encoded[s].squeeze(0));
      mask[k].narrow(0, 0, rows[s]).fill_(true);
    }
    const auto [arcs, relations] = depparse_scores(model, padded, &mask);
    for (std::int64_t k = 0; k < count; ++k) {
      const std::size_t s = group[static_cast<std::size_t>(k)];
      const std::int64_t n = rows[s];
      results[s] = {arcs[k].narrow(0, 0, n).narrow(1, 0, n).unsqueeze(0).contiguous(),
                    relations[k].narrow(0, 0, n).narrow(1, 0, n).unsqueeze(0).contiguous()};
    }
  }
  return results;
}

}  // namespace velmora::detail
