// The native identifier answers what the PyTorch reference (tests/support/langid_reference.py)
// answers for every test text, with and without a language subset, whether the texts come one at
// a time or together in one call. Only a genuine near-tie of the reference may differ.

#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"
#include "velmora/langid.hpp"

namespace {

using velmora::LangIDPlan;
using velmora::detail::JsonValue;

constexpr double kNearTie = 1e-3;

struct Expectation {
  std::string text;
  std::string tag;
  double margin;
  std::string subset_tag;
  double subset_margin;
};

std::vector<Expectation> expectations(const std::string& bundle) {
  std::vector<Expectation> rows;
  for (const JsonValue& row : langid_test::expected().at(bundle, "").as_array("")) {
    rows.push_back({row.at("text", "").as_string(""), row.at("tag", "").as_string(""),
                    row.at("margin", "").as_number(""), row.at("subset_tag", "").as_string(""),
                    row.at("subset_margin", "").as_number("")});
  }
  EXPECT_GT(rows.size(), 10u);
  return rows;
}

std::vector<std::string> subset() {
  std::vector<std::string> names;
  for (const JsonValue& name : langid_test::expected().at("subset", "").as_array("")) names.push_back(name.as_string(""));
  return names;
}

void expect_answer(const std::string& answer, const std::string& expected, double margin, const std::string& text) {
  if (margin < kNearTie) return;
  EXPECT_EQ(answer, expected) << "text: " << text;
}

class LangIDReferenceAgreement : public ::testing::TestWithParam<const char*> {};

TEST_P(LangIDReferenceAgreement, EachTextAlone) {
  LANGID_REQUIRE_DATA();
  const LangIDPlan plan(langid_test::bundle(GetParam()), false);
  for (const Expectation& row : expectations(GetParam())) {
    expect_answer(plan.identify(row.text, {}), row.tag, row.margin, row.text);
    expect_answer(plan.identify(row.text, subset()), row.subset_tag, row.subset_margin, row.text);
  }
}

TEST_P(LangIDReferenceAgreement, AllTextsInOneCallComeBackInInputOrder) {
  LANGID_REQUIRE_DATA();
  const LangIDPlan plan(langid_test::bundle(GetParam()), false);
  const std::vector<Expectation> rows = expectations(GetParam());
  std::vector<std::string> texts;
  for (const Expectation& row : rows) texts.push_back(row.text);
  const std::vector<std::string> answers = plan.identify_many(texts, {});
  const std::vector<std::string> subset_answers = plan.identify_many(texts, subset());
  ASSERT_EQ(answers.size(), rows.size());
  ASSERT_EQ(subset_answers.size(), rows.size());
  for (std::size_t k = 0; k < rows.size(); ++k) {
    expect_answer(answers[k], rows[k].tag, rows[k].margin, rows[k].text);
    expect_answer(subset_answers[k], rows[k].subset_tag, rows[k].subset_margin, rows[k].text);
    // The answer for a text does not depend on the texts that share its batch.
    EXPECT_EQ(answers[k], plan.identify(texts[k], {})) << texts[k];
  }
}

INSTANTIATE_TEST_SUITE_P(Bundles, LangIDReferenceAgreement, ::testing::Values("main", "one_layer"));

}  // namespace
