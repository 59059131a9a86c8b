// Argument checks and edge cases of seq2seq prediction, and what the lemmatizer and the
// expander do with dictionaries alone.

#include <velmora/lemma.hpp>
#include <velmora/mwt.hpp>
#include <velmora/seq2seq.hpp>
#include <velmora/document.hpp>

#include <functional>

#include "seq2seq/test_support.hpp"

namespace velmora {
namespace {

using namespace seq2seq_test;

std::string error_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const Seq2SeqModelError& error) {
    return error.what();
  } catch (const std::invalid_argument& error) {
    return std::string("invalid argument: ") + error.what();
  }
  return "";
}

TEST(Seq2SeqArguments, ChecksComeFirstAndNameTheFault) {
  const Seq2SeqPlan plain(TestData::bundle("plain"), false);
  const Seq2SeqPlan with_pos(TestData::bundle("copy_pos_edit"), false);
  EXPECT_EQ(error_of([&] { plain.predict_many({"a", "b"}, {std::nullopt}, std::nullopt, false); }),
            "seq2seq text and POS batches must have equal lengths");
  EXPECT_EQ(error_of([&] { plain.predict_many({}, {}, 0, false); }), "beam size must be positive");
  EXPECT_EQ(error_of([&] { plain.predict("a", std::nullopt, 0, false); }), "beam size must be positive");
  EXPECT_EQ(error_of([&] { plain.predict("a", std::nullopt, -2, false); }), "beam size must be positive");
  EXPECT_EQ(error_of([&] { with_pos.predict("a", std::nullopt, std::nullopt, false); }),
            "this seq2seq bundle requires a POS tag");
  EXPECT_EQ(error_of([&] { with_pos.predict_many({"a", "b"}, {"NOUN", std::nullopt}, std::nullopt, false); }),
            "this seq2seq bundle requires a POS tag");
  EXPECT_EQ(error_of([&] { with_pos.predict_many({"a"}, {std::nullopt}, 2, false); }),
            "this seq2seq bundle requires a POS tag");
  EXPECT_EQ(error_of([&] { plain.predict("a\xff", std::nullopt, std::nullopt, false); }),
            "invalid argument: invalid UTF-8 sequence at byte offset 1");
  EXPECT_EQ(error_of([&] { plain.predict_many({"ok", "\xc3"}, {std::nullopt, std::nullopt}, std::nullopt, false); }),
            "invalid argument: invalid UTF-8 sequence at byte offset 0");
  EXPECT_TRUE(plain.predict_many({}, {}, std::nullopt, false).empty());
}

TEST(Seq2SeqArguments, TagsAreOptionalExactlyWhenUnused) {
  const Seq2SeqPlan plain(TestData::bundle("plain"), false);
  EXPECT_EQ(plain.predict("word", std::string("NOUN"), std::nullopt, false),
            plain.predict("word", std::nullopt, std::nullopt, false));
  const Seq2SeqPlan with_pos(TestData::bundle("copy_pos_edit"), false);
  // A tag the vocabulary lacks is read as the unknown tag.
  EXPECT_EQ(with_pos.predict("word", std::string("NOT-A-TAG"), std::nullopt, false),
            with_pos.predict("word", std::string("<UNK>"), std::nullopt, false));
}

TEST(Seq2SeqArguments, AGivenBeamOverridesTheConfiguredOne) {
  const Seq2SeqPlan plan(TestData::bundle("copy_beam"), false);
  const std::vector<std::string> words = {"Kazakhstan", "running", "", "quiz"};
  const std::vector<std::optional<std::string>> tags(words.size());
  const std::vector<Seq2SeqPrediction> greedy = plan.predict_many(words, tags, 1, true);
  const std::vector<Seq2SeqPrediction> beam = plan.predict_many(words, tags, std::nullopt, true);
  for (std::size_t i = 0; i < words.size(); ++i) {
    EXPECT_EQ(greedy[i], plan.predict(words[i], std::nullopt, 1, true));
    EXPECT_EQ(beam[i], plan.predict(words[i], std::nullopt, 3, true));
    ASSERT_TRUE(beam[i].edit_class.has_value());
    EXPECT_EQ(beam[i].edit_class, greedy[i].edit_class);
  }
  EXPECT_FALSE(Seq2SeqPlan(TestData::bundle("plain"), false).predict("a", {}, {}, false).edit_class);
}

TEST(Seq2SeqArguments, AVocabularyIdOutsideTheVocabularyCountsAsUnknown) {
  // The bundle maps "a" to 2^62; without copy, unknown characters all read as UNK.
  const Seq2SeqPlan plan(TestData::load_variant("unit_id_out_of_range"), false);
  EXPECT_EQ(plan.predict("aaa", std::nullopt, std::nullopt, false),
            plan.predict("zzz", std::nullopt, std::nullopt, false));
  EXPECT_EQ(plan.predict_many({"aaa"}, {std::nullopt}, std::nullopt, false).front(),
            plan.predict("zzz", std::nullopt, std::nullopt, false));
}

TEST(MWTDictionary, CaseRulesFollowTheToken) {
  const MWTPlan plan(TestData::load_variant("mwt_dict_only_half"), false);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"del", "de el"}, {"DEL", "DE EL"}, {"Del", "De el"}, {"dEL", "dEL"}, {"dEl", "dEl"},
      {"A", "X Y"},     {"a", "x y"},     {"x", ""},        {"X", ""},       {"1-2", "1-2"},
      {"Don't", "Do n't"}, {"DON'T", "DO N'T"}, {"", ""}, {"unknown", "unknown"}};
  for (const auto& [token, expansion] : cases) EXPECT_EQ(plan.expand(token), expansion) << token;
}

TEST(MWTClassifier, TheEmptyTokenGivesTheEmptyString) {
  const MWTPlan plan(TestData::bundle("classifier"), false);
  EXPECT_EQ(plan.expand(""), "");
  EXPECT_THROW(plan.expand("\xff"), std::invalid_argument);
}

TEST(LemmaDictionaryOnly, LookupWordsAndPlaceholders) {
  const LemmaPlan plan(TestData::load_variant("lemma_dict_only"), false);
  EXPECT_FALSE(plan.uses_pos());
  struct Case {
    std::string word;
    std::optional<std::string> upos;
    std::string lemma;
  };
  const std::vector<Case> cases = {
      {"dogs", "NOUN", "dog"},   {"Dogs", "NOUN", "dog"},       {"DOGS", "VERB", "dogs"},
      {"Void", "NOUN", "_"},     {"Nulled", "NOUN", "nulled"},  {"was", std::nullopt, "be"},
      {"was", "AUX", "was"},     {"IS", "VERB", "be"},          {"are", std::nullopt, "be"},
      {"", std::nullopt, "_"},   {"Unknown", "X", "unknown"},
  };
  // Lookup words are lower-cased (caseless); "void" is stored with an empty lemma.
  for (const Case& c : cases) EXPECT_EQ(plan.lemmatize(c.word, c.upos), c.lemma) << c.word;
}

TEST(LemmaDictionaryOnly, EmptyRequestsMakeNoModelCall) {
  const LemmaPlan plan(TestData::load_variant("lemma_dict_only"), false);
  EXPECT_TRUE(plan.process_bulk({}).empty());
  const Document empty("no words");
  EXPECT_TRUE(plan.process(empty).same_storage(empty));
}

}  // namespace
}  // namespace velmora
