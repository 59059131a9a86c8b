// Relation labelling of decoded trees under per-head uniqueness of subjects and objects.

#include "depparse/relation_labelling.hpp"

#include <ATen/Parallel.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <string>

#include "models/parallel_units.hpp"
#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

constexpr int kRepairRounds = 5;
// The working matrices of candidates decoded at the same time stay within this many bytes; a
// sentence too long for two of them decodes its candidates one after another.
constexpr std::size_t kConcurrentMatrixBytes = std::size_t{1} << 30;
// The trees decoded ahead of their labelling stay within this many bytes.
constexpr std::size_t kPendingTreeBytes = std::size_t{64} << 20;

bool excluded(std::optional<std::string_view> relation_class, const std::unordered_set<std::string_view>* forbidden,
              std::optional<std::string_view> extra) {
  if (!relation_class) return false;
  if (extra && *relation_class == *extra) return true;
  return forbidden != nullptr && forbidden->contains(*relation_class);
}

const std::unordered_set<std::string_view>* forbidden_for(const ForbiddenClasses& forbidden, std::int64_t dependent,
                                                          std::int64_t head) {
  const auto found = forbidden.find(forbidden_key(head, dependent));
  return found == forbidden.end() ? nullptr : &found->second;
}

// The best allowed column of one arc's scores and its score.
std::pair<std::int64_t, double> best_allowed_in_row(const double* row, std::size_t relations, const ClassTable& classes,
                                                    const std::unordered_set<std::string_view>* forbidden_here,
                                                    std::optional<std::string_view> extra_excluded) {
  std::int64_t best = 0;
  double best_score = -std::numeric_limits<double>::infinity();
  for (std::size_t c = 0; c < relations; ++c) {
    if (excluded(classes[c], forbidden_here, extra_excluded)) continue;
    if (row[c] > best_score) {
      best = static_cast<std::int64_t>(c);
      best_score = row[c];
    }
  }
  if (!std::isfinite(best_score)) throw DepparseModelError("head constraints excluded every dependency relation");
  return {best, best_score};
}

double tree_total(const ScoreMatrix& arcs, const RelationScores& scores, const HeadVector& heads,
                  const LabelVector& labels) {
  double total = 0.0;
  for (std::size_t i = 1; i < heads.size(); ++i) {
    const auto head = static_cast<std::size_t>(heads[i]);
    total += arcs[i][head] + scores.row(i, head)[labels[i - 1]];
  }
  return total;
}

// A round's candidate matrices: the arc scores with every member's row constrained, except the
// keeper's. The rows are read in place.
struct CandidateRows {
  const std::vector<std::int64_t>& members;
  const std::vector<const double*>& rows;  // every member constrained
  const std::vector<const ScoreRowSummary*>& summaries;
  const ScoreMatrix& arcs;
  const std::vector<ScoreRowSummary>& arc_summaries;
};

// Decodes candidates ahead of their labelling, as units on the intra-op threads when there are
// several and their working matrices fit the budget, each unit with a decoder of its own. Every
// tree, failures included, is the one a single decoder gives, so the outcome does not depend on
// how many run at once.
class CandidateDecoders {
 public:
  explicit CandidateDecoders(std::size_t positions) {
    const int threads = at::in_parallel_region() ? 1 : at::get_num_threads();
    const std::size_t matrix_bytes = std::max<std::size_t>(1, positions * positions * sizeof(double));
    slots_ = std::max<std::size_t>(1, std::min<std::size_t>(static_cast<std::size_t>(std::max(threads, 1)),
                                                           kConcurrentMatrixBytes / matrix_bytes));
    batch_ = std::max(slots_, kPendingTreeBytes / std::max<std::size_t>(1, positions * sizeof(std::int64_t)));
  }

  /// How many candidates one call decodes at most.
  std::size_t batch() const { return batch_; }

