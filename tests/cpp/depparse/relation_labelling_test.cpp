// Relation labels under per-head uniqueness of subjects, outer subjects and objects, on
// hand-made scores.

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <variant>

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

// The repair search as a plain loop: a fresh matrix and a whole decoding for every candidate.
std::pair<HeadVector, LabelVector> plain_repair(const DepparseModel& model, const ScoreMatrix& arcs,
                                                const RelationScores& scores, HeadVector heads) {
  const ClassTable classes = deprel_class_table(model, scores.relations());
  ForbiddenClasses forbidden;
  LabelVector labels = label_tree_arcs(heads, scores, classes, forbidden);
  const std::size_t n = arcs.size();
  for (int round = 0; round < 5; ++round) {
    const std::vector<ClassConflict> conflicts = find_class_conflicts(classes, heads, labels);
    if (conflicts.empty()) break;
    const ClassConflict& g = conflicts.front();
    std::optional<std::tuple<double, std::size_t, HeadVector, LabelVector>> kept;
    for (std::size_t keeper = 0; keeper < g.dependents.size(); ++keeper) {
      ScoreMatrix s = arcs;
      for (std::size_t u = 0; u < g.dependents.size(); ++u) {
        const std::int64_t d = g.dependents[u];
        if (u == keeper) continue;
        for (std::size_t h = 0; h < n; ++h) {
          const auto head = static_cast<std::int64_t>(h);
          s[d][h] = arcs[d][h] + best_allowed_deprel(scores, classes, d, head, forbidden,
                                                     head == g.head ? std::optional(g.relation_class) : std::nullopt)
                                     .second;
        }
      }
      HeadVector candidate = decode_single_root(s);
      LabelVector candidate_labels = label_tree_arcs(candidate, scores, classes, forbidden);
      for (std::size_t u = 0; u < g.dependents.size(); ++u) {
        const std::int64_t d = g.dependents[u];
        if (u != keeper && candidate[d] == g.head) {
          candidate_labels[d - 1] = best_allowed_deprel(scores, classes, d, g.head, forbidden, g.relation_class).first;
        }
      }
      double total = 0.0;
      for (std::size_t i = 1; i < n; ++i) {
        total += arcs[i][candidate[i]] + scores.row(i, static_cast<std::size_t>(candidate[i]))[candidate_labels[i - 1]];
      }
      if (!kept || total > std::get<0>(*kept)) kept.emplace(total, keeper, std::move(candidate), std::move(candidate_labels));
    }
    heads = std::get<2>(*kept);
    labels = std::get<3>(*kept);
    for (std::size_t u = 0; u < g.dependents.size(); ++u) {
      if (u != std::get<1>(*kept)) forbidden[forbidden_key(g.head, g.dependents[u])].insert(g.relation_class);
    }
  }
  return {heads, labels};
}

TEST(RelationLabelling, RepairSearchGivesTheResultsOfThePlainLoop) {
  // Coarse scores, so that arcs, relations and candidate totals tie often, and relation scores
  // that favour subjects and objects, so that most sentences run several rounds with large
  // conflicts; some arcs are impossible.
  const DepparseModel model = model_with_relations({"nsubj", "obj", "det", "csubj:pass", "nsubj:outer", "amod"});
  std::mt19937 random(31);
  std::uniform_int_distribution<int> level(-8, 0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto outcome = [](auto decode) -> std::variant<std::pair<HeadVector, LabelVector>, std::string> {
    try {
      return decode();
    } catch (const DepparseModelError& error) {
      return std::string(error.what());
    }
  };
  for (int trial = 0; trial < 120; ++trial) {
    const std::size_t n = trial == 0 ? 241 : 3 + static_cast<std::size_t>(trial) % 40;
    ScoreMatrix arcs(n, std::vector<double>(n));
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < n; ++j) {
        arcs[i][j] = i == j || unit(random) < 0.03 ? kNo : 0.5 * level(random) - (j + 1 == i || i + 1 == j ? 0 : 2);
      }
    }
    std::vector<double> values(n * n * 6);
    for (std::size_t k = 0; k < values.size(); ++k) values[k] = 0.25 * level(random) + (k % 6 < 2 ? 1.0 : 0.0) - 2.0;
    const RelationScores scores(n, 6, std::move(values));
    const auto initial = outcome([&] { return std::pair(decode_single_root(arcs), LabelVector{}); });
    if (!std::holds_alternative<std::pair<HeadVector, LabelVector>>(initial)) continue;
    const HeadVector heads = std::get<0>(initial).first;
    const auto plain = outcome([&] { return plain_repair(model, arcs, scores, heads); });
    // Candidates decoded one after another, and several at once on the intra-op threads.
    for (int threads : {1, 2, 5}) {
      at::set_num_threads(threads);
      EXPECT_EQ(outcome([&] { return decode_with_head_constraints(model, arcs, scores, heads); }), plain)
          << "trial " << trial << ", " << threads << " threads";
    }
    at::set_num_threads(1);
  }
}

TEST(RelationLabelling, LargeConflictsGiveTheResultsOfThePlainLoopAtAnyThreadCount) {
  // Most words prefer one of two hub heads and an object or subject relation under it, so each
  // round tries dozens of keepers, spread over the units; coarse scores make candidates tie.
  const DepparseModel model = model_with_relations({"obj", "nsubj", "det"});
  std::mt19937 random(41);
  std::uniform_int_distribution<int> level(-4, 0);
  for (std::size_t n : {60, 150}) {
    ScoreMatrix arcs(n, std::vector<double>(n));
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < n; ++j) arcs[i][j] = i == j ? kNo : (j == 1 || j == 2 ? -1.0 : -3.0) + 0.5 * level(random);
    }
    std::vector<double> values(n * n * 3);
    for (std::size_t k = 0; k < values.size(); ++k) values[k] = (k % 3 == 2 ? -2.0 : -1.0) + 0.5 * level(random);
    const RelationScores scores(n, 3, std::move(values));
    const HeadVector heads = decode_single_root(arcs);
    const auto plain = plain_repair(model, arcs, scores, heads);
    for (int threads : {1, 3, 8}) {
      at::set_num_threads(threads);
      EXPECT_EQ(decode_with_head_constraints(model, arcs, scores, heads), plain) << n << " positions, " << threads << " threads";
    }
    at::set_num_threads(1);
  }
}

}  // namespace
}  // namespace velmora::detail
