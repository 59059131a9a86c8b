// A bundle with transformer features: the encoder's word vectors widen the input rows without
// projection, and the tags agree with the PyTorch reference.

#include <gtest/gtest.h>

#include <c10/core/InferenceMode.h>

#include "pos/model_state.hpp"
#include "pos/test_support.hpp"

namespace {

class TransformerFeatures : public ::testing::Test {
 protected:
  void SetUp() override {
    POS_REQUIRE_TEST_DATA();
    if (!std::filesystem::exists(pos_test::data_dir() / "transformer" / "bundle")) {
      GTEST_SKIP() << "the compiled test encoder was not available to the data writer";
    }
  }
  static std::filesystem::path bundle() { return pos_test::data_dir() / "transformer" / "bundle"; }
};

TEST_F(TransformerFeatures, TagsMatchTheReference) {
  const velmora::POSPlan plan(bundle(), true);
  const pos_test::Expected expected("transformer");
  for (std::size_t i = 0; i < expected.sentences.size(); ++i) {
    EXPECT_EQ(plan.tag(expected.sentences[i]), expected.of("bundle", i)) << "sentence " << i;
  }
  const velmora::Document document = plan.process_bulk({pos_test::document_of(expected.sentences)})[0];
  for (std::size_t i = 0; i < expected.sentences.size(); ++i) {
    EXPECT_EQ(pos_test::stored_tags(document)[i], expected.of("bundle", i)) << "sentence " << i << " in bulk";
  }
}

TEST_F(TransformerFeatures, EncoderRowsEndTheInputRowsUnprojected) {
  velmora::POSPlan::Impl state;
  velmora::detail::load_pos_model(state, bundle(), false);
  ASSERT_TRUE(state.uses_transformer);
  c10::InferenceMode guard;
  const std::vector<std::string> words = {"the", "cat", "running"};
  const at::Tensor rows = velmora::detail::pos_embed_words(state, words);
  const std::int64_t width = state.transformer->hidden_size();
  EXPECT_EQ(rows.size(2), velmora::detail::pos_input_size(state));
  EXPECT_EQ(velmora::detail::pos_input_size(state), 6 + 4 + 4 + width);
  const at::Tensor encoded = state.transformer->encode(words, false);
  EXPECT_TRUE(rows[0].narrow(1, rows.size(2) - width, width).equal(encoded));
}

}  // namespace