  /// Decodes candidates [begin, end): tree(k) or failure(k) for keeper k. Past the first
  /// failure, candidates may be left undecoded.
  void decode(const CandidateRows& candidates, std::size_t begin, std::size_t end) {
    const std::size_t count = end - begin;
    begin_ = begin;
    trees_.resize(count);
    failures_.assign(count, nullptr);
    const std::size_t units = std::min(slots_, count);
    while (decoders_.size() < units) decoders_.push_back(std::make_unique<SingleRootDecoder>());
    unit_rows_.resize(units);
    unit_summaries_.resize(units);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> stop{count};  // no candidate at or past it starts
    for_each_unit(units, [&](std::size_t unit) {
      std::vector<const double*>& rows = unit_rows_[unit];
      std::vector<const ScoreRowSummary*>& summaries = unit_summaries_[unit];
      rows = candidates.rows;
      summaries = candidates.summaries;
      for (std::size_t k = next.fetch_add(1); k < stop.load(); k = next.fetch_add(1)) {
        const auto keeper = static_cast<std::size_t>(candidates.members[begin + k]);
        rows[keeper] = candidates.arcs[keeper].data();
        summaries[keeper] = &candidates.arc_summaries[keeper];
        try {
          trees_[k] = decoders_[unit]->decode(rows, summaries);
        } catch (...) {
          failures_[k] = std::current_exception();
          std::size_t seen = stop.load();
          while (k + 1 < seen && !stop.compare_exchange_weak(seen, k + 1)) {
          }
        }
        rows[keeper] = candidates.rows[keeper];
        summaries[keeper] = candidates.summaries[keeper];
      }
    });
  }

  /// Keeper k's tree, moved out; rethrows its failure.
  HeadVector tree(std::size_t keeper) {
    if (failures_[keeper - begin_]) std::rethrow_exception(failures_[keeper - begin_]);
    return std::move(trees_[keeper - begin_]);
  }

 private:
  std::size_t slots_ = 1;
  std::size_t batch_ = 1;
  std::size_t begin_ = 0;
  std::vector<std::unique_ptr<SingleRootDecoder>> decoders_;
  std::vector<std::vector<const double*>> unit_rows_;
  std::vector<std::vector<const ScoreRowSummary*>> unit_summaries_;
  std::vector<HeadVector> trees_;
  std::vector<std::exception_ptr> failures_;
};

}  // namespace

RelationScores::RelationScores(std::size_t positions, std::size_t relations, std::vector<double> values)
    : positions_(positions), relations_(relations), values_(std::move(values)) {}

RelationScores::RelationScores(std::size_t positions, std::size_t relations, RelationScoreSource source)
    : positions_(positions), relations_(relations), source_(std::move(source)) {}

void RelationScores::prepare(const std::vector<std::int64_t>& dependents, const std::vector<std::int64_t>& heads) const {
  if (!source_) return;
  std::vector<std::int64_t> missing_dependents;
  std::vector<std::int64_t> missing_heads;
  for (std::size_t k = 0; k < dependents.size(); ++k) {
    const std::uint64_t key = forbidden_key(heads[k], dependents[k]);
    if (computed_.contains(key)) continue;
    computed_.emplace(key, nullptr);  // an arc asked for twice is computed once
    missing_dependents.push_back(dependents[k]);
    missing_heads.push_back(heads[k]);
  }
  if (missing_dependents.empty()) return;
  auto block = std::make_unique<double[]>(missing_dependents.size() * relations_);
  try {
    source_(missing_dependents, missing_heads, block.get());
  } catch (...) {
    for (std::size_t k = 0; k < missing_dependents.size(); ++k) {
      computed_.erase(forbidden_key(missing_heads[k], missing_dependents[k]));
    }
    throw;
  }
  for (std::size_t k = 0; k < missing_dependents.size(); ++k) {
    computed_[forbidden_key(missing_heads[k], missing_dependents[k])] = block.get() + k * relations_;
  }
  blocks_.push_back(std::move(block));
}

const double* RelationScores::row(std::size_t dependent, std::size_t head) const {
  if (!source_) return values_.data() + (dependent * positions_ + head) * relations_;
  const auto d = static_cast<std::int64_t>(dependent);
  const auto h = static_cast<std::int64_t>(head);
  const auto found = computed_.find(forbidden_key(h, d));
  if (found != computed_.end() && found->second != nullptr) return found->second;
  prepare({d}, {h});
  return computed_.at(forbidden_key(h, d));
}

