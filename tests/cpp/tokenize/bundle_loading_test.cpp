// Loading a tokenize bundle: the supported profile, the configuration checks in their order,
// the vocabulary and the weights (dtype, alignment, required names, ids inside the embedding).

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include "tokenize/model_loading.hpp"
#include "test_support.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/tokenizer.hpp"

namespace {

using namespace tokenizer_test;

struct LoadCase {
  const char* name;   // a bundle of tests/support/tokenizer_variants.json
  const char* error;  // empty when the bundle loads
};

const std::vector<LoadCase>& load_cases() {
  static const std::vector<LoadCase> cases = {
      {"base", ""},
      {"no_batch_size", ""},
      {"integer_invtemp", ""},
      {"dictionary_off_ignores_its_keys", ""},
      {"no_mwt_tensors", ""},
      {"empty_feature_list", ""},
      {"wrong_feature_width", ""},
      {"huge_batch", ""},
      {"pos_bundle", "expected a tokenize bundle, got 'pos'"},
      {"batch_zero", "tokenizer batch size must be positive"},
      {"batch_float", "expected JSON integer at assets.config.batch_size"},
      {"emb_float", "expected JSON integer"},
      {"no_lang", "missing JSON key 'lang' at assets.config"},
      {"null_shorthand", "expected JSON string"},
      {"no_config", "missing JSON key 'config' at assets"},
      {"conv_res_false", "convolutional residual tokenizers are not supported"},
      {"charlm_empty", "character-LM tokenizers are not supported by this profile"},
      {"two_layers", "this tokenizer profile requires a one-layer hierarchical model"},
      {"flat", "this tokenizer profile requires a one-layer hierarchical model"},
      {"dictionary_window_zero", "dictionary tokenizer feature window must be positive"},
      {"dictionary_without_lexicon", "missing JSON key 'lexicon' at assets"},
      {"lexicon_not_strings", "expected JSON string at assets.lexicon[]"},
      {"unknown_feature", "unsupported tokenizer feature: foo"},
      {"feature_not_string", "expected JSON string at assets.config.feat_funcs[]"},
      {"no_unk", "tokenizer vocabulary lacks <PAD> or <UNK>"},
      {"float16_tensor", "the native tokenizer currently requires float32 weights"},
      {"lacks_mwt_clf2", "tokenizer bundle lacks required tensor: 'mwt_clf2.weight'"},
      {"lacks_rnn2", "tokenizer bundle lacks required tensor: 'rnn2.bias_hh_l0_reverse'"},
      {"id_past_the_embedding", "tokenizer vocabulary id is outside the embedding table: zz"},
      {"negative_id", "tokenizer vocabulary id is outside the embedding table: zz"},
      {"misaligned_weight", "tensor data is misaligned for its dtype: 'mwt_clf2.weight'"},
      // Inference reads classifier rows, biases and LSTM outputs with sizes taken from other
      // tensors, so every shape is checked at load.
      {"tok_clf_two_rows", "tokenizer tensor has an unexpected shape: 'tok_clf.weight'"},
      {"sent_clf_narrow", "tokenizer tensor has an unexpected shape: 'sent_clf.weight'"},
      {"mwt_clf_flat", "tokenizer tensor has an unexpected shape: 'mwt_clf.weight'"},
      {"tok_clf_bias_empty", "tokenizer tensor has an unexpected shape: 'tok_clf.bias'"},
      {"sent_clf_bias_two", "tokenizer tensor has an unexpected shape: 'sent_clf.bias'"},
      {"mwt_clf_bias_matrix", "tokenizer tensor has an unexpected shape: 'mwt_clf.bias'"},
      {"tok_clf2_two_rows", "tokenizer tensor has an unexpected shape: 'tok_clf2.weight'"},
      {"mwt_clf2_wide", "tokenizer tensor has an unexpected shape: 'mwt_clf2.weight'"},
      {"narrower_second_lstm", "tokenizer tensor has an unexpected shape: 'rnn2.weight_ih_l0'"},
      {"short_lstm_bias", "tokenizer tensor has an unexpected shape: 'rnn.bias_hh_l0_reverse'"},
      {"hidden_dim_disagrees", "tokenizer tensor has an unexpected shape: 'rnn.weight_ih_l0'"},
      {"hidden_dim_zero", "tokenizer hidden_dim must be positive"},
      {"flat_embedding", "tokenizer tensor has an unexpected shape: 'embeddings.weight'"},
  };
  return cases;
}

class TokenizerBundleLoading : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { at::set_num_threads(1); }
  void SetUp() override {
    ASSERT_TRUE(TokenizerTestData::complete()) << "writing the tokenizer test data failed";
    dir_ = TokenizerTestData::dir() / "bundles";
  }

