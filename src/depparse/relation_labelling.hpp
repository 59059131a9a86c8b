#pragma once

// Relation labels for a decoded tree, with subjects, outer subjects and objects kept unique per
// head: when a head has two dependents of one such class, a short repair search re-decodes
// the tree with that class excluded for all but one of them and keeps the best candidate.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "depparse/model_state.hpp"
#include "depparse/tree_decoding.hpp"

namespace velmora::detail {

/// Fills the relation log-probabilities of arcs, `relations` doubles per arc one after the other,
/// arc k running from heads[k] to dependents[k].
using RelationScoreSource = std::function<void(const std::vector<std::int64_t>& dependents,
                                               const std::vector<std::int64_t>& heads, double* out)>;

/// Relation log-probabilities of one sentence as doubles, [dependent][head][relation column]:
/// either all held, or computed arc by arc from a source and kept once asked for, so that a long
/// sentence holds only the arcs its decoding reads. Not for use by several threads at once.
class RelationScores {
 public:
  RelationScores(std::size_t positions, std::size_t relations, std::vector<double> values);
  RelationScores(std::size_t positions, std::size_t relations, RelationScoreSource source);
  std::size_t positions() const { return positions_; }
  std::size_t relations() const { return relations_; }
  /// Computes the scores of the arcs not yet held in one call of the source.
  void prepare(const std::vector<std::int64_t>& dependents, const std::vector<std::int64_t>& heads) const;
  /// The `relations()` scores of the arc from `head` to `dependent`.
  const double* row(std::size_t dependent, std::size_t head) const;
  /// The scores of every arc into `dependent`, [head][relation column], into `out`; not kept.
  void dependent_rows(std::size_t dependent, std::vector<double>& out) const;

 private:
  std::size_t positions_;
  std::size_t relations_;
  std::vector<double> values_;
  RelationScoreSource source_;
  mutable std::unordered_map<std::uint64_t, const double*> computed_;
  mutable std::vector<std::unique_ptr<double[]>> blocks_;
};

/// Uniqueness class of each relation column, or none.
using ClassTable = std::vector<std::optional<std::string_view>>;
/// Key: head position in the low 32 bits, dependent position in the high 32 bits.
using ForbiddenClasses = std::unordered_map<std::uint64_t, std::unordered_set<std::string_view>>;
/// Relation column per word (element d - 1 for position d).
using LabelVector = std::vector<std::int64_t>;

struct ClassConflict {
  std::int64_t head = 0;
  std::string_view relation_class;
  std::vector<std::int64_t> dependents;  // ascending positions, at least two
};

std::uint64_t forbidden_key(std::int64_t head, std::int64_t dependent);

/// "obj", "subj" or "subj_outer" for the relation names of those classes; none otherwise.
std::optional<std::string_view> deprel_uniqueness_class(std::string_view relation);
/// The class of each of `relations` columns (column c names entry c + 4 of the relations).
ClassTable deprel_class_table(const DepparseModel& model, std::size_t relations);

/// The best column allowed for the arc head -> dependent and its score; DepparseModelError
/// when no allowed column has a finite score.
std::pair<std::int64_t, double> best_allowed_deprel(const RelationScores& scores, const ClassTable& classes,
                                                    std::int64_t dependent, std::int64_t head,
                                                    const ForbiddenClasses& forbidden,
                                                    std::optional<std::string_view> extra_excluded);
LabelVector label_tree_arcs(const HeadVector& heads, const RelationScores& scores, const ClassTable& classes,
                            const ForbiddenClasses& forbidden);
std::vector<ClassConflict> find_class_conflicts(const ClassTable& classes, const HeadVector& heads,
                                                const LabelVector& labels);
/// The tree and its labels after at most five repair rounds.
std::pair<HeadVector, LabelVector> decode_with_head_constraints(const DepparseModel& model, const ScoreMatrix& arcs,
                                                                const RelationScores& scores, HeadVector heads);

}  // namespace velmora::detail
