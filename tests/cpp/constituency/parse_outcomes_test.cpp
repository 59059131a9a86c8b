// How a parse ends besides a scored tree: the table order breaking equal scores, the transition
// limit, no legal transition, and inputs the parser refuses. (An Open row outside the dummy
// embedding and an output layer of the wrong width are refused when the bundle loads.)

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "velmora/constituency.hpp"

namespace {

using namespace constituency_test;

class ParseOutcomes : public WithTestData {
 protected:
  static std::string failure(const velmora::ConstituencyPlan& plan, const std::vector<std::string>& words,
                             const std::vector<std::string>& tags) {
    try {
      return "parsed " + plan.parse(words, tags).to_string();
    } catch (const velmora::ConstituencyModelError& error) {
      return error.what();
    }
  }
};

TEST_F(ParseOutcomes, EqualScoresTakeTheEarliestLegalTransition) {
  // Table: Shift, Open S, Close, Open ROOT with unary limit 1, every score equal. Step by step:
  // Shift a; Open S; Shift b; Open S over B(b); Close (unary); Close S(A(a) S(B(b))); two unary
  // S levels while the limit allows; then only Open ROOT and Close remain.
  const velmora::ConstituencyPlan plan(parse_bundle("ties"), false);
  EXPECT_EQ(plan.parse({"a", "b"}, {"A", "B"}).to_string(), "(ROOT (S (S (S (A a) (S (B b))))))");
}

TEST_F(ParseOutcomes, NotANumberScoresRankBelowEveryNumber) {
  // Same table as above; only Close scores a number (0), the rest NaN. After Shift a and Open S,
  // Close beats the NaN Shift; where only NaN transitions are legal, table order decides.
  const velmora::ConstituencyPlan plan(parse_bundle("nan_scores"), false);
  EXPECT_EQ(plan.parse({"a", "b"}, {"A", "B"}).to_string(), "(ROOT (S (S (S (S (A a)) (B b)))))");
}

TEST_F(ParseOutcomes, EndlessUnaryChainHitsTheTransitionLimit) {
  const velmora::ConstituencyPlan plan(parse_bundle("endless_unary"), false);
  EXPECT_EQ(failure(plan, {"w"}, {"NN"}), "constituency parser exceeded its transition limit");
}

TEST_F(ParseOutcomes, TableWithoutOpenParsesOnlyARootTaggedWord) {
  const velmora::ConstituencyPlan plan(parse_bundle("no_open"), false);
  EXPECT_EQ(failure(plan, {"w"}, {"NN"}), "constituency parser could not find a legal transition");
  EXPECT_EQ(failure(plan, {"w"}, {"ROOT"}), "parsed (ROOT w)");
  EXPECT_EQ(failure(plan, {"w", "v"}, {"ROOT", "ROOT"}), "constituency parser could not find a legal transition");
}

TEST_F(ParseOutcomes, RefusesEmptyAndMismatchedInputs) {
  const velmora::ConstituencyPlan plan(compare_bundle("plain"), false);
  EXPECT_EQ(failure(plan, {}, {}), "constituency parser cannot parse an empty sentence");
  EXPECT_EQ(failure(plan, {"a", "b"}, {"DT"}), "constituency words and tags have different lengths");
  try {
    plan.parse_many({{"a"}, {"b"}}, {{"DT"}});
    ADD_FAILURE() << "no error";
  } catch (const velmora::ConstituencyModelError& error) {
    EXPECT_STREQ(error.what(), "constituency sentence and tag batches have different lengths");
  }
  // The first failing sentence ends the batch.
  EXPECT_THROW(plan.parse_many({{"a"}, {}}, {{"DT"}, {}}), velmora::ConstituencyModelError);
}

}  // namespace
