// Arc and relation log-probabilities from the encoded rows: deep biaffine scorers, the
// linearization and distance terms, and the masks for self-attachment and padding. Decoding
// reads every arc score but only a few relation scores, so the parsing paths keep the relation
// scorer's projected rows and score relations arc by arc (RelationScorer) instead of holding the
// [N, N, relations] tensor.

#include <c10/util/FunctionRef.h>

#include <algorithm>
#include <limits>

#include "depparse/model_state.hpp"

namespace velmora::detail {
namespace {

constexpr double kImpossible = -std::numeric_limits<double>::infinity();
// Arcs scored per batch of products: bounds the [arcs, Q, relations] intermediate.
constexpr std::int64_t kRelationScoreElements = std::int64_t{1} << 22;

const at::Tensor& scorer_tensor(const DepparseModel& model, std::string_view prefix, std::string_view name) {
  return depparse_tensor(model, std::string(prefix) + std::string(name));
}

at::Tensor with_ones_column(const at::Tensor& rows) {
  return at::cat({rows, at::ones({rows.size(0), rows.size(1), 1}, rows.options())}, 2);
}

// [B, N, N, O] from the two projections: each dependent row against the form, then against every
// head row, in two batched products (the second over the dependents' O rows of Q at once, so
// that the head rows are not repeated per dependent).
at::Tensor biaffine_product(const DepparseModel& model, const BiaffineRows& rows, std::string_view prefix) {
  const at::Tensor& bilinear = scorer_tensor(model, prefix, ".scorer.W_bilin.weight");  // [P, Q, O]
  const std::int64_t q = bilinear.size(1);
  const std::int64_t outputs = bilinear.size(2);
  const std::int64_t batch = rows.dependents.size(0);
  const std::int64_t count = rows.dependents.size(1);
  const at::Tensor left = at::matmul(rows.dependents, bilinear.reshape({bilinear.size(0), q * outputs}))
                              .reshape({batch, count, q, outputs})
                              .transpose(2, 3)
                              .reshape({batch, count * outputs, q});
  const at::Tensor scores =
      at::bmm(left, rows.heads.transpose(1, 2)).view({batch, count, outputs, rows.heads.size(1)}).permute({0, 1, 3, 2});
  return scores + scorer_tensor(model, prefix, ".scorer.W_bilin.bias");
}

// Arc log-probabilities [B, N, N] from the projected rows of each arc scorer, `rows(prefix)`.
at::Tensor arc_scores(const DepparseModel& model, c10::function_ref<BiaffineRows(std::string_view)> rows,
                      const at::Tensor* mask) {
  const BiaffineRows unlabeled = rows("unlabeled");
  const std::int64_t count = unlabeled.dependents.size(1);
  at::Tensor arcs = biaffine_product(model, unlabeled, "unlabeled").squeeze(3);
  // Head position minus dependent position, in the scores' type: [1, N, N].
  const at::Tensor positions = at::arange(count, arcs.options());
  const at::Tensor offsets = positions.view({1, 1, count}) - positions.view({1, count, 1});
  if (model.linearization) {
    const at::Tensor order = biaffine_product(model, rows("linearization"), "linearization").squeeze(3);
    arcs += at::log_sigmoid(order * at::sign(offsets));
  }
  if (model.distance) {
    const at::Tensor raw = biaffine_product(model, rows("distance"), "distance").squeeze(3);
    const at::Tensor predicted = 1 + at::softplus(raw, 1, 20);
    arcs -= at::log(at::pow(at::abs(offsets) - predicted, 2) / 2 + 1);
  }
  arcs.masked_fill_(at::eye(count, at::TensorOptions().dtype(at::kBool)).unsqueeze(0), kImpossible);
  if (mask != nullptr) arcs.masked_fill_(mask->logical_not().unsqueeze(1), kImpossible);
  return at::log_softmax(arcs, 2);
}

// Sentences' rows [N, F], stacked one after another with `lengths` rows each, as a zero-padded
// batch [B, longest, F].
at::Tensor pad_rows(const at::Tensor& packed, std::span<const std::int64_t> lengths, std::int64_t longest) {
  at::Tensor padded = at::zeros({static_cast<std::int64_t>(lengths.size()), longest, packed.size(1)}, packed.options());
  std::int64_t offset = 0;
  for (std::size_t k = 0; k < lengths.size(); ++k) {
    padded[static_cast<std::int64_t>(k)].narrow(0, 0, lengths[k]).copy_(packed.narrow(0, offset, lengths[k]));
    offset += lengths[k];
  }
  return padded;
}

}  // namespace

BiaffineRows biaffine_rows(const DepparseModel& model, const at::Tensor& encoded, std::string_view prefix) {
  return {with_ones_column(at::relu(
              at::linear(encoded, scorer_tensor(model, prefix, ".W1.weight"), scorer_tensor(model, prefix, ".W1.bias")))),
          with_ones_column(at::relu(
              at::linear(encoded, scorer_tensor(model, prefix, ".W2.weight"), scorer_tensor(model, prefix, ".W2.bias"))))};
}

at::Tensor deep_biaffine_scores(const DepparseModel& model, const at::Tensor& encoded, std::string_view prefix) {
  return biaffine_product(model, biaffine_rows(model, encoded, prefix), prefix);
}

at::Tensor depparse_arc_scores(const DepparseModel& model, const at::Tensor& encoded, const at::Tensor* mask) {
  if (mask != nullptr && (mask->dim() != 2 || mask->size(0) != encoded.size(0) || mask->size(1) != encoded.size(1))) {
    throw DepparseModelError("depparse padding mask does not match encoded input");
  }
  return arc_scores(model, [&](std::string_view prefix) { return biaffine_rows(model, encoded, prefix); }, mask);
}

std::pair<at::Tensor, at::Tensor> depparse_scores(const DepparseModel& model, const at::Tensor& encoded,
                                                  const at::Tensor* mask) {
  at::Tensor arcs = depparse_arc_scores(model, encoded, mask);
  return {std::move(arcs), at::log_softmax(deep_biaffine_scores(model, encoded, "deprel"), 3)};
}

DepparseSentenceScores depparse_sentence_scores(const DepparseModel& model, const at::Tensor& encoded) {
  BiaffineRows relation_rows = biaffine_rows(model, encoded, "deprel");
  return {depparse_arc_scores(model, encoded, nullptr).squeeze(0), relation_rows.dependents.squeeze(0),
          relation_rows.heads.squeeze(0)};
}

std::vector<DepparseSentenceScores> depparse_score_sentences(const DepparseModel& model,
                                                             const std::vector<at::Tensor>& encoded,
                                                             std::span<const std::vector<DepparseWord>> sentences) {
  if (encoded.size() != sentences.size()) {
    throw DepparseModelError("depparse encoded and sentence batches must have equal lengths");
  }
  std::vector<DepparseSentenceScores> results(sentences.size());
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
    std::vector<at::Tensor> pieces;
    std::vector<std::int64_t> lengths;
    pieces.reserve(group.size());
    lengths.reserve(group.size());
    for (const std::size_t s : group) {
      pieces.push_back(encoded[s].squeeze(0));
      lengths.push_back(rows[s]);
    }
    // The group's rows without padding [1, N, 2H]: the scorers' projections read no padding.
    const at::Tensor packed = at::cat(pieces, 0).unsqueeze(0);
    const std::int64_t longest = lengths.front();
    at::Tensor mask = at::zeros({static_cast<std::int64_t>(group.size()), longest}, at::TensorOptions().dtype(at::kBool));
    for (std::size_t k = 0; k < group.size(); ++k) mask[static_cast<std::int64_t>(k)].narrow(0, 0, lengths[k]).fill_(true);
    const at::Tensor arcs = arc_scores(
        model,
        [&](std::string_view prefix) {
          const BiaffineRows projected = biaffine_rows(model, packed, prefix);
          return BiaffineRows{pad_rows(projected.dependents.squeeze(0), lengths, longest),
                              pad_rows(projected.heads.squeeze(0), lengths, longest)};
        },
        &mask);
    const BiaffineRows relation_rows = biaffine_rows(model, packed, "deprel");
    std::int64_t offset = 0;
    for (std::size_t k = 0; k < group.size(); ++k) {
      const std::size_t s = group[k];
      const std::int64_t n = rows[s];
      results[s] = {arcs[static_cast<std::int64_t>(k)].narrow(0, 0, n).narrow(1, 0, n).contiguous(),
                    relation_rows.dependents[0].narrow(0, offset, n), relation_rows.heads[0].narrow(0, offset, n)};
      offset += n;
    }
  }
  return results;
}

