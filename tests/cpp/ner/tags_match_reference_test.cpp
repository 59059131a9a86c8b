// Every test bundle variant tags like the PyTorch reference: the tagger BiLSTM rows agree within
// float tolerance and the decoded, repaired tags agree exactly, through tag() and process().

#include <gtest/gtest.h>

#include <c10/core/InferenceMode.h>

#include "ner/model_state.hpp"
#include "test_support.hpp"
#include "support/raw_tensor.hpp"
#include "velmora/ner.hpp"

namespace {

class NERVariant : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ner_test::require_data();
    const auto expected = velmora::detail::load_json(ner_test::data_dir() / "expected" / (GetParam() + ".json"));
    sentences_ = ner_test::read_string_lists(expected.at("sentences", ""));
    tags_ = ner_test::read_string_lists(expected.at("tags", ""));
  }

  velmora::NERPlan load() const { return velmora::NERPlan(ner_test::data_dir() / "variants" / GetParam(), true); }

  ner_test::Sentences sentences_;
  ner_test::Sentences tags_;
};

TEST_P(NERVariant, TaggerRowsMatchTheReference) {
  velmora::NERPlan::Impl state;
  velmora::detail::load_ner_model(state, ner_test::data_dir() / "variants" / GetParam(), false);
  c10::InferenceMode inference;
  for (std::size_t i = 0; i < sentences_.size(); ++i) {
    SCOPED_TRACE("sentence " + std::to_string(i));
    const at::Tensor rows = velmora::detail::run_ner_tagger_lstm(state, sentences_[i]);
    const at::Tensor expected =
        velmora::testing::read_raw_tensor(ner_test::data_dir() / "expected" / GetParam() / (std::to_string(i) + ".bin"));
    ASSERT_EQ(rows.sizes(), expected.sizes());
    EXPECT_TRUE(at::allclose(rows.to(at::kFloat), expected, 1e-4, 1e-5))
        << "largest difference " << (rows.to(at::kFloat) - expected).abs().max().item<float>();
  }
}

TEST_P(NERVariant, TagsMatchTheReference) {
  const velmora::NERPlan plan = load();
  for (std::size_t i = 0; i < sentences_.size(); ++i) {
    SCOPED_TRACE("sentence " + std::to_string(i));
    EXPECT_EQ(plan.tag(sentences_[i]), tags_[i]);
  }
}

TEST_P(NERVariant, ProcessWritesTheReferenceTagsAndSpans) {
  const velmora::NERPlan plan = load();
  velmora::Document document = ner_test::document_of(sentences_);
  const velmora::Document result = plan.process(document);
  ASSERT_TRUE(result.same_storage(document));
  std::size_t spans = 0;
  for (std::size_t s = 0; s < sentences_.size(); ++s) {
    const velmora::TokenSequence tokens = document.sentences().at(static_cast<long>(s)).tokens();
    for (std::size_t t = 0; t < tokens.size(); ++t) {
      const velmora::Token token = tokens.at(static_cast<long>(t));
      EXPECT_EQ(token.ner(), tags_[s][t]);
      EXPECT_EQ(token.multi_ner(), std::vector<std::string>{tags_[s][t]});
    }
    for (const std::string& tag : tags_[s]) spans += tag[0] == 'S' || tag[0] == 'B';
  }
  const velmora::SpanSequence entities = document.ents();
  ASSERT_EQ(entities.size(), spans);
  for (std::size_t e = 0; e < entities.size(); ++e) {
    const velmora::Span span = entities.at(static_cast<long>(e));
    const velmora::TokenSequence tokens = span.tokens();
    const std::string first = tokens.at(0).ner().value();
    EXPECT_EQ(span.type(), first.substr(2));
    EXPECT_TRUE(first[0] == 'S' ? tokens.size() == 1 : tokens.size() >= 2) << first;
  }
}

INSTANTIATE_TEST_SUITE_P(Bundles, NERVariant,
                         ::testing::Values("char_lstm", "chained_transform", "unchained_third_set", "charlm",
                                           "float64", "transformer"));

}  // namespace
