// Argument checks and edge cases of seq2seq prediction, what the lemmatizer and the expander
// do with dictionaries alone, words as source ids with extended ids for unknown characters, and
// the shape and masking rules of one decoder step.
#include <c10/core/InferenceMode.h>

#include <velmora/document.hpp>
#include <velmora/lemma.hpp>
#include <velmora/mwt.hpp>
#include <velmora/seq2seq.hpp>

#include <functional>
#include <limits>

#include "seq2seq/model_state.hpp"
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

// A document's words run through the model together, yet a failing word still leaves the
// words before it with their lemmas, and those after it without.
TEST(LemmaDocuments, AFailingWordKeepsTheLemmasBeforeIt) {
  const LemmaPlan plan(TestData::bundle("lemma_ensemble"), false);
  SentenceInput sentence;
  const std::vector<std::string> texts = {"dogs", "walking", "bad\xff", "cats"};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    TokenInput token;
    token.id_start = token.id_end = static_cast<std::int32_t>(i + 1);
    token.text = texts[i];
    WordInput word;
    word.id = token.id_start;
    word.text = texts[i];
    word.upos = "NOUN";
    token.words.push_back(word);
    sentence.tokens.push_back(token);
  }
  const Document document("", std::vector<SentenceInput>{sentence});
  EXPECT_THROW(plan.process(document), std::invalid_argument);
  const WordSequence words = document.words();
  EXPECT_EQ(words.at(0).lemma(), "dog");
  EXPECT_EQ(words.at(1).lemma(), plan.lemmatize("walking", "NOUN"));
  EXPECT_FALSE(words.at(2).lemma().has_value());
  EXPECT_FALSE(words.at(3).lemma().has_value());
}

using namespace detail;

TEST(SourceIds, UnknownCharactersGetExtendedIdsInOrderOfFirstOccurrence) {
  const auto model = load_seq2seq_model(TestData::bundle("plain"), false);
  const std::int64_t V = model->vocab_size;
  const std::int64_t a = model->vocab.unit2id.at("a");
  EXPECT_EQ(seq2seq_encode_source(model->vocab, "").ids, (std::vector<std::int64_t>{2, 3}));
  const Seq2SeqSource twice = seq2seq_encode_source(model->vocab, "zz");
  EXPECT_EQ(twice.ids, (std::vector<std::int64_t>{2, V, V, 3}));
  EXPECT_EQ(twice.oov_chars, (std::vector<std::string>{"z"}));
  const Seq2SeqSource mixed = seq2seq_encode_source(model->vocab, "qaz%q");
  EXPECT_EQ(mixed.ids, (std::vector<std::int64_t>{2, V, a, V + 1, V + 2, V, 3}));
  EXPECT_EQ(mixed.oov_chars, (std::vector<std::string>{"q", "z", "%"}));
  EXPECT_EQ(seq2seq_output_text(*model, {a, V + 1, V + 3, 1, 0}, mixed.oov_chars), "az<UNK><UNK><PAD>");
}

TEST(DecoderStep, WidthsMaskingAndUnknownSuppression) {
  c10::InferenceMode guard;
  for (const std::string name : {"plain", "copy_float64"}) {
    const auto model = load_seq2seq_model(TestData::bundle(name), false);
    const std::int64_t V = model->vocab_size;
    const Seq2SeqSource source = seq2seq_encode_source(model->vocab, "zqa");
    const Seq2SeqEncoding encoding = seq2seq_encode(*model, source.ids, std::nullopt);
    const at::Tensor source_ids = at::tensor(source.ids, at::kLong).unsqueeze(0);
    const std::int64_t extended = V + 2;
    at::Tensor ids = at::full({1}, V + 1, at::kLong);
    const Seq2SeqStepOutput out = seq2seq_decoder_step(*model, ids, {encoding.h0, encoding.c0}, encoding.outputs,
                                                       source_ids, extended, /*suppress_unk=*/true);
    EXPECT_EQ(ids.item<std::int64_t>(), 1) << name;  // an extended id is fed back as UNK
    EXPECT_EQ(out.log_probs.size(1), model->copy ? extended : V) << name;
    EXPECT_EQ(out.log_probs[0][1].item<double>(), -std::numeric_limits<double>::infinity()) << name;
    if (model->copy) {
      // A column limit below the extended size masks the columns from it on.
      at::Tensor again = at::full({1}, 2, at::kLong);
      const Seq2SeqStepOutput limited =
          seq2seq_decoder_step(*model, again, {encoding.h0, encoding.c0}, encoding.outputs, source_ids, extended,
                               false, std::nullopt, at::full({1}, V + 1, at::kLong));
      EXPECT_EQ(limited.log_probs[0][V + 1].item<double>(), -1e12);
      EXPECT_GT(limited.log_probs[0][V].item<double>(), -1e12);
    }
  }
}

}  // namespace
}  // namespace velmora
