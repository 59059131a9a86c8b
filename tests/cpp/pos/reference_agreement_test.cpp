// The tagger agrees with the PyTorch reference for every bundle configuration: the encoder's
// rows, and the tags of each sentence whether tagged alone, in batches or through documents.

#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <c10/core/InferenceMode.h>

#include <string>
#include <vector>

#include "pos/model_state.hpp"
#include "pos/test_support.hpp"
#include "support/raw_tensor.hpp"

namespace {

using pos_test::Expected;

class ReferenceAgreement : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { POS_REQUIRE_TEST_DATA(); }
  std::filesystem::path bundle() const { return pos_test::data_dir() / "agreement" / GetParam(); }
};

TEST_P(ReferenceAgreement, EncoderRowsMatchAloneAndBatched) {
  velmora::POSPlan::Impl state;
  velmora::detail::load_pos_model(state, bundle(), true);
  const Expected expected("agreement");
  c10::InferenceMode guard;
  std::vector<at::Tensor> forward;
  std::vector<at::Tensor> backward;
  if (state.uses_charlm) {
    forward = state.forward_charlm->encode_many(expected.sentences);
    backward = state.backward_charlm->encode_many(expected.sentences);
  }
  const std::vector<at::Tensor> batched =
      velmora::detail::pos_highway_lstm_forward_batch(state, expected.sentences, &forward, &backward);
  ASSERT_EQ(batched.size(), expected.sentences.size());
  for (std::size_t i = 0; i < expected.sentences.size(); ++i) {
    if (expected.sentences[i].empty()) {
      EXPECT_FALSE(batched[i].defined()) << "sentence " << i;
      continue;
    }
    const at::Tensor reference = velmora::testing::read_raw_tensor(bundle() / ("rows_" + std::to_string(i) + ".bin"));
    const at::Tensor alone = velmora::detail::pos_highway_lstm_forward(state, expected.sentences[i]);
    EXPECT_TRUE(at::allclose(alone, reference, 1e-4, 1e-5)) << "sentence " << i << " alone";
    EXPECT_TRUE(at::allclose(batched[i], reference, 1e-4, 1e-5)) << "sentence " << i << " batched";
  }
}

TEST_P(ReferenceAgreement, TagsMatchSentenceBySentence) {
  const velmora::POSPlan plan(bundle(), false);
  const Expected expected("agreement");
  for (std::size_t i = 0; i < expected.sentences.size(); ++i) {
    EXPECT_EQ(plan.tag(expected.sentences[i]), expected.of(GetParam(), i)) << "sentence " << i;
  }
}

TEST_P(ReferenceAgreement, DocumentsGetTheSameTagsAloneAndInBulk) {
  const velmora::POSPlan plan(bundle(), false);
  const Expected expected("agreement");
  std::vector<std::vector<velmora::POSTag>> reference;
  for (std::size_t i = 0; i < expected.sentences.size(); ++i) reference.push_back(expected.of(GetParam(), i));

  const velmora::Document one = plan.process(pos_test::document_of(expected.sentences));
  EXPECT_EQ(pos_test::stored_tags(one), reference);

  // Three documents: the first three sentences, none, and the rest.
  const pos_test::Sentences first(expected.sentences.begin(), expected.sentences.begin() + 3);
  const pos_test::Sentences rest(expected.sentences.begin() + 3, expected.sentences.end());
  const std::vector<velmora::Document> documents =
      plan.process_bulk({pos_test::document_of(first), pos_test::document_of({}), pos_test::document_of(rest)});
  ASSERT_EQ(documents.size(), 3u);
  std::vector<std::vector<velmora::POSTag>> bulk = pos_test::stored_tags(documents[0]);
  EXPECT_TRUE(pos_test::stored_tags(documents[1]).empty());
  for (auto& tags : pos_test::stored_tags(documents[2])) bulk.push_back(std::move(tags));
  EXPECT_EQ(bulk, reference);
}

INSTANTIATE_TEST_SUITE_P(Bundles, ReferenceAgreement,
                         ::testing::Values("character_model", "charlm_composite", "charlm_untransformed",
                                           "small_batches"));

}  // namespace
