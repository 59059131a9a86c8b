// The classifier heads turn class ids into labels: "no value" ids, ignore lists, composite
// separators, ties, empty vocabularies, and the checks of the batched path.

#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <c10/core/InferenceMode.h>

#include <string>
#include <vector>

#include "pos/model_state.hpp"
#include "pos/test_support.hpp"

namespace {

using velmora::POSTag;

struct Forced {
  std::string bundle;
  POSTag tag;  // what every word gets
};

TEST(POSClassifierHeads, ForcedIdsBecomeTheirLabels) {
  POS_REQUIRE_TEST_DATA();
  const std::vector<Forced> cases = {
      // UPOS label "_", plain XPOS id 2 with an ignore list, both features "no value".
      {"no_values", {"_", "_", "_"}},
      // UPOS id 0 is its label; XPOS id 2 without an ignore list is the label at id 2.
      {"label_two", {"<PAD>", "<EMPTY>", "Case=Nom"}},
      // The middle component adds neither label nor separator.
      {"composite_gap", {"<UNK>", "N+y", "_"}},
      // Equal scores pick the lowest id everywhere.
      {"ties", {"<PAD>", "<PAD>", "Case=<PAD>|Number=<PAD>"}},
      {"nothing_to_predict", {"NOUN", "_", "_"}},
  };
  const pos_test::Expected expected("forced");
  for (const Forced& test : cases) {
    const velmora::POSPlan plan(pos_test::data_dir() / "forced" / test.bundle, false);
    const std::vector<POSTag> tags = plan.tag(expected.sentences[2]);
    EXPECT_EQ(tags, std::vector<POSTag>(expected.sentences[2].size(), test.tag)) << test.bundle;
    // The reference agrees.
    EXPECT_EQ(tags, expected.of(test.bundle, 2)) << test.bundle;
  }
}

TEST(POSClassifierHeads, UnderscoreFieldsClearTheWordsFields) {
  POS_REQUIRE_TEST_DATA();
  const velmora::POSPlan plan(pos_test::data_dir() / "forced" / "no_values", false);
  velmora::Document document = pos_test::document_of({{"the", "cat"}});
  velmora::Word word = document.sentences().at(0).words().at(1);
  word.set_upos("NOUN");
  word.set_xpos("NN");
  word.set_feats("Number=Sing");
  plan.process(document);
  EXPECT_FALSE(word.upos().has_value());
  EXPECT_FALSE(word.xpos().has_value());
  EXPECT_FALSE(word.feats().has_value());
}

class POSBatchChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    POS_REQUIRE_TEST_DATA();
    velmora::detail::load_pos_model(state_, pos_test::data_dir() / "agreement" / "character_model", false);
  }
  velmora::POSPlan::Impl state_;
  c10::InferenceMode guard_;
};

TEST_F(POSBatchChecks, EmptySentencesGetEmptyTagListsAmongOthers) {
  const pos_test::Sentences sentences = {{"the", "cat"}, {}, {"dog"}};
  const auto encoded = velmora::detail::pos_highway_lstm_forward_batch(state_, sentences, nullptr, nullptr);
  const auto tags = velmora::detail::pos_predict_batch(state_, encoded, sentences);
  ASSERT_EQ(tags.size(), 3u);
  EXPECT_EQ(tags[0], velmora::detail::pos_tag_sentence(state_, sentences[0]));
  EXPECT_TRUE(tags[1].empty());
  EXPECT_EQ(tags[2], velmora::detail::pos_tag_sentence(state_, sentences[2]));
}

TEST_F(POSBatchChecks, RefusesEncodedRowsThatDoNotFitTheSentences) {
  const pos_test::Sentences sentences = {{"the", "cat"}, {"dog"}};
  const auto encoded = velmora::detail::pos_highway_lstm_forward_batch(state_, sentences, nullptr, nullptr);
  const auto message_of = [&](const std::vector<at::Tensor>& rows) -> std::string {
    try {
      velmora::detail::pos_predict_batch(state_, rows, sentences);
    } catch (const velmora::POSModelError& error) {
      return error.what();
    }
    return "accepted";
  };
  EXPECT_EQ(message_of({encoded[0]}), "POS encoded and sentence batches must have equal lengths");
  EXPECT_EQ(message_of({encoded[0].narrow(0, 0, 1), encoded[1]}),
            "POS encoded sentence length does not match its words");
  EXPECT_EQ(message_of({encoded[0], at::Tensor()}), "POS encoded sentence length does not match its words");
}

TEST_F(POSBatchChecks, OnlyEmptySentencesRunNothing) {
  const pos_test::Sentences sentences = {{}, {}};
  const auto encoded = velmora::detail::pos_highway_lstm_forward_batch(state_, sentences, nullptr, nullptr);
  ASSERT_EQ(encoded.size(), 2u);
  EXPECT_FALSE(encoded[0].defined());
  EXPECT_FALSE(encoded[1].defined());
  const auto tags = velmora::detail::pos_predict_batch(state_, encoded, sentences);
  EXPECT_TRUE(tags[0].empty() && tags[1].empty());
}

TEST_F(POSBatchChecks, WordAndTagCountsMustAgreeBeforeAnythingIsWritten) {
  velmora::Document document = pos_test::document_of({{"the", "cat"}});
  const velmora::WordSequence words = document.sentences().at(0).words();
  try {
    velmora::detail::write_pos_tags(words, {POSTag{"DET", "DT", "_"}});
    ADD_FAILURE() << "accepted";
  } catch (const velmora::POSModelError& error) {
    EXPECT_STREQ(error.what(), "POS word and tag counts disagree");
  }
  EXPECT_FALSE(words.at(0).upos().has_value());
}

}  // namespace
