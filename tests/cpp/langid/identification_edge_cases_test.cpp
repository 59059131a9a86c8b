// Identification of awkward inputs: empty lists and texts, malformed UTF-8, language subsets and
// tied scores.

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "velmora/langid.hpp"

namespace {

using velmora::LangIDModelError;
using velmora::LangIDPlan;
using Texts = std::vector<std::string>;

class LangIDEdgeCases : public ::testing::Test {
 protected:
  void SetUp() override {
    LANGID_REQUIRE_DATA();
    plan_ = std::make_unique<LangIDPlan>(langid_test::bundle("main"), false);
  }

  std::string failure(const Texts& texts, const Texts& subset = {}) const {
    try {
      plan_->identify_many(texts, subset);
    } catch (const LangIDModelError& error) {
      return error.what();
    }
    return "no error";
  }

  std::unique_ptr<LangIDPlan> plan_;
};

TEST_F(LangIDEdgeCases, EmptyListAnswersNothingAndChecksNothing) {
  EXPECT_TRUE(plan_->identify_many({}, {}).empty());
  EXPECT_TRUE(plan_->identify_many({}, {"xx"}).empty());
}

TEST_F(LangIDEdgeCases, EmptyTextIsRefusedWholeCall) {
  EXPECT_EQ(failure({""}), "language identification requires non-empty text");
  EXPECT_EQ(failure({"the cat", ""}), "language identification requires non-empty text");
  // Texts are encoded before the subset is looked at.
  EXPECT_EQ(failure({""}, {"xx"}), "language identification requires non-empty text");
  EXPECT_THROW(plan_->identify("", {}), LangIDModelError);
}

TEST_F(LangIDEdgeCases, MalformedUtf8NamesTheOffendingByte) {
  struct Case {
    std::string text;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"a\xC3", "invalid UTF-8 sequence at byte offset 1"},      // cut off
      {"\xC3\x28", "invalid UTF-8 sequence at byte offset 1"},   // bad continuation byte
      {"\xC0\x80", "invalid UTF-8 sequence at byte offset 0"},   // overlong form
      {"\xED\xA0\x80", "invalid UTF-8 sequence at byte offset 0"},  // surrogate
      {"ab\x80", "invalid UTF-8 sequence at byte offset 2"},     // stray continuation byte
      {"\xF8", "invalid UTF-8 sequence at byte offset 0"},
      {"\xF4\x90\x80\x80", "invalid UTF-8 sequence at byte offset 0"},  // above U+10FFFF
  };
  for (const Case& item : cases) EXPECT_EQ(failure({"fine", item.text}), item.message);
}

TEST_F(LangIDEdgeCases, UnknownCharactersAndReservedKeysAreOrdinaryText) {
  // "UNK" is three characters of the vocabulary; an emoji is unknown; neither fails.
  EXPECT_FALSE(plan_->identify("UNK", {}).empty());
  EXPECT_FALSE(plan_->identify("\xF0\x9F\x99\x82", {}).empty());
  EXPECT_FALSE(plan_->identify("<PAD>", {}).empty());
}

TEST_F(LangIDEdgeCases, SubsetRestrictsTheAnswer) {
  const Texts texts = {"the cat sat", "x", "le chat", "日本"};
  for (const std::string& text : texts) {
    EXPECT_EQ(plan_->identify(text, {"fr"}), "fr");
    EXPECT_EQ(plan_->identify(text, {"fr", "xx"}), "fr");
    EXPECT_EQ(plan_->identify(text, {"fr", "fr"}), "fr");
    const std::string two = plan_->identify(text, {"de", "it"});
    EXPECT_TRUE(two == "de" || two == "it") << two;
  }
  EXPECT_EQ(failure({"abc"}, {"xx", "EN"}), "LangID language subset contains no known language");
}

TEST(LangIDTies, LowestTagIdWinsATie) {
  LANGID_REQUIRE_DATA();
  // Every tag scores zero everywhere; tag ids: fr 0, it 1, en 2, de 3, nl 4.
  const LangIDPlan plan(langid_test::bundle("all_tags_tie"), false);
  EXPECT_EQ(plan.identify("anything", {}), "fr");
  EXPECT_EQ(plan.identify("anything", {"nl", "de", "en"}), "en");
  EXPECT_EQ(plan.identify_many({"a", "bb", "a"}, {"nl", "it"}), (Texts{"it", "it", "it"}));
}

}  // namespace
