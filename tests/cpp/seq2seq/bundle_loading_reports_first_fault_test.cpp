// Loading seq2seq, MWT and lemma bundles: each bundle that differs from a valid one in one
// respect is refused with its own message, in loading order, or accepted where it should be.

#include <velmora/lemma.hpp>
#include <velmora/model_bundle.hpp>
#include <velmora/mwt.hpp>
#include <velmora/seq2seq.hpp>

#include <functional>

#include "seq2seq/test_support.hpp"

namespace velmora {
namespace {

using namespace seq2seq_test;

// "" when loading succeeds, else the error kind and message.
template <class Plan>
std::string load_outcome(const std::string& variant) {
  try {
    Plan plan(TestData::load_variant(variant), false);
    return "";
  } catch (const Seq2SeqModelError& error) {
    return std::string("seq2seq: ") + error.what();
  } catch (const MWTModelError& error) {
    return std::string("mwt: ") + error.what();
  } catch (const LemmaModelError& error) {
    return std::string("lemma: ") + error.what();
  } catch (const std::exception& error) {
    return std::string("other: ") + error.what();
  }
}

struct Case {
  std::string variant;
  std::string outcome;
};

TEST(Seq2SeqLoading, EachFaultHasItsMessage) {
  const std::vector<Case> cases = {
      {"valid", ""},
      {"pos_processor", "seq2seq: expected a lemma or MWT bundle, got 'pos'"},
      {"no_vocab_size", "seq2seq: invalid seq2seq dimensions in assets.config"},
      {"odd_hidden", "seq2seq: invalid seq2seq dimensions in assets.config"},
      {"zero_beam", "seq2seq: invalid seq2seq dimensions in assets.config"},
      {"null_beam", ""},
      {"capital_soft", "seq2seq: native seq2seq inference currently supports soft attention"},
      {"no_attn_type", "seq2seq: missing JSON key 'attn_type' at assets.config"},
      {"charlm_true", "seq2seq: contextual character-LM seq2seq bundles are unsupported"},
      {"charlm_string", "seq2seq: expected JSON boolean at assets.config.charlm"},
      {"pos_without_dim", "seq2seq: the seq2seq config enables POS without a POS vocabulary"},
      {"swapped_specials", "seq2seq: assets.vocab must begin with <PAD>, <UNK>, <SOS>, <EOS>"},
      {"null_char_vocab", "seq2seq: expected JSON object at assets.vocab.char"},
      {"vocab_before_config", "seq2seq: assets.vocab must begin with <PAD>, <UNK>, <SOS>, <EOS>"},
      {"type_before_attention", "seq2seq: expected JSON integer at assets.config.vocab_size"},
      {"copy_without_gate", "seq2seq: missing seq2seq tensor: 'copy_gate.weight'"},
      {"two_layers_missing", "seq2seq: missing seq2seq tensor: 'encoder.bias_hh_l1_reverse'"},
      {"one_layer_extra", ""},
      {"odd_dtype", "seq2seq: ATen view does not support bundle dtype: uint16"},
      {"half_extra", ""},
      {"bad_pos_vocab_unused", "seq2seq: assets.vocab.pos must begin with <PAD>, <UNK>, <SOS>, <EOS>"},
      {"unit_id_out_of_range", ""},
      // Tables shorter than the ids that index them are refused before any word reaches them.
      {"embedding_rows", "seq2seq: seq2seq tensor dimensions disagree with its vocabularies"},
      {"generator_bias", "seq2seq: seq2seq tensor dimensions disagree with its vocabularies"},
      {"pos_embedding_rows", "seq2seq: seq2seq tensor dimensions disagree with its vocabularies"},
      {"pos_id_past_table", "seq2seq: seq2seq tensor dimensions disagree with its vocabularies"},
  };
  for (const Case& c : cases) EXPECT_EQ(load_outcome<Seq2SeqPlan>(c.variant), c.outcome) << c.variant;
}

TEST(Seq2SeqLoading, ConfiguredValuesAreReported) {
  const Seq2SeqPlan beam_absent(TestData::load_variant("null_beam"), false);
  EXPECT_EQ(beam_absent.configured_beam_size(), 1);
  EXPECT_FALSE(beam_absent.uses_pos());
  const Seq2SeqPlan beam(TestData::bundle("copy_beam"), false);
  EXPECT_EQ(beam.configured_beam_size(), 3);
  EXPECT_EQ(beam.bundle().processor(), "mwt");
  EXPECT_TRUE(Seq2SeqPlan(TestData::bundle("copy_pos_edit"), false).uses_pos());
}

TEST(MWTLoading, EachFaultHasItsMessage) {
  const std::vector<Case> cases = {
      {"mwt_valid", ""},
      {"mwt_lemma_processor", "mwt: expected an MWT bundle, got 'lemma'"},
      {"mwt_no_vocab_size", "mwt: missing JSON key 'vocab_size' at assets.config"},
      {"mwt_string_dict_only", "mwt: expected JSON boolean"},
      {"mwt_classifier_half", "mwt: MWT tensor dtype is unsupported: float16"},
      {"mwt_dict_only_half", ""},
      {"mwt_classifier_missing", "mwt: missing MWT tensor: 'encoder.bias_hh_l1_reverse'"},
      {"mwt_classifier_no_layers", "mwt: invalid MWT classifier dimensions in assets.config"},
      {"mwt_classifier_unit_id", "mwt: MWT classifier vocabulary ids exceed its embedding table"},
  };
  for (const Case& c : cases) EXPECT_EQ(load_outcome<MWTPlan>(c.variant), c.outcome) << c.variant;
}

TEST(LemmaLoading, EachFaultHasItsMessage) {
  const std::vector<Case> cases = {
      {"valid", ""},
      {"mwt_valid", "lemma: expected a lemma bundle, got 'mwt'"},
      {"lemma_string_caseless", "lemma: expected JSON boolean at assets.caseless"},
      {"lemma_null_caseless", ""},
      {"lemma_no_pos_dict", "lemma: missing JSON key 'pos_dict' at assets"},
      {"capital_soft", "seq2seq: native seq2seq inference currently supports soft attention"},
  };
  for (const Case& c : cases) EXPECT_EQ(load_outcome<LemmaPlan>(c.variant), c.outcome) << c.variant;
}

TEST(PlanMoves, AMovedPlanKeepsItsModel) {
  Seq2SeqPlan first(TestData::load_variant("valid"), false);
  const Seq2SeqPrediction before = first.predict("word", std::nullopt, std::nullopt, false);
  Seq2SeqPlan second(std::move(first));
  EXPECT_EQ(second.predict("word", std::nullopt, std::nullopt, false), before);
  Seq2SeqPlan third(TestData::bundle("copy_beam"), false);
  third = std::move(second);
  EXPECT_EQ(third.predict("word", std::nullopt, std::nullopt, false), before);

  MWTPlan mwt(TestData::load_variant("mwt_valid"), false);
  const std::string expansion = mwt.expand("Jazz");
  MWTPlan moved_mwt(std::move(mwt));
  EXPECT_EQ(moved_mwt.expand("Jazz"), expansion);
  LemmaPlan lemma(TestData::load_variant("valid"), false);
  const std::string lemma_before = lemma.lemmatize("running", std::nullopt);
  LemmaPlan moved_lemma(std::move(lemma));
  EXPECT_EQ(moved_lemma.lemmatize("running", std::nullopt), lemma_before);
}

}  // namespace
}  // namespace velmora
