// Loading a coref bundle: each broken bundle is refused by the first failing rule with its own
// message and error type; bundles that only look unusual load.

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "velmora/model_bundle.hpp"

namespace {

using coref_test::data_dir;
using coref_test::require_data;
using velmora::CorefModelError;
using velmora::CorefPlan;
using velmora::detail::JsonError;

enum class Kind { model, json };

struct Refused {
  std::string bundle;
  Kind kind;
  std::string message;
};

TEST(CorefBundleLoading, BrokenBundlesAreRefusedByTheFirstFailingRule) {
  require_data();
  const std::vector<Refused> cases{
      {"processor_capitalised", Kind::model, "expected a coref bundle, got 'Coref'"},
      {"processor_longer", Kind::model, "expected a coref bundle, got 'coref2'"},
      {"window_four", Kind::model, "coref config dimensions are invalid"},
      {"negative_hidden_layers", Kind::model, "coref config dimensions are invalid"},
      {"zero_rough_k", Kind::model, "coref config dimensions are invalid"},
      {"int32_tensor", Kind::model, "ATen view does not support coref bundle dtype: int32"},
      {"uint8_tensor", Kind::model, "ATen view does not support coref bundle dtype: uint8"},
      {"flag_as_number", Kind::json, "expected JSON boolean at assets.config.singletons"},
      {"missing_rough_k", Kind::json, "missing JSON key 'rough_k' at assets.config"},
      {"hidden_size_eight", Kind::model, "coref transformer hidden size disagrees with config"},
      {"bilinear_three_dims", Kind::model, "coref tensor dimensions disagree"},
      {"bilinear_one_dim", Kind::model, "coref tensor dimensions disagree"},
      {"distance_ten_rows", Kind::model, "coref tensor dimensions disagree"},
      // A one-dimensional attention weight is refused like every other shape, not by the
      // tensor library's index error.
      {"attention_one_dim", Kind::model, "coref tensor dimensions disagree"},
      {"missing_before_shape", Kind::model, "missing coref tensor: 'sp.emb.weight'"},
      {"missing_hidden_layer", Kind::model, "missing coref tensor: 'a_scorer.hidden.0.bias'"},
      // The span decoding needs one start and one end score per word.
      {"span_conv_five_wide", Kind::model, "coref tensor dimensions disagree"},
      {"span_conv_three_channels", Kind::model, "coref tensor dimensions disagree"},
      // Scores read back one per candidate or head: without a row, reading them runs past the end.
      {"zero_predictor_no_rows", Kind::model, "coref tensor dimensions disagree"},
      {"anaphoricity_two_outputs", Kind::model, "coref tensor dimensions disagree"},
      {"span_positions_short", Kind::model, "coref tensor dimensions disagree"},
      {"table_holds_string", Kind::json, "expected JSON integer"},
      {"table_entry_not_array", Kind::json, "expected JSON array at assets.runtime_contract.tokenizer_map_ids.cat"},
      {"missing_eos_id", Kind::json, "missing JSON key 'eos_id' at assets.transformer.tokenizer"},
  };
  for (const Refused& refused : cases) {
    SCOPED_TRACE(refused.bundle);
    const auto path = data_dir() / "refused" / refused.bundle;
    try {
      CorefPlan plan(path, false);
      ADD_FAILURE() << "loaded";
    } catch (const CorefModelError& error) {
      EXPECT_EQ(refused.kind, Kind::model);
      EXPECT_EQ(error.what(), refused.message);
    } catch (const JsonError& error) {
      EXPECT_EQ(refused.kind, Kind::json);
      EXPECT_EQ(error.what(), refused.message);
    }
  }
}

TEST(CorefBundleLoading, UnusualButValidBundlesLoad) {
  require_data();
  for (const char* name : {"window_five", "flags_null", "flags_absent", "float64_extra_tensor",
                           "start_map_without_singletons", "blank_table_word"}) {
    SCOPED_TRACE(name);
    const CorefPlan plan(data_dir() / "loads" / name, false);
    EXPECT_FALSE(plan.predicts_singletons());
    EXPECT_FALSE(plan.predicts_zero_anaphora());
  }
}

TEST(CorefBundleLoading, PlanReportsItsBundleAndOptions) {
  require_data();
  const CorefPlan plain(data_dir() / "plain", true);
  EXPECT_EQ(plain.bundle().processor(), "coref");
  EXPECT_TRUE(plain.bundle().checksums_verified());
  EXPECT_FALSE(plain.predicts_singletons());
  EXPECT_FALSE(plain.predicts_zero_anaphora());

  CorefPlan full(data_dir() / "full", false);
  EXPECT_TRUE(full.predicts_singletons());
  EXPECT_TRUE(full.predicts_zero_anaphora());
  full = CorefPlan(data_dir() / "no_hidden", false);
  EXPECT_FALSE(full.predicts_singletons());
}

TEST(CorefBundleLoading, MissingDirectoryIsTheBundlesOwnError) {
  require_data();
  try {
    CorefPlan plan(data_dir() / "absent", false);
    FAIL() << "loaded";
  } catch (const velmora::ModelBundleError& error) {
    EXPECT_EQ(dynamic_cast<const CorefModelError*>(&error), nullptr);
  }
}

TEST(CorefBundleLoading, ConfigAndSpecialIdsAreKept) {
  require_data();
  const auto model = coref_test::load_model("full");
  EXPECT_EQ(model->hidden_size, 16);
  EXPECT_EQ(model->rough_k, 3);
  EXPECT_EQ(model->n_hidden_layers, 2);
  EXPECT_EQ(model->a_scoring_batch_size, 1);
  EXPECT_EQ(model->bert_window_size, 64);
  EXPECT_EQ(model->cls_id, -1);
  EXPECT_EQ(model->sep_id, -1);
  EXPECT_EQ(model->pad_id, 0);
  EXPECT_EQ(model->eos_id, 3);
  EXPECT_TRUE(model->singletons && model->full_pairwise && model->use_zeros);
  EXPECT_EQ(model->word_subwords.at("zebra"), (std::vector<std::int64_t>{37, 38, 12}));
}

}  // namespace
