// What the loader refuses, with which message, and the unusual bundles it accepts.

#include <gtest/gtest.h>

#include <type_traits>

#include "test_support.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/ner.hpp"

namespace {

TEST(NERBundleLoading, RefusesEachBrokenBundleWithItsMessage) {
  ner_test::require_data();
  const auto cases = velmora::detail::load_json(ner_test::data_dir() / "refused.json");
  ASSERT_GT(cases.as_object("").size(), 20U);
  for (const auto& [name, message] : cases.as_object("")) {
    SCOPED_TRACE(name);
    try {
      velmora::NERPlan plan(ner_test::data_dir() / "refused" / name, false);
      ADD_FAILURE() << "the bundle loaded";
    } catch (const velmora::NERModelError& error) {
      EXPECT_EQ(error.what(), message.as_string(""));
    }
  }
}

TEST(NERBundleLoading, AcceptsZeroPaddedColumnKeysZeroDropoutAndNoScheme) {
  ner_test::require_data();
  for (const char* name : {"column_key_zero_padded", "recurrent_dropout_float_zero", "recurrent_dropout_null",
                           "no_scheme"}) {
    SCOPED_TRACE(name);
    const velmora::NERPlan plan(ner_test::data_dir() / "loads" / name, false);
    EXPECT_EQ(plan.tag({"Paris", "in", "spring"}).size(), 3U);
  }
}

TEST(NERBundleLoading, AColumnOfOnlyReservedTagsLoadsButCannotTag) {
  ner_test::require_data();
  const velmora::NERPlan plan(ner_test::data_dir() / "loads" / "four_tags", false);
  EXPECT_TRUE(plan.tag({}).empty());
  try {
    plan.tag({"Paris"});
    ADD_FAILURE() << "a tag was produced";
  } catch (const velmora::NERModelError& error) {
    EXPECT_STREQ(error.what(), "NER CRF produced an invalid tag id");
  }
}

TEST(NERBundleLoading, BundleErrorsPassThroughAndMovesTransferTheModel) {
  ner_test::require_data();
  EXPECT_THROW(velmora::NERPlan(ner_test::data_dir() / "no such bundle", false), velmora::ModelBundleError);
  static_assert(!std::is_copy_constructible_v<velmora::NERPlan>);
  velmora::NERPlan plan(ner_test::data_dir() / "variants" / "char_lstm", true);
  const std::vector<std::string> tags = plan.tag({"Obama", "visited", "Paris"});
  velmora::NERPlan moved(std::move(plan));
  EXPECT_EQ(moved.tag({"Obama", "visited", "Paris"}), tags);
  EXPECT_EQ(moved.bundle().processor(), "ner");
  velmora::NERPlan assigned(ner_test::data_dir() / "variants" / "charlm", false);
  assigned = std::move(moved);
  EXPECT_EQ(assigned.tag({"Obama", "visited", "Paris"}), tags);
}

}  // namespace
