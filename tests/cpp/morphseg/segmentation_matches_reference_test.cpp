// The native segmenter gives every test word the morphemes of the PyTorch reference
// (tests/support/morphseg_reference.py, one word at a time), whether words come alone, together
// in one call, or in chunks of one word. Only a word with a genuine near-tie may differ.

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "velmora/morphseg.hpp"

namespace {

using morphseg_test::Morphemes;
using velmora::MorphSegPlan;
using velmora::detail::JsonValue;

constexpr double kNearTie = 1e-4;

struct Expectation {
  std::string word;
  Morphemes morphemes;
  double margin;
};

std::vector<Expectation> expectations() {
  std::vector<Expectation> rows;
  for (const JsonValue& row : morphseg_test::expected().at("main", "").as_array("")) {
    Expectation expectation{row.at("word", "").as_string(""), {}, row.at("margin", "").as_number("")};
    for (const JsonValue& morpheme : row.at("morphemes", "").as_array("")) {
      expectation.morphemes.push_back(morpheme.as_string(""));
    }
    rows.push_back(std::move(expectation));
  }
  return rows;
}

class MorphSegReferenceAgreement : public ::testing::TestWithParam<const char*> {};

TEST_P(MorphSegReferenceAgreement, WordsAloneAndTogether) {
  MORPHSEG_REQUIRE_DATA();
  const MorphSegPlan plan(morphseg_test::bundle(GetParam()), false);
  const std::vector<Expectation> rows = expectations();
  std::vector<std::string> words;
  for (const Expectation& row : rows) words.push_back(row.word);
  const std::vector<Morphemes> together = plan.segment_many(words);
  ASSERT_EQ(together.size(), rows.size());
  std::size_t compared = 0;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    if (rows[k].margin < kNearTie) continue;
    ++compared;
    EXPECT_EQ(plan.segment(rows[k].word), rows[k].morphemes) << rows[k].word;
    EXPECT_EQ(together[k], rows[k].morphemes) << rows[k].word;
  }
  EXPECT_GT(compared, rows.size() / 2);
}

INSTANTIATE_TEST_SUITE_P(Bundles, MorphSegReferenceAgreement, ::testing::Values("main", "batch_one"));

TEST(MorphSegBatching, ChunksOfOneKeepInputOrder) {
  MORPHSEG_REQUIRE_DATA();
  // batch_size 1: words of 3, 5 and 3 characters run as three chunks, answered in input order.
  const MorphSegPlan plan(morphseg_test::bundle("batch_one"), false);
  const std::vector<std::string> words = {"cat", "dogie", "sun"};
  const std::vector<Morphemes> together = plan.segment_many(words);
  ASSERT_EQ(together.size(), 3u);
  for (std::size_t k = 0; k < words.size(); ++k) EXPECT_EQ(together[k], plan.segment(words[k])) << words[k];
  EXPECT_TRUE(plan.segment_many({}).empty());
}

}  // namespace