  std::filesystem::path dir_;
};

TEST_F(TokenizerBundleLoading, AcceptsTheProfileAndRefusesEverythingElseWithItsMessage) {
  for (const auto& test : load_cases()) {
    try {
      velmora::TokenizerPlan plan(dir_ / test.name, false);
      EXPECT_STREQ(test.error, "") << test.name << " loaded";
      // A bundle that should have been refused shows what running it does.
      if (*test.error != '\0') plan.predict_labels("Hi there. Bye now.");
    } catch (const velmora::TokenizerModelError& error) {
      EXPECT_EQ(std::string(error.what()), test.error) << test.name;
    } catch (const std::exception& error) {
      ADD_FAILURE() << test.name << " failed with another error: " << error.what();
    }
  }
}

TEST_F(TokenizerBundleLoading, ReadsTheConfigurationIntoTheModelState) {
  const auto base = velmora::detail::load_tokenizer_model(dir_ / "base", true);
  EXPECT_EQ(base->batch_size, 32);
  EXPECT_TRUE(base->use_mwt);
  EXPECT_TRUE(base->use_dictionary);
  EXPECT_EQ(base->num_dict_feat, 2);
  EXPECT_EQ(base->feat_funcs.size(), 9U);
  EXPECT_EQ(base->rnn_parameters.size(), 8U);
  EXPECT_EQ(base->initial_state.at(1).sizes(), (std::vector<std::int64_t>{2, 1, base->hidden_dim}));
  EXPECT_TRUE(base->lexicon_words.contains("don't"));
  EXPECT_TRUE(base->lexicon_prefixes.contains("caf"));
  EXPECT_TRUE(base->lexicon_suffixes.contains("\xC3\xA9"));  // the last unit of "café"
  EXPECT_FALSE(base->lexicon_words.contains("a"));           // one-unit entries add nothing
  // Weights are views over the mapped file, not copies.
  const auto& bundle = *base->bundle;
  EXPECT_EQ(static_cast<const void*>(base->weight("tok_clf.bias").data_ptr()),
            static_cast<const void*>(bundle.tensor_data("tok_clf.bias")));
  EXPECT_THROW(base->weight("nope"), velmora::TokenizerModelError);

  EXPECT_EQ(velmora::detail::load_tokenizer_model(dir_ / "no_batch_size", false)->batch_size, 32);
  EXPECT_DOUBLE_EQ(velmora::detail::load_tokenizer_model(dir_ / "integer_invtemp", false)->hier_invtemp, 1.0);
  const auto plain = velmora::detail::load_tokenizer_model(dir_ / "dictionary_off_ignores_its_keys", false);
  EXPECT_EQ(plain->num_dict_feat, 0);
  EXPECT_TRUE(plain->lexicon_words.empty());
}

