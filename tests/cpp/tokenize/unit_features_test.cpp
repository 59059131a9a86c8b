// Unit features: column groups and their order, the simple features, the pattern features
// and the lexicon windows.

#include <gtest/gtest.h>

#include "tokenize/features.hpp"
#include "velmora/errors.hpp"

namespace {

using velmora::TokenizerPlan;
using velmora::detail::split_tokenizer_paragraphs;
using velmora::detail::tokenizer_unit_features;

TokenizerPlan::Impl state_with(std::vector<std::string> feat_funcs, std::int64_t feat_dim) {
  TokenizerPlan::Impl state;
  state.feat_funcs = std::move(feat_funcs);
  state.feat_dim = feat_dim;
  return state;
}

// Column c of every row, as a string of 0 and 1.
std::string column(const std::vector<float>& features, std::size_t width, std::size_t c) {
  std::string out;
  for (std::size_t row = 0; row * width < features.size(); ++row) out += features[row * width + c] == 1.0F ? '1' : '0';
  return out;
}

std::vector<float> features_of(const TokenizerPlan::Impl& state, std::string_view text) {
  const auto paragraphs = split_tokenizer_paragraphs(text, false);
  EXPECT_EQ(paragraphs.size(), 1U);
  return tokenizer_unit_features(state, paragraphs.at(0));
}

TEST(TokenizerUnitFeatures, SimpleFeaturesFirstThenPatternsInFixedOrder) {
  const auto state = state_with({"currency", "numeric", "labeled_field", "space_before"}, 4);
  const auto features = features_of(state, "Pay: $5 x");
  //                                       P a y : ␣ $ 5 ␣ x
  EXPECT_EQ(column(features, 4, 0), "000000100");  // numeric
  EXPECT_EQ(column(features, 4, 1), "000010010");  // space_before marks the space unit itself
  EXPECT_EQ(column(features, 4, 2), "111100000");  // labeled_field
  EXPECT_EQ(column(features, 4, 3), "000001100");  // currency
}

TEST(TokenizerUnitFeatures, ParagraphEdgesAndCapitals) {
  const auto state = state_with({"start_of_para", "capitalized", "end_of_para"}, 3);
  const auto features = features_of(state, "Ab C\xC3\x89");
  EXPECT_EQ(column(features, 3, 0), "10011");  // capitalized (É included)
  EXPECT_EQ(column(features, 3, 1), "00001");  // end of paragraph
  EXPECT_EQ(column(features, 3, 2), "10000");  // start of paragraph
  const auto single = features_of(state, "x");
  EXPECT_EQ(single, (std::vector<float>{0.0F, 1.0F, 1.0F}));
}

TEST(TokenizerUnitFeatures, DecimalDigitsOfEveryScript) {
  const std::vector<std::pair<std::uint32_t, bool>> cases = {
      {'0', true},    {'9', true},     {0x0663, true},  {0xFF15, true},   {0x11F50, true},  {0x1E4F9, true},
      {0x1D7CE, true}, {0x1FBF9, true}, {0x00B2, false}, {0x2160, false}, {0x10D40, false}, {'a', false},
  };
  for (const auto& [code_point, digit] : cases) {
    EXPECT_EQ(velmora::detail::is_decimal_digit(code_point), digit) << std::hex << code_point;
  }
}

TEST(TokenizerUnitFeatures, PatternsMarkTheUnitsTheyCover) {
  struct Case {
    const char* feature;
    const char* text;
    const char* marks;
  };
  const std::vector<Case> cases = {
      {"phone_id", "Call (555) 123-4567 now", "00000111111111111110000"},
      {"labeled_field", "Name: Jo", "11111000"},
      {"date_pattern", "on March 3, 2020", "0001111111111111"},
      {"currency", "costs $1,200.50", "000000111111111"},
  };
  for (const auto& test : cases) {
    const auto state = state_with({test.feature}, 1);
    EXPECT_EQ(column(features_of(state, test.text), 1, 0), test.marks) << test.feature << " on " << test.text;
  }
  // Multi-byte units before a match shift bytes but not units.
  const auto state = state_with({"currency"}, 1);
  EXPECT_EQ(column(features_of(state, "caf\xC3\xA9 $3"), 1, 0), "0000011");
}

TEST(TokenizerUnitFeatures, LexiconWindowsGrowWhileAWordCanStillBeSpelled) {
  auto state = state_with({}, 6);
  state.use_dictionary = true;
  state.num_dict_feat = 3;
  velmora::detail::add_lexicon_entry(state, "abc");
  velmora::detail::add_lexicon_entry(state, "x");  // too short to count
  EXPECT_EQ(state.lexicon_prefixes, (velmora::detail::StringSet{"a", "ab"}));
  EXPECT_EQ(state.lexicon_suffixes, (velmora::detail::StringSet{"c", "bc"}));

  // Columns: forward 1..3, backward 1..3.
  const auto features = features_of(state, "abc");
  const std::vector<float> expected = {0, 1, 0, 0, 0, 0,   // a: "ab" is no word, "abc" is
                                       0, 0, 0, 0, 0, 0,   // b: "bc" no prefix, "ab" no suffix
                                       0, 0, 0, 0, 1, 0};  // c: "abc" backwards at window 2
  EXPECT_EQ(features, expected);

  // The unit's own text is used as it stands; its neighbours are lower-cased.
  const auto capital = features_of(state, "Abc");
  EXPECT_EQ(std::vector<float>(capital.begin(), capital.begin() + 6), std::vector<float>(6, 0.0F));
  EXPECT_EQ(capital[12 + 4], 1.0F);
}

TEST(TokenizerUnitFeatures, WidthMustMatchTheDeclaredFeatureDimension) {
  const auto state = state_with({"space_before", "numeric"}, 3);
  try {
    features_of(state, "ab");
    ADD_FAILURE() << "accepted a wrong feature width";
  } catch (const velmora::TokenizerModelError& error) {
    EXPECT_STREQ(error.what(), "tokenizer feature dimension does not match feat_funcs");
  }
}

}  // namespace
