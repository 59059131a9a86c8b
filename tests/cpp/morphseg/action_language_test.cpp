// How predicted actions rewrite a word and where the rewritten word is cut: the rules on their
// own, then through whole bundles whose classifier predicts one action everywhere.

#include <gtest/gtest.h>

#include "morphseg/model_state.hpp"
#include "test_support.hpp"
#include "velmora/morphseg.hpp"

namespace {

using morphseg_test::Morphemes;
using velmora::MorphSegModelError;
using velmora::MorphSegPlan;

std::string rewrite(const std::vector<std::string>& characters, const std::vector<std::string>& actions) {
  std::vector<const std::string*> pointers;
  for (const std::string& action : actions) pointers.push_back(&action);
  return velmora::detail::apply_morphseg_actions(characters, pointers);
}

TEST(MorphSegActions, StepsWriteTheCharacterOrTheirOwnText) {
  struct Case {
    std::vector<std::string> actions;
    std::string form;
  };
  const std::vector<std::string> ab = {"a", "b"};
  const std::vector<Case> cases = {
      {{"COPY", "COPY"}, "ab"},
      {{"DELETE", "DELETE"}, ""},
      {{"COPY+COPY", "COPY"}, "aab"},
      {{"x+COPY", "COPY"}, "xab"},
      {{"+COPY", "COPY+"}, "ab"},
      {{"COPY+DELETE", "COPY"}, "aDELETEb"},  // only a whole action DELETE deletes
      {{"COPY+ @@", "COPY"}, "a @@b"},
      {{"<UNK>", "COPY"}, "<UNK>b"},
      {{"copy", "++"}, "copy"},  // steps are case-sensitive; empty steps write nothing
      {{"DELETE", "q"}, "q"},
  };
  for (const Case& item : cases) EXPECT_EQ(rewrite(ab, item.actions), item.form) << item.actions[0];
}

TEST(MorphSegActions, FormIsCutAtEveryMarker) {
  struct Case {
    std::string form;
    Morphemes morphemes;
  };
  const std::vector<Case> cases = {
      {"un @@do", {"un", "do"}},
      {" @@do", {"", "do"}},
      {"un @@", {"un", ""}},
      {"un @@ @@do", {"un", "", "do"}},
      {"un @@ do", {"un", " do"}},
      {"un@@do", {"un@@do"}},
      {"un @do", {"un @do"}},
      {"un @@@do", {"un", "@do"}},
      {"", {""}},
      {" @@", {"", ""}},
  };
  for (const Case& item : cases) EXPECT_EQ(velmora::detail::cut_morphemes(item.form), item.morphemes) << item.form;
}

struct ConstantCase {
  const char* bundle;
  std::string word;
  Morphemes morphemes;
};

class MorphSegConstantAction : public ::testing::TestWithParam<ConstantCase> {};

TEST_P(MorphSegConstantAction, SegmentsTheNormalisedWord) {
  MORPHSEG_REQUIRE_DATA();
  const MorphSegPlan plan(morphseg_test::bundle(std::string("constant_") + GetParam().bundle), false);
  EXPECT_EQ(plan.segment(GetParam().word), GetParam().morphemes);
}

INSTANTIATE_TEST_SUITE_P(
    Words, MorphSegConstantAction,
    ::testing::Values(
        ConstantCase{"copy", "cats", {"cats"}},
        ConstantCase{"copy", "Cats", {"cats"}},                      // case folded before copying
        ConstantCase{"copy", "Stra\xC3\x9F" "e", {"strasse"}},        // sharp s folds to two characters
        ConstantCase{"copy", "\xEF\xAC\x81sh", {"fish"}},           // compatibility ligature
        ConstantCase{"copy", "\xEF\xBC\xA1", {"a"}},                // full-width letter
        ConstantCase{"copy", "\xE6\x97\xA5", {"\xE6\x97\xA5"}},     // unknown character, still copied
        ConstantCase{"copy", "un @@do", {"un", "do"}},              // a copied marker cuts as well
        ConstantCase{"delete", "abc", {""}},                        // all deleted: one empty morpheme
        ConstantCase{"delete", "", {}},                             // nothing to segment
        ConstantCase{"unk", "ab", {"<UNK><UNK>"}},
        ConstantCase{"marker_after", "ab", {"a", "b", ""}},
        ConstantCase{"marker_before", "ab", {"", "a", "b"}},
        ConstantCase{"double", "ab", {"aabb"}},
        ConstantCase{"x_before", "ab", {"xaxb"}},
        ConstantCase{"empty_step_before", "ab", {"ab"}},
        ConstantCase{"empty_step_after", "ab", {"ab"}},
        ConstantCase{"copy_then_delete_text", "ab", {"aDELETEbDELETE"}}),
    [](const auto& info) { return std::string(info.param.bundle) + "_" + std::to_string(info.index); });

TEST(MorphSegConstantAction, PaddingPredictionFailsTheWholeCall) {
  MORPHSEG_REQUIRE_DATA();
  const MorphSegPlan plan(morphseg_test::bundle("constant_pad"), false);
  try {
    plan.segment_many({"ab", "cde"});
    FAIL() << "padding was accepted";
  } catch (const MorphSegModelError& error) {
    EXPECT_STREQ(error.what(), "MorphSeg classifier predicted a padding or out-of-range action");
  }
  // Words without characters never reach the network.
  EXPECT_EQ(plan.segment_many({"", ""}), (std::vector<Morphemes>{{}, {}}));
}

}  // namespace
