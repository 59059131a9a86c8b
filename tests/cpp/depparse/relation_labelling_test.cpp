// Relation labels under per-head uniqueness of subjects, outer subjects and objects, on
// hand-made scores.

#include <gtest/gtest.h>

#include <limits>

#include "depparse/relation_labelling.hpp"

namespace velmora::detail {
namespace {

constexpr double kNo = -std::numeric_limits<double>::infinity();

DepparseModel model_with_relations(std::vector<std::string> relations) {
  DepparseModel model;
  model.deprels = {"<PAD>", "<UNK>", "<EMPTY>", "<ROOT>"};
  model.deprels.insert(model.deprels.end(), relations.begin(), relations.end());
  return model;
}

// Relation scores of n positions where every arc gets `fill`, then the given arcs their rows.
RelationScores relation_scores(std::size_t n, std::size_t relations, double fill,
                               const std::vector<std::tuple<std::size_t, std::size_t, std::vector<double>>>& arcs) {
  std::vector<double> values(n * n * relations, fill);
  for (const auto& [dependent, head, row] : arcs) {
    std::copy(row.begin(), row.end(), values.begin() + static_cast<std::ptrdiff_t>((dependent * n + head) * relations));
  }
  return RelationScores(n, relations, std::move(values));
}

// Arc scores preferring the given head of each word (0 there, -10 elsewhere).
ScoreMatrix preferring(const HeadVector& heads) {
  ScoreMatrix arcs(heads.size(), std::vector<double>(heads.size(), -10.0));
  for (std::size_t i = 0; i < heads.size(); ++i) {
    arcs[i][i] = kNo;
    if (i > 0) arcs[i][static_cast<std::size_t>(heads[i])] = 0.0;
  }
  return arcs;
}

TEST(RelationLabelling, UniquenessClassesMatchWholeNames) {
  const std::vector<std::pair<std::string, std::optional<std::string_view>>> cases{
      {"obj", "obj"},          {"nsubj", "subj"},        {"csubj", "subj"},       {"nsubj:pass", "subj"},
      {"csubj:pass", "subj"},  {"nsubj:outer", "subj_outer"}, {"csubj:outer", "subj_outer"},
      {"objx", std::nullopt},  {"iobj", std::nullopt},  {"Obj", std::nullopt},   {"nsubj:xsubj", std::nullopt},
      {"", std::nullopt}};
  for (const auto& [relation, expected] : cases) EXPECT_EQ(deprel_uniqueness_class(relation), expected) << relation;
}

TEST(RelationLabelling, ConflictsGroupDependentsOfOneHeadAndClass) {
  const DepparseModel model = model_with_relations({"nsubj", "csubj:pass", "nsubj:outer", "obj", "objx", "det"});
  const ClassTable classes = deprel_class_table(model, 6);
  // Head 4 has nsubj (1) and csubj:pass (2): one subject conflict; nsubj:outer (3) is another
  // class; under head 0, obj (5) and objx (6) do not conflict; obj (7) under 4 stands alone.
  const HeadVector heads{0, 4, 4, 4, 0, 0, 0, 4};
  const LabelVector labels{0, 1, 2, 5, 3, 4, 3};
  const std::vector<ClassConflict> conflicts = find_class_conflicts(classes, heads, labels);
  ASSERT_EQ(conflicts.size(), 1u);
  EXPECT_EQ(conflicts[0].head, 4);
  EXPECT_EQ(conflicts[0].relation_class, "subj");
  EXPECT_EQ(conflicts[0].dependents, (std::vector<std::int64_t>{1, 2}));
  // Two objects under the root conflict; the records come in order of their first dependent.
  const LabelVector objects{0, 1, 2, 5, 3, 3, 0};
  const std::vector<ClassConflict> two = find_class_conflicts(classes, heads, objects);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].relation_class, "subj");
  EXPECT_EQ(two[1].relation_class, "obj");
  EXPECT_EQ(two[1].dependents, (std::vector<std::int64_t>{5, 6}));
}

TEST(RelationLabelling, BestAllowedRelationSkipsForbiddenAndExtraClasses) {
  const DepparseModel model = model_with_relations({"nsubj", "obj", "det"});
  const ClassTable classes = deprel_class_table(model, 3);
  const RelationScores scores = relation_scores(2, 3, -1.0, {{1, 0, {-0.1, -0.2, -0.3}}});
  ForbiddenClasses forbidden;
  EXPECT_EQ(best_allowed_deprel(scores, classes, 1, 0, forbidden, std::nullopt).first, 0);
  EXPECT_EQ(best_allowed_deprel(scores, classes, 1, 0, forbidden, "subj").first, 1);
  forbidden[forbidden_key(0, 1)].insert("obj");
  EXPECT_EQ(best_allowed_deprel(scores, classes, 1, 0, forbidden, "subj"), (std::pair<std::int64_t, double>{2, -0.3}));
  // The key holds the head in its low half: the same pair the other way round is unaffected.
  EXPECT_EQ(best_allowed_deprel(scores, classes, 0, 1, forbidden, "subj").first, 1);

  const RelationScores only_subject = relation_scores(2, 3, kNo, {{1, 0, {-0.1, kNo, kNo}}});
  try {
    best_allowed_deprel(only_subject, classes, 1, 0, {}, "subj");
    ADD_FAILURE() << "an arc without an allowed relation was labelled";
  } catch (const DepparseModelError& error) {
    EXPECT_STREQ(error.what(), "head constraints excluded every dependency relation");
  }
}

