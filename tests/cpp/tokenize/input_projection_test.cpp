// The first layer's input projections gathered from per-unit and per-feature tables give the
// labels of the projections multiplied out from [embedding | features], in the windowed and in
// the batched prediction.

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include "tokenize/model_loading.hpp"
#include "tokenize/network.hpp"
#include "tokenize/units.hpp"
#include "test_support.hpp"

namespace {

using namespace tokenizer_test;
using velmora::detail::TokenizerParagraph;

std::vector<TokenizerParagraph> sample_paragraphs() {
  std::string long_text;
  for (int k = 0; k < 30; ++k) long_text += "Call 555-123-4567 on 3/4/2020, pay $12.50 and e-mail Jo@example.com now. ";
  const std::string text = "The quick brown Fox can't jump.\n\nMr. Smith paid $1,200 on March 3, 2020.\n\n"
                           "Grüße aus Köln! 東京は晴れ。\n\nName: Jo\nDate: 3/4/2020\n\n" + long_text;
  return velmora::detail::split_tokenizer_paragraphs(text, false);
}

struct Labels {
  std::vector<std::vector<std::int64_t>> single;
  std::vector<std::vector<std::int64_t>> batched;
};

Labels predict(const velmora::TokenizerPlan::Impl& state, const std::vector<TokenizerParagraph>& paragraphs) {
  Labels labels;
  std::vector<const TokenizerParagraph*> batch;
  for (const auto& paragraph : paragraphs) {
    labels.single.push_back(velmora::detail::tokenizer_predict_labels(state, paragraph));
    batch.push_back(&paragraph);
  }
  labels.batched = velmora::detail::tokenizer_predict_labels_batched(state, batch);
  return labels;
}

TEST(TokenizerInputProjections, GatheredProjectionsGiveTheLabelsOfTheMultipliedInput) {
  at::set_num_threads(1);
  ASSERT_TRUE(TokenizerTestData::complete()) << "writing the tokenizer test data failed";
  const std::vector<TokenizerParagraph> paragraphs = sample_paragraphs();
  ASSERT_GT(paragraphs.back().size(), velmora::detail::kTokenizerWindow);  // several windows
  for (const char* bundle : {"base", "dictionary_off_ignores_its_keys", "no_mwt_tensors"}) {
    SCOPED_TRACE(bundle);
    auto state = velmora::detail::load_tokenizer_model(TokenizerTestData::dir() / "bundles" / bundle, false);
    ASSERT_TRUE(state->unit_projections.defined());
    EXPECT_EQ(state->unit_projections.size(0), state->weight("embeddings.weight").size(0));
    EXPECT_EQ(state->feature_projections.size(0), state->feat_dim);
    const Labels gathered = predict(*state, paragraphs);

    state->unit_projections = at::Tensor();  // as for a vocabulary too large for the table
    state->feature_projections = at::Tensor();
    const Labels multiplied = predict(*state, paragraphs);
    EXPECT_EQ(gathered.single, multiplied.single);
    EXPECT_EQ(gathered.batched, multiplied.batched);
    for (std::size_t k = 0; k + 1 < paragraphs.size(); ++k) {  // the last one exceeds one window
      EXPECT_EQ(gathered.single[k], gathered.batched[k]) << "paragraph " << k;
    }
  }
}

}  // namespace