void RelationScores::dependent_rows(std::size_t dependent, std::vector<double>& out) const {
  out.resize(positions_ * relations_);
  if (!source_) {
    const auto* first = values_.data() + dependent * positions_ * relations_;
    std::copy(first, first + out.size(), out.begin());
    return;
  }
  std::vector<std::int64_t> heads(positions_);
  for (std::size_t h = 0; h < positions_; ++h) heads[h] = static_cast<std::int64_t>(h);
  source_(std::vector<std::int64_t>(positions_, static_cast<std::int64_t>(dependent)), heads, out.data());
}

std::uint64_t forbidden_key(std::int64_t head, std::int64_t dependent) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(dependent)) << 32) |
         static_cast<std::uint32_t>(head);
}

std::optional<std::string_view> deprel_uniqueness_class(std::string_view relation) {
  if (relation == "obj") return std::string_view("obj");
  if (relation == "nsubj" || relation == "csubj" || relation == "nsubj:pass" || relation == "csubj:pass") {
    return std::string_view("subj");
  }
  if (relation == "nsubj:outer" || relation == "csubj:outer") return std::string_view("subj_outer");
  return std::nullopt;
}

ClassTable deprel_class_table(const DepparseModel& model, std::size_t relations) {
  ClassTable classes(relations);
  for (std::size_t c = 0; c < relations; ++c) {
    // A column past the vocabulary has no class; decoding refuses it by name later.
    if (c + 4 < model.deprels.size()) classes[c] = deprel_uniqueness_class(model.deprels[c + 4]);
  }
  return classes;
}

std::pair<std::int64_t, double> best_allowed_deprel(const RelationScores& scores, const ClassTable& classes,
                                                    std::int64_t dependent, std::int64_t head,
                                                    const ForbiddenClasses& forbidden,
                                                    std::optional<std::string_view> extra_excluded) {
  return best_allowed_in_row(scores.row(static_cast<std::size_t>(dependent), static_cast<std::size_t>(head)),
                             scores.relations(), classes, forbidden_for(forbidden, dependent, head), extra_excluded);
}

LabelVector label_tree_arcs(const HeadVector& heads, const RelationScores& scores, const ClassTable& classes,
                            const ForbiddenClasses& forbidden) {
  LabelVector labels;
  labels.reserve(heads.empty() ? 0 : heads.size() - 1);
  std::vector<std::int64_t> dependents;
  dependents.reserve(labels.capacity());
  for (std::size_t d = 1; d < heads.size(); ++d) dependents.push_back(static_cast<std::int64_t>(d));
  scores.prepare(dependents, std::vector<std::int64_t>(heads.begin() + (heads.empty() ? 0 : 1), heads.end()));
  for (std::size_t d = 1; d < heads.size(); ++d) {
    const auto dependent = static_cast<std::int64_t>(d);
    labels.push_back(best_allowed_deprel(scores, classes, dependent, heads[d], forbidden, std::nullopt).first);
  }
  return labels;
}

std::vector<ClassConflict> find_class_conflicts(const ClassTable& classes, const HeadVector& heads,
                                                const LabelVector& labels) {
  std::vector<ClassConflict> groups;
  for (std::size_t d = 1; d < heads.size(); ++d) {
    const auto column = static_cast<std::size_t>(labels[d - 1]);
    if (column >= classes.size() || !classes[column]) continue;
    const std::string_view relation_class = *classes[column];
    ClassConflict* group = nullptr;
    for (ClassConflict& candidate : groups) {
      if (candidate.head == heads[d] && candidate.relation_class == relation_class) {
        group = &candidate;
        break;
      }
    }
    if (group == nullptr) group = &groups.emplace_back(ClassConflict{heads[d], relation_class, {}});
    group->dependents.push_back(static_cast<std::int64_t>(d));
  }
  std::erase_if(groups, [](const ClassConflict& group) { return group.dependents.size() < 2; });
  return groups;
}

