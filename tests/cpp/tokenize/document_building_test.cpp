// From labels to a document: tokens, sentences, multi-word marks, offsets, the whitespace
// between tokens, the la_ittb and zh/ja/ko rules and the consistency checks.

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include "tokenize/document_builder.hpp"
#include "tokenize/model_loading.hpp"
#include "test_support.hpp"

namespace {

using namespace tokenizer_test;
using velmora::Document;
using velmora::detail::build_tokenized_document;
using velmora::detail::split_tokenizer_paragraphs;

class TokenizerDocumentBuilding : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (TokenizerTestData::complete()) {
      state_ = velmora::detail::load_tokenizer_model(TokenizerTestData::dir() / "bundles" / "language_xx", false);
    }
  }
  static void TearDownTestSuite() { state_.reset(); }
  void SetUp() override {
    ASSERT_NE(state_, nullptr) << "writing the tokenizer test data failed";
    state_->shorthand = "en_test";
    state_->lang = "en";
  }

  // Builds the document of `text` from one label string per paragraph.
  static Document build(const std::string& text, const std::vector<std::string>& labels, bool skip_newline = false) {
    const auto paragraphs = split_tokenizer_paragraphs(text, skip_newline);
    std::vector<std::vector<std::int64_t>> values;
    for (const auto& digits : labels) {
      values.emplace_back();
      for (char c : digits) values.back().push_back(c - '0');
    }
    return build_tokenized_document(*state_, Document(text), paragraphs, values);
  }

  static inline std::unique_ptr<velmora::TokenizerPlan::Impl> state_;
};

TEST_F(TokenizerDocumentBuilding, LabelsCutTokensAndSentences) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> labels;
    std::string expected;  // format_document
  };
  const std::vector<Case> cases = {
      {"no paragraphs", " \n\t", {}, ""},
      {"lone space unit is no token", "\u0081", {"2"}, ""},
      {"space-only token ends nothing", "ab c", {"1122"}, "S\n1\ta\t0\t1\t_\t\t\n2\tb\t1\t2\t_\t\t \n3\tc\t3\t4\t_\t\t\n"},
      {"sentence end on a space unit ends none", "ab c", {"1122"}, "S\n1\ta\t0\t1\t_\t\t\n2\tb\t1\t2\t_\t\t \n3\tc\t3\t4\t_\t\t\n"},
      {"trailing space stays in the text", "ab cd", {"00102"}, "S\n1\tab \t0\t2\t_\t\t \n2\tcd\t3\t5\t_\t\t\n"},
      {"multi-word token", "du x", {"0302"}, "S\n1\tdu\t0\t2\tMWT=Yes\t\t \n2\tx\t3\t4\t_\t\t\n"},
      {"multi-word token ending a sentence", "du x", {"0402"},
       "S\n1\tdu\t0\t2\tMWT=Yes\t\t \nS\n1\tx\t3\t4\t_\t\t\n"},
      {"sentence end restarts ids", "a. b.", {"12012"},
       "S\n1\ta\t0\t1\t_\t\t\n2\t.\t1\t2\t_\t\t \nS\n1\tb\t3\t4\t_\t\t\n2\t.\t4\t5\t_\t\t\n"},
      {"paragraphs never share a sentence", "  a b\n\n c  ", {"1011", "02"},
       "S\n1\ta \t2\t3\t_\t  \t \n2\tb\t4\t5\t_\t\t\\n\\n \nS\n1\tc\t8\t9\t_\t\t  \n"},
  };
  for (const auto& test : cases) {
    const Document document = build(test.text, test.labels);
    EXPECT_EQ(format_document(document), test.expected) << test.name;
    EXPECT_EQ(document.text(), test.text);
    EXPECT_EQ(document.lang(), std::optional<std::string>("xx")) << test.name;
  }
}

TEST_F(TokenizerDocumentBuilding, LatinColonsAndSemicolonsAlwaysEndASentence) {
  state_->shorthand = "la_ittb";
  EXPECT_EQ(format_document(build("a:b;c", {"00032"})),
            "S\n1\ta:\t0\t2\t_\t\t\nS\n1\tb;\t2\t4\t_\t\t\nS\n1\tc\t4\t5\t_\t\t\n");
  state_->shorthand = "en_test";
  EXPECT_EQ(format_document(build("a:b;c", {"00032"})), "S\n1\ta:b;\t0\t4\tMWT=Yes\t\t\n2\tc\t4\t5\t_\t\t\n");
}

TEST_F(TokenizerDocumentBuilding, LanguagesWithoutSpacesDropThemInsideTokens) {
  for (const char* lang : {"zh", "ja", "ko", "zh-hant"}) {
    state_->lang = lang;
    EXPECT_EQ(format_document(build("ab cd", {"00002"})), "S\n1\tabcd\t0\t5\t_\t\t\n") << lang;
  }
  state_->lang = "z";
  EXPECT_EQ(format_document(build("ab cd", {"00002"})), "S\n1\tab cd\t0\t5\t_\t\t\n");
}

TEST_F(TokenizerDocumentBuilding, TokensOfMoreThanAThousandUnitsReadUnknown) {
  for (const std::size_t length : {1000U, 1001U}) {
    const std::string text = " " + std::string(length, 'x') + " y";
    const Document document = build(text, {"0" + std::string(length - 1, '0') + "1" + "02"});
    const auto tokens = document.tokens();
    ASSERT_EQ(tokens.size(), 2U);
    EXPECT_EQ(tokens.at(0).text(), length > 1000 ? "<UNK>" : std::string(length, 'x'));
    EXPECT_EQ(tokens.at(0).start_char(), 1U);
    EXPECT_EQ(tokens.at(0).end_char(), length + 1);
    EXPECT_EQ(tokens.at(0).spaces_before(), " ");
  }
}

TEST_F(TokenizerDocumentBuilding, RefusesLabelsThatDoNotFitTheParagraphs) {
  const std::vector<std::pair<std::vector<std::string>, const char*>> cases = {
      {{}, "tokenizer paragraph and prediction counts disagree"},
      {{"12", "2"}, "tokenizer paragraph and prediction counts disagree"},
      {{"1"}, "tokenizer paragraph and prediction counts disagree"},
      {{"10"}, "tokenizer prediction left an unfinished token"},
  };
  for (const auto& [labels, message] : cases) {
    try {
      build("ab", labels);
      ADD_FAILURE() << message;
    } catch (const velmora::TokenizerModelError& error) {
      EXPECT_STREQ(error.what(), message);
    }
  }
}

}  // namespace
