// A langid bundle loads only when its assets and tensors match the identifier's contract; each
// fault is reported with its own message, and JSON faults with the reader's message.

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "velmora/langid.hpp"
#include "velmora/model_bundle.hpp"

namespace {

using velmora::LangIDModelError;
using velmora::LangIDPlan;

struct Refusal {
  const char* bundle;
  const char* message;
};

class LangIDBundleRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(LangIDBundleRefusal, FailsWithItsMessage) {
  LANGID_REQUIRE_DATA();
  try {
    LangIDPlan plan(langid_test::bundle(GetParam().bundle), true);
    FAIL() << "the bundle loaded";
  } catch (const LangIDModelError& error) {
    EXPECT_STREQ(error.what(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LangIDBundleRefusal,
    ::testing::Values(
        Refusal{"processor_upper", "expected a langid bundle, got 'LangID'"},
        Refusal{"processor_space", "expected a langid bundle, got 'langid '"},
        Refusal{"zero_layers", "LangID config value must be positive: num_layers"},
        Refusal{"no_hidden_dim", "missing JSON key 'hidden_dim' at assets.config"},
        // Twice the hidden size does not fit 64 bits, so no tensor can have that shape.
        Refusal{"huge_hidden_dim", "LangID tensor has an unexpected shape: 'hidden_to_tag.weight'"},
        Refusal{"string_embedding_dim", "expected JSON integer at assets.config"},
        Refusal{"no_pad", "LangID vocabulary lacks UNK or <PAD>"},
        Refusal{"tag_gap", "LangID tag ids must be contiguous and unique"},
        Refusal{"tag_repeat", "LangID tag ids must be contiguous and unique"},
        Refusal{"extra_embedding_row", "LangID tensor has an unexpected shape: 'char_embeds.weight'"},
        Refusal{"tag_bias_too_long", "LangID tensor has an unexpected shape: 'hidden_to_tag.bias'"},
        Refusal{"int32_tensor", "ATen view does not support LangID bundle dtype: int32"},
        Refusal{"missing_reverse_bias", "missing LangID weight: 'lstm.bias_hh_l1_reverse'"},
        // Ids outside the embedding table are refused at load rather than failing on the first
        // text that holds the character.
        Refusal{"character_id_outside_table", "LangID character id is outside the embedding table: z"},
        Refusal{"negative_character_id", "LangID character id is outside the embedding table: z"}),
    [](const auto& info) { return std::string(info.param.bundle); });

TEST(LangIDBundleLoading, BundleFaultsPassThroughAsTheBundlesOwnError) {
  LANGID_REQUIRE_DATA();
  try {
    LangIDPlan plan(langid_test::bundle("does_not_exist"), false);
    FAIL() << "the bundle loaded";
  } catch (const LangIDModelError&) {
    FAIL() << "a bundle fault became a LangID error";
  } catch (const velmora::ModelBundleError&) {
  }
}

TEST(LangIDBundleLoading, TagIdsNeedNotFollowKeyOrder) {
  LANGID_REQUIRE_DATA();
  // {"fr": 1, "en": 0}, with tag 1 always scoring highest.
  const LangIDPlan plan(langid_test::bundle("tags_out_of_key_order"), true);
  EXPECT_EQ(plan.identify("abc", {}), "fr");
  EXPECT_EQ(plan.identify("abc", {"en"}), "en");
}

TEST(LangIDBundleLoading, WeightsOfAnotherFloatTypeLoadButCannotRun) {
  LANGID_REQUIRE_DATA();
  const LangIDPlan plan(langid_test::bundle("float64_weights"), false);
  EXPECT_ANY_THROW(plan.identify("abc", {}));
}

}  // namespace