std::vector<std::pair<at::Tensor, at::Tensor>> depparse_score_batch(
    const DepparseModel& model, const std::vector<at::Tensor>& encoded,
    const std::vector<std::vector<DepparseWord>>& sentences) {
  std::vector<DepparseSentenceScores> scored = depparse_score_sentences(model, encoded, sentences);
  std::vector<std::pair<at::Tensor, at::Tensor>> results(scored.size());
  for (std::size_t s = 0; s < scored.size(); ++s) {
    if (!scored[s].arcs.defined()) continue;
    const BiaffineRows rows{scored[s].relation_dependents.unsqueeze(0), scored[s].relation_heads.unsqueeze(0)};
    results[s] = {scored[s].arcs.unsqueeze(0), at::log_softmax(biaffine_product(model, rows, "deprel"), 3).contiguous()};
  }
  return results;
}

RelationScorer::RelationScorer(const DepparseModel& model, at::Tensor dependents, at::Tensor heads)
    : dependents_(std::move(dependents)),
      heads_(std::move(heads)),
      bilinear_(depparse_tensor(model, "deprel.scorer.W_bilin.weight")),
      bias_(depparse_tensor(model, "deprel.scorer.W_bilin.bias")) {}

void RelationScorer::operator()(const std::vector<std::int64_t>& dependents, const std::vector<std::int64_t>& heads,
                                double* out) const {
  const std::int64_t p = bilinear_.size(0);
  const std::int64_t q = bilinear_.size(1);
  const std::int64_t relations = bilinear_.size(2);
  const at::Tensor form = bilinear_.reshape({p, q * relations});
  const auto total = static_cast<std::int64_t>(dependents.size());
  if (!products_.defined() && dependents_.size(0) * q * relations <= kRelationScoreElements) {
    // The first call (the tree's arcs) reads most dependents anyway: all of them in one product.
    products_ = at::matmul(dependents_, form);
  }
  const bool one_dependent =
      std::all_of(dependents.begin(), dependents.end(), [&](std::int64_t d) { return d == dependents.front(); });
  const std::int64_t chunk = products_.defined() || one_dependent
                                 ? total
                                 : std::max<std::int64_t>(1, kRelationScoreElements / (q * relations));
  for (std::int64_t start = 0; start < total; start += chunk) {
    const std::int64_t count = std::min(chunk, total - start);
    const at::Tensor dependent_ids =
        at::from_blob(const_cast<std::int64_t*>(dependents.data() + start), {count}, at::kLong);
    const at::Tensor head_ids = at::from_blob(const_cast<std::int64_t*>(heads.data() + start), {count}, at::kLong);
    const at::Tensor head_rows = heads_.index_select(0, head_ids);  // [count, Q]
    at::Tensor scores;
    if (one_dependent) {
      // One dependent against many heads: its [Q, relations] form once, then one product.
      const at::Tensor left = products_.defined() ? products_[dependents.front()]
                                                  : at::matmul(dependents_.narrow(0, dependents.front(), 1), form);
      scores = at::matmul(head_rows, left.reshape({q, relations}));
    } else {
      const at::Tensor left = products_.defined() ? products_.index_select(0, dependent_ids)
                                                  : at::matmul(dependents_.index_select(0, dependent_ids), form);
      scores = at::bmm(head_rows.unsqueeze(1), left.reshape({count, q, relations})).squeeze(1);
    }
    const at::Tensor values = at::log_softmax(scores + bias_, 1).to(at::kDouble).contiguous();
    std::copy_n(values.const_data_ptr<double>(), count * relations, out + start * relations);
  }
}

}  // namespace velmora::detail