TEST(RelationLabelling, TreeWithoutConflictsKeepsTheBestRelationOfEachArc) {
  const DepparseModel model = model_with_relations({"nsubj", "obj", "det"});
  const HeadVector heads{0, 2, 0, 2};
  const RelationScores scores = relation_scores(4, 3, -2.0, {{1, 2, {-0.1, -3, -3}}, {2, 0, {-3, -3, -0.2}}, {3, 2, {-3, -0.1, -3}}});
  const auto [decoded_heads, labels] = decode_with_head_constraints(model, preferring(heads), scores, heads);
  EXPECT_EQ(decoded_heads, heads);
  EXPECT_EQ(labels, (LabelVector{0, 2, 1}));
}

TEST(RelationLabelling, RepairKeepsTheCandidateWithTheBestTotal) {
  // Words 1 and 2 both want nsubj under word 3. Leaving word 1 as the subject costs word 2 its
  // object score (-2.0); leaving word 2 costs word 1 its det score (-2.5): word 1 keeps it.
  const DepparseModel model = model_with_relations({"nsubj", "obj", "det"});
  const HeadVector heads{0, 3, 3, 0};
  const RelationScores scores =
      relation_scores(4, 3, -1.0, {{1, 3, {-0.1, -3.0, -2.5}}, {2, 3, {-0.2, -2.0, -3.0}}, {3, 0, {-5, -5, -0.5}}});
  const auto [decoded_heads, labels] = decode_with_head_constraints(model, preferring(heads), scores, heads);
  EXPECT_EQ(decoded_heads, heads);
  EXPECT_EQ(labels, (LabelVector{0, 1, 2}));

  // Swapping the costs makes word 2 the subject.
  const RelationScores swapped =
      relation_scores(4, 3, -1.0, {{1, 3, {-0.2, -2.0, -3.0}}, {2, 3, {-0.1, -3.0, -2.5}}, {3, 0, {-5, -5, -0.5}}});
  EXPECT_EQ(decode_with_head_constraints(model, preferring(heads), swapped, heads).second, (LabelVector{1, 0, 2}));
}

TEST(RelationLabelling, EqualTotalsLeaveTheLowestPositionUnconstrained) {
  // Exactly representable scores, so that both candidates' totals are equal.
  const DepparseModel model = model_with_relations({"obj", "det"});
  const HeadVector heads{0, 3, 3, 0};
  const RelationScores scores =
      relation_scores(4, 2, -1.0, {{1, 3, {-0.25, -1.0}}, {2, 3, {-0.25, -1.0}}, {3, 0, {-5, -0.5}}});
  EXPECT_EQ(decode_with_head_constraints(model, preferring(heads), scores, heads).second, (LabelVector{0, 1, 1}));
}

TEST(RelationLabelling, RepairMayMoveAConstrainedWordToAnotherHead) {
  // Word 2 loses the object class under word 3, so its next best is to attach to word 1 as obj:
  // the class is forbidden only under the conflicting head.
  const DepparseModel model = model_with_relations({"obj", "det"});
  const HeadVector heads{0, 3, 3, 0};
  ScoreMatrix arcs = preferring(heads);
  arcs[2][1] = -0.5;
  const RelationScores scores = relation_scores(
      4, 2, -6.0, {{1, 3, {-0.1, -6.0}}, {2, 3, {-0.1, -6.0}}, {2, 1, {-0.1, -6.0}}, {3, 0, {-6, -0.5}}});
  const auto [decoded_heads, labels] = decode_with_head_constraints(model, arcs, scores, heads);
  EXPECT_EQ(decoded_heads, (HeadVector{0, 3, 1, 0}));
  EXPECT_EQ(labels, (LabelVector{0, 0, 1}));
}

TEST(RelationLabelling, StopsAfterFiveRepairRounds) {
  // Six heads under one root word, each with two dependents that both want obj: five rounds
  // resolve the first five pairs, the sixth keeps its conflict. (Scores are sums of powers of
  // two, so candidates with equal totals compare equal.)
  const DepparseModel model = model_with_relations({"obj", "det", "root"});
  HeadVector heads{0, 0};
  for (int k = 0; k < 6; ++k) heads.push_back(1);
  for (int k = 0; k < 6; ++k) {
    heads.push_back(2 + k);
    heads.push_back(2 + k);
  }
  const std::size_t n = heads.size();
  std::vector<std::tuple<std::size_t, std::size_t, std::vector<double>>> rows{{1, 0, {-5, -5, -0.1}}};
  for (std::size_t d = 2; d < n; ++d) {
    const bool head_word = heads[d] == 1;
    rows.emplace_back(d, static_cast<std::size_t>(heads[d]),
                      head_word ? std::vector<double>{-5, -0.5, -5} : std::vector<double>{-0.25, -1.0, -5});
  }
  const RelationScores scores = relation_scores(n, 3, -1.0, rows);
  const auto [decoded_heads, labels] = decode_with_head_constraints(model, preferring(heads), scores, heads);
  EXPECT_EQ(decoded_heads, heads);
  LabelVector expected{2, 1, 1, 1, 1, 1, 1};
  for (int k = 0; k < 6; ++k) {
    expected.push_back(0);
    expected.push_back(k < 5 ? 1 : 0);
  }
  EXPECT_EQ(labels, expected);
}

}  // namespace
}  // namespace velmora::detail