std::pair<HeadVector, LabelVector> decode_with_head_constraints(const DepparseModel& model, const ScoreMatrix& arcs,
                                                                const RelationScores& scores, HeadVector heads) {
  const ClassTable classes = deprel_class_table(model, scores.relations());
  ForbiddenClasses forbidden;
  LabelVector labels = label_tree_arcs(heads, scores, classes, forbidden);
  const std::size_t n = arcs.size();
  std::vector<double> member_rows;
  // Every candidate's matrix is the arc scores with the constrained rows of all members but its
  // keeper: the decoders read the rows in place, each summarised once.
  std::optional<CandidateDecoders> decoders;
  std::vector<ScoreRowSummary> arc_summaries;
  std::vector<const double*> rows;
  std::vector<const ScoreRowSummary*> summaries;
  std::vector<std::vector<double>> constrained;
  std::vector<ScoreRowSummary> constrained_summaries;

  for (int round = 0; round < kRepairRounds; ++round) {
    const std::vector<ClassConflict> conflicts = find_class_conflicts(classes, heads, labels);
    if (conflicts.empty()) break;
    const ClassConflict& conflict = conflicts.front();
    const std::size_t members = conflict.dependents.size();
    if (!decoders) {
      check_square_scores(arcs);
      decoders.emplace(n);
      for (std::size_t i = 0; i < n; ++i) arc_summaries.push_back(summarize_score_row(arcs[i].data(), n, i));
    }

    // Every member but the keeper is scored as if it could not take the class under the
    // conflicting head. Those rows do not depend on the keeper, so they are formed once.
    constrained.resize(members);
    constrained_summaries.resize(members);
    for (std::size_t u = 0; u < members; ++u) {
      const std::int64_t d = conflict.dependents[u];
      scores.dependent_rows(static_cast<std::size_t>(d), member_rows);
      auto& row = constrained[u];
      row.resize(n);
      for (std::size_t h = 0; h < n; ++h) {
        const auto head = static_cast<std::int64_t>(h);
        const auto extra = head == conflict.head ? std::optional(conflict.relation_class) : std::nullopt;
        row[h] = arcs[d][h] + best_allowed_in_row(member_rows.data() + h * scores.relations(), scores.relations(), classes,
                                                  forbidden_for(forbidden, d, head), extra)
                                  .second;
      }
      constrained_summaries[u] = summarize_score_row(row.data(), n, static_cast<std::size_t>(d));
    }
    rows.resize(n);
    summaries.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      rows[i] = arcs[i].data();
      summaries[i] = &arc_summaries[i];
    }
    for (std::size_t u = 0; u < members; ++u) {
      const auto d = static_cast<std::size_t>(conflict.dependents[u]);
      rows[d] = constrained[u].data();
      summaries[d] = &constrained_summaries[u];
    }
    const CandidateRows candidates{conflict.dependents, rows, summaries, arcs, arc_summaries};

    HeadVector best_heads;
    LabelVector best_labels;
    std::size_t best_keeper = 0;
    double best_total = 0.0;
    // Candidates are decoded ahead, batch by batch, and labelled and compared in keeper order, so
    // the kept one and the first failure are those of one loop over the keepers.
    for (std::size_t keeper = 0; keeper < members; ++keeper) {
      if (keeper % decoders->batch() == 0) {
        decoders->decode(candidates, keeper, std::min(members, keeper + decoders->batch()));
      }
      HeadVector candidate_heads = decoders->tree(keeper);
      LabelVector candidate_labels = label_tree_arcs(candidate_heads, scores, classes, forbidden);
      for (std::size_t u = 0; u < members; ++u) {
        if (u == keeper) continue;
        const std::int64_t d = conflict.dependents[u];
        if (candidate_heads[d] == conflict.head) {
          candidate_labels[d - 1] =
              best_allowed_deprel(scores, classes, d, conflict.head, forbidden, conflict.relation_class).first;
        }
      }
      const double total = tree_total(arcs, scores, candidate_heads, candidate_labels);
      if (keeper == 0 || total > best_total) {
        best_heads = std::move(candidate_heads);
        best_labels = std::move(candidate_labels);
        best_keeper = keeper;
        best_total = total;
      }
    }
    heads = std::move(best_heads);
    labels = std::move(best_labels);
    for (std::size_t u = 0; u < members; ++u) {
      if (u != best_keeper) forbidden[forbidden_key(conflict.head, conflict.dependents[u])].insert(conflict.relation_class);
    }
  }
  return {std::move(heads), std::move(labels)};
}

}  // namespace velmora::detail
