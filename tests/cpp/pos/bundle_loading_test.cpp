// Loading refuses every bundle outside the supported tagger profile with its own message, and
// reads the unusual but valid ones.

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "pos/model_state.hpp"
#include "pos/test_support.hpp"
#include "velmora/model_bundle.hpp"

namespace {

const std::string kProfile =
    "unsupported POS architecture; the native profile requires word/pretrain embeddings, one unidirectional "
    "character LSTM, a non-shared HighwayLSTM, and no recurrent dropout";
const std::string kComposite = "composite XPOS component keys must be ";
const std::string kFeatures = "the native POS profile requires keyed, pipe-separated morphological features";

struct Refusal {
  std::string bundle;
  std::string message;
};

TEST(POSBundleLoading, RefusesEachFaultWithItsMessage) {
  POS_REQUIRE_TEST_DATA();
  const std::vector<Refusal> cases = {
      {"depparse_processor", "expected a POS bundle, got 'depparse'"},
      {"batch_size_zero", kProfile},
      {"batch_size_fraction", "expected JSON integer at assets.config.batch_size"},
      {"char_absent", kProfile},
      {"pretrain_false", kProfile},
      {"char_bidirectional", kProfile},
      {"share_hid", kProfile},
      {"rec_dropout", kProfile},
      {"char_layers_without_charlm", kProfile},
      {"char_dropout_without_charlm", kProfile},
      {"hidden_dim_absent", kProfile},
      {"config_absent", "missing JSON key 'config' at assets"},
      {"xpos_class", "unsupported XPOS vocabulary class: CompositeVocab"},
      {"keyed_composite", "keyed composite XPOS vocabularies are unsupported"},
      {"composite_key_letters", kComposite + "integers"},
      {"composite_key_digit_letter", kComposite + "integers"},
      {"composite_keys_gap", kComposite + "contiguous"},
      {"composite_keys_no_zero", kComposite + "contiguous"},
      {"composite_key_huge", kComposite + "contiguous"},
      {"feats_comma", kFeatures},
      {"feats_two_pipes", kFeatures},
      {"feats_unkeyed", kFeatures},
      {"word_lower_null", "expected JSON boolean at assets.vocab.word.lower"},
      {"charlm_swapped", "POS charLM directions disagree with their asset slots"},
      {"unusual_dtype", "ATen view does not support bundle dtype: uint16"},
      {"upos_emb_missing", "missing POS tensor: 'upos_emb.weight'"},
      {"composite_component_missing", "missing POS tensor: 'xpos_clf.1.W_bilin.weight'"},
      {"layer_gate_missing", "missing POS tensor: 'taggerlstm.gate.1.bias'"},
      {"word_vocab_larger", "POS tensor dimensions disagree with bundled vocabularies"},
      {"word_width", "POS tensor dimensions disagree with bundled vocabularies"},
      {"input_size", "POS tagger input size disagrees with its embedding profile"},
      {"xpos_classes", "XPOS tensor dimensions disagree with its vocabulary"},
      {"char_rows", "POS character tensor dimensions disagree with its vocabulary"},
      // Tables shorter than the ids or classes that index them.
      {"word_id_past_table", "POS tensor dimensions disagree with bundled vocabularies"},
      {"upos_emb_rows", "POS tensor dimensions disagree with bundled vocabularies"},
      {"feature_rows", "POS feature tensor dimensions disagree with its vocabulary"},
  };
  for (const Refusal& refusal : cases) {
    try {
      velmora::POSPlan plan(pos_test::data_dir() / "refused" / refusal.bundle, false);
      ADD_FAILURE() << refusal.bundle << " was accepted";
    } catch (const velmora::POSModelError& error) {
      EXPECT_EQ(error.what(), refusal.message) << refusal.bundle;
    } catch (const std::exception& error) {
      ADD_FAILURE() << refusal.bundle << " failed with " << typeid(error).name() << ": " << error.what();
    }
  }
}

velmora::POSPlan::Impl loaded(const std::string& folder, const std::string& name) {
  velmora::POSPlan::Impl state;
  velmora::detail::load_pos_model(state, pos_test::data_dir() / folder / name, false);
  return state;
}

TEST(POSBundleLoading, AcceptsUnusualButValidBundles) {
  POS_REQUIRE_TEST_DATA();
  for (const char* name : {"charlm_ignores_char_settings", "integer_rec_dropout", "batch_settings_null",
                           "composite_eleven_components", "extra_tensor"}) {
    EXPECT_NO_THROW(velmora::POSPlan(pos_test::data_dir() / "accepted" / name, true)) << name;
  }
}

TEST(POSBundleLoading, AbsentOrNullBatchSettingsTakeTheirDefaults) {
  POS_REQUIRE_TEST_DATA();
  const velmora::POSPlan::Impl state = loaded("accepted", "batch_settings_null");
  EXPECT_EQ(state.batch_size, 250);
  EXPECT_EQ(state.batch_maximum_tokens, 5000);
  const velmora::POSPlan::Impl small = loaded("agreement", "small_batches");
  EXPECT_EQ(small.batch_size, 2);
  EXPECT_EQ(small.batch_maximum_tokens, 7);
}

TEST(POSBundleLoading, CompositeComponentsFollowTheirNumbers) {
  POS_REQUIRE_TEST_DATA();
  const velmora::POSPlan::Impl state = loaded("accepted", "composite_eleven_components");
  ASSERT_TRUE(state.xpos_composite);
  ASSERT_EQ(state.xpos_components.size(), 11u);
  for (std::size_t k = 0; k < 11; ++k) EXPECT_EQ(state.xpos_components[k].back(), "c" + std::to_string(k));
  EXPECT_EQ(state.xpos_separator, "+");
  EXPECT_TRUE(state.xpos_labels.empty());
}

TEST(POSBundleLoading, VocabulariesAndFlagsAsTheAssetsGiveThem) {
  POS_REQUIRE_TEST_DATA();
  const velmora::POSPlan::Impl plain = loaded("agreement", "character_model");
  EXPECT_FALSE(plain.xpos_composite);
  EXPECT_TRUE(plain.xpos_has_ignore);
  EXPECT_FALSE(plain.word_lower);
  EXPECT_FALSE(plain.uses_charlm);
  EXPECT_FALSE(plain.uses_transformer);
  EXPECT_EQ(plain.char_model.lstm_weights.size(), 4u);
  EXPECT_EQ(plain.char_model.initial_state.size(), 2u);
  ASSERT_EQ(plain.layers.size(), 2u);
  EXPECT_EQ(plain.layers[1].initial_state[0].data_ptr(),
            velmora::detail::pos_tensor(plain, "taggerlstm_h_init").narrow(0, 2, 2).data_ptr());
  // Feature categories in key byte order: upper-case initials first.
  std::vector<std::string> names;
  for (const auto& feature : plain.feature_vocabs) names.push_back(feature.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Case", "Number", "abbr"}));
  EXPECT_EQ(plain.feature_vocabs[0].values.back(), "Gen");

  const velmora::POSPlan::Impl without_ignore = loaded("agreement", "charlm_untransformed");
  EXPECT_FALSE(without_ignore.xpos_has_ignore);
  EXPECT_TRUE(without_ignore.uses_charlm);
  EXPECT_TRUE(without_ignore.char_model.lstm_weights.empty());
  // Input width: word + pretrained + both character-LM widths at their own size.
  EXPECT_EQ(velmora::detail::pos_input_size(without_ignore), 6 + 4 + 5 + 6);

  const velmora::POSPlan::Impl lower = loaded("agreement", "charlm_composite");
  EXPECT_TRUE(lower.word_lower);
  EXPECT_EQ(velmora::detail::pos_input_size(lower), 6 + 4 + 2 * 3);
}

TEST(POSBundleLoading, AMovedPlanKeepsTaggingAndSelfAssignmentKeepsTheModel) {
  POS_REQUIRE_TEST_DATA();
  velmora::POSPlan first(pos_test::data_dir() / "agreement" / "character_model", false);
  const std::vector<velmora::POSTag> tags = first.tag({"the", "cat"});
  velmora::POSPlan second(std::move(first));
  EXPECT_EQ(second.tag({"the", "cat"}), tags);
  velmora::POSPlan& alias = second;
  second = std::move(alias);
  EXPECT_EQ(second.tag({"the", "cat"}), tags);
  EXPECT_EQ(second.bundle().processor(), "pos");
}

}  // namespace
