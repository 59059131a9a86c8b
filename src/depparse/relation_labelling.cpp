// Relation labelling of decoded trees under per-head uniqueness of subjects and objects.

#include "depparse/relation_labelling.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

constexpr int kRepairRounds = 5;

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
  // keeper: the decoder reads the rows in place, each summarised once.
  SingleRootDecoder decoder;
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
    if (arc_summaries.empty()) {
      check_square_scores(arcs);
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
    const auto constrain = [&](std::size_t u, bool constrained_row) {
      const auto d = static_cast<std::size_t>(conflict.dependents[u]);
      rows[d] = constrained_row ? constrained[u].data() : arcs[d].data();
      summaries[d] = constrained_row ? &constrained_summaries[u] : &arc_summaries[d];
    };
    for (std::size_t u = 0; u < members; ++u) constrain(u, true);

    HeadVector best_heads;
    LabelVector best_labels;
    std::size_t best_keeper = 0;
    double best_total = 0.0;
    for (std::size_t keeper = 0; keeper < members; ++keeper) {
      constrain(keeper, false);
      HeadVector candidate_heads = decoder.decode(rows, summaries);
      constrain(keeper, true);
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