TEST_F(TokenizerBundleLoading, OperationsOnTextsWithoutParagraphsAndOnSeveralParagraphs) {
  const velmora::TokenizerPlan plan(dir_ / "base", false);
  EXPECT_TRUE(plan.predict_labels("").empty());
  EXPECT_TRUE(plan.predict_labels(" \n\t\n").empty());
  const auto labels = plan.predict_labels("hello world!");
  ASSERT_EQ(labels.size(), 12U);
  EXPECT_TRUE(labels.back() == 2 || labels.back() == 4);
  EXPECT_EQ(plan.predict_labels("a\nb").size(), 3U);
  try {
    plan.predict_labels("a\n\nb");
    ADD_FAILURE() << "two paragraphs accepted";
  } catch (const velmora::TokenizerModelError& error) {
    EXPECT_STREQ(error.what(), "predict_labels expects text containing one tokenizer paragraph");
  }
  EXPECT_THROW(plan.predict_labels("ab\xC3"), velmora::TokenizerModelError);

  velmora::Document input(" \n\n\t");
  input.set_lang("fr");
  const velmora::Document output = plan.process(input);
  EXPECT_FALSE(output.same_storage(input));
  EXPECT_EQ(output.text(), input.text());
  EXPECT_EQ(output.sentences().size(), 0U);
  EXPECT_EQ(output.lang(), std::optional<std::string>("en"));
  EXPECT_EQ(input.lang(), std::optional<std::string>("fr"));

  EXPECT_TRUE(plan.process_bulk({}).empty());
  const auto bulk = plan.process_bulk({velmora::Document(""), velmora::Document("One two.\n\nThree four.")});
  ASSERT_EQ(bulk.size(), 2U);
  EXPECT_EQ(bulk[0].sentences().size(), 0U);
  EXPECT_GE(bulk[1].sentences().size(), 2U);  // a sentence never crosses a paragraph break
  EXPECT_EQ(bulk[1].lang(), std::optional<std::string>("en"));
}

TEST_F(TokenizerBundleLoading, FeatureWidthIsCheckedOnTheFirstParagraph) {
  const velmora::TokenizerPlan plan(dir_ / "wrong_feature_width", false);
  EXPECT_TRUE(plan.predict_labels("").empty());
  try {
    plan.predict_labels("a");
    ADD_FAILURE() << "a paragraph ran with the wrong feature width";
  } catch (const velmora::TokenizerModelError& error) {
    EXPECT_STREQ(error.what(), "tokenizer feature dimension does not match feat_funcs");
  }
}

TEST_F(TokenizerBundleLoading, HugeBatchSizeOnlyBoundsTheBatches) {
  const velmora::TokenizerPlan huge(dir_ / "huge_batch", false);
  const velmora::TokenizerPlan base(dir_ / "base", false);
  const std::vector<velmora::Document> documents = {velmora::Document("One. Two.\n\nThree"), velmora::Document("Four")};
  const auto expected = base.process_bulk(documents);
  const auto bulk = huge.process_bulk(documents);
  ASSERT_EQ(bulk.size(), 2U);
  for (std::size_t k = 0; k < bulk.size(); ++k) EXPECT_EQ(format_document(bulk[k]), format_document(expected[k]));
}

TEST_F(TokenizerBundleLoading, WithoutMultiWordClassifiersNoMultiWordLabelOccurs) {
  const velmora::TokenizerPlan plan(dir_ / "no_mwt_tensors", false);
  std::string text;
  for (int k = 0; k < 40; ++k) text += "The quick brown Fox can't jump over 12 lazy dogs, e-mail me. ";
  for (const auto label : plan.predict_labels(text)) EXPECT_LE(label, 2);
}

TEST_F(TokenizerBundleLoading, LongAmountsAndAddressesAreTokenizedWithoutCrashing) {
  // std::regex overflows the stack on either text (it recurses about once per character).
  const velmora::TokenizerPlan plan(dir_ / "base", false);
  std::string amount(60001, '7');
  amount[0] = '$';
  EXPECT_EQ(plan.predict_labels(amount).size(), amount.size());
  std::string mail;
  for (int k = 0; k < 12000; ++k) mail += "ab.";
  mail += "x@example.com";
  const velmora::Document document = plan.process(velmora::Document(mail));
  ASSERT_EQ(document.tokens().size(), 1U);  // the whole address is one token
  EXPECT_EQ(document.tokens().at(0).text(), "<UNK>");
  EXPECT_EQ(document.tokens().at(0).end_char(), mail.size());
}

TEST_F(TokenizerBundleLoading, MovedPlanKeepsWorking) {
  velmora::TokenizerPlan first(dir_ / "base", false);
  const auto expected = first.predict_labels("Moving plans around.");
  velmora::TokenizerPlan second(std::move(first));
  EXPECT_EQ(second.predict_labels("Moving plans around."), expected);
  velmora::TokenizerPlan third(dir_ / "no_mwt_tensors", false);
  third = std::move(second);
  EXPECT_EQ(third.predict_labels("Moving plans around."), expected);
}

}  // namespace
