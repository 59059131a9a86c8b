// Building a document storage from records, growing and resetting its empty words, replacing
// its sentences in place, and the string pool behind it. Views taken before the document
// shrank fail with their own error instead of reading past the end of a column.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "document_records.hpp"
#include "velmora/string_pool.hpp"

namespace {

using namespace doc_test;
using velmora::Document;
using velmora::DocumentStorage;
using velmora::kNoOffset;
using velmora::kNoString;

TEST(DocumentBuild, NoSentencesLeavesOffsetsAtZero) {
  const Document doc("text", {});
  EXPECT_EQ(doc.sentences().size(), 0u);
  EXPECT_EQ(doc.storage()->sentence_word_offsets, std::vector<std::uint32_t>{0});
}

TEST(DocumentBuild, SentenceWithoutTokensGetsIndexIdAndNoText) {
  const Document doc("", {SentenceInput{}, sentence({"a"})});
  const auto& s = *doc.storage();
  EXPECT_EQ(s.sentence_text[0], kNoString);
  EXPECT_EQ(s.pool.get(s.sentence_sent_id[0]), "0");
  EXPECT_EQ(s.pool.get(s.sentence_sent_id[1]), "1");
  EXPECT_EQ(s.sentence_token_offsets, (std::vector<std::uint32_t>{0, 0, 1}));
  EXPECT_EQ(s.sentence_word_offsets, (std::vector<std::uint32_t>{0, 0, 1}));
}

TEST(DocumentBuild, MultiWordTokenOwnsItsWordRows) {
  const Document doc("", {sentence_of({token(1, "I"), mwt(2, "can't", {"ca", "n't"})})});
  const auto& s = *doc.storage();
  EXPECT_EQ(s.token_first_word[1], 1u);
  EXPECT_EQ(s.token_end_word[1], 3u);
  EXPECT_EQ(s.word_token[2], 1u);
  EXPECT_EQ(s.word_empty_index[2], INT32_MIN);
  EXPECT_EQ(s.num_words, 3u);
  EXPECT_EQ(s.input_word_count, 3u);
}

TEST(DocumentBuild, SingleWordTokenLendsItsOffsetsToTheWord) {
  TokenInput multi = mwt(2, "du", {"de", "le"});
  multi.start_char = 4;
  multi.end_char = 6;
  TokenInput single = token(1, "vu", 0, 2);
  single.words[0].end_char = 1;  // a word's own offset wins
  const Document doc("vu  du", {sentence_of({single, multi})});
  const auto& s = *doc.storage();
  EXPECT_EQ(s.word_start_char[0], 0u);
  EXPECT_EQ(s.word_end_char[0], 1u);
  EXPECT_EQ(s.word_start_char[1], kNoOffset);
  EXPECT_EQ(s.word_end_char[2], kNoOffset);
}

TEST(DocumentBuild, SentenceTextIsSlicedOrJoined) {
  // Sliced from the text when the outer offsets are usable.
  {
    const Document doc("Hi  there.",
                       {sentence_of({token(1, "Hi", 0, 2), token(2, "there", 4, 9)})});
    EXPECT_EQ(doc.sentences().at(0).text(), "Hi  there");
  }
  // Joined from the spacing of the records: each token's spaces after and the next one's
  // spaces before, nothing around the ends.
  const struct {
    TokenInput first, last;
    std::string text;
  } cases[] = {
      {token(1, "Hi", 0, 2), token(2, "there", 3), "Hi there"},
      {token(1, "Hi", 0, 2), token(2, "there", 3, 99), "Hi there"},
      {spaced(token(1, "Hi"), " ", ""), spaced(token(2, "there"), "", "\n"), "Hithere"},
      {spaced(token(1, "Hi"), "", "\t"), spaced(token(2, "there"), "  ", ""), "Hi\t  there"},
  };
  for (const auto& c : cases) {
    const Document doc("Hi there", {sentence_of({c.first, c.last})});
    EXPECT_EQ(doc.sentences().at(0).text(), c.text);
  }
  // A given text is kept as it is.
  SentenceInput given = sentence({"a"});
  given.text = "something else";
  EXPECT_EQ(Document("a", {given}).sentences().at(0).text(), "something else");
}

TEST(DocumentBuild, EmptyDocumentTextSlicesOnlyTheEmptyRange) {
  const Document zero("", {sentence_of({token(1, "x", 0, 0)})});
  EXPECT_EQ(zero.sentences().at(0).text(), "");
  const Document joined("", {sentence_of({token(1, "x", 0, 1)})});
  EXPECT_EQ(joined.sentences().at(0).text(), "x");
  // No spacing is recomputed from an empty text.
  EXPECT_EQ(joined.tokens().at(0).spaces_after(), " ");
}

TEST(DocumentBuild, SpacingIsRecomputedFromTheText) {
  TokenInput first = token(1, "He", 0, 2);
  first.spaces_before = "junk";
  first.spaces_after = "junk";
  const Document doc("He ran.",
                     {sentence_of({first, token(2, "ran", 3, 6), token(3, ".", 6, 7)})});
  const auto tokens = doc.tokens();
  EXPECT_EQ(tokens.at(0).spaces_before(), "");
  EXPECT_EQ(tokens.at(0).spaces_after(), " ");
  EXPECT_EQ(tokens.at(1).spaces_after(), "");
  EXPECT_EQ(tokens.at(2).spaces_after(), "");
}

TEST(DocumentBuild, SpacingSkipsTokensWithUnusableOffsets) {
  TokenInput inverted = token(1, "a", 2, 1);
  inverted.spaces_after = "kept";
  TokenInput overlapping = token(2, "b", 0, 3);  // ends after the next token starts
  overlapping.spaces_after = "kept too";
  const Document doc("ab cd", {sentence_of({inverted, overlapping, token(3, "cd", 2, 5)})});
  EXPECT_EQ(doc.tokens().at(0).spaces_after(), "kept");
  EXPECT_EQ(doc.tokens().at(1).spaces_after(), "kept too");
  EXPECT_EQ(doc.tokens().at(2).spaces_after(), "");
}

TEST(DocumentBuild, NextTokenStartingPastTheTextFailsTheBuild) {
  expect_error<std::out_of_range>(
      [] { Document("ab", {sentence_of({token(1, "a", 0, 1), token(2, "b", 5, 6)})}); },
      "code point slice is outside the document");
}

TEST(DocumentBuild, BadRecordsAreRefused) {
  auto with_token = [](auto change) {
    TokenInput t = token(1, "a");
    change(t);
    return std::vector<SentenceInput>{sentence_of({t})};
  };
  const struct {
    std::vector<SentenceInput> records;
    std::string message;
  } cases[] = {
      {with_token([](TokenInput& t) { t.id_start = 0; }), "a token has an invalid ID range"},
      {with_token([](TokenInput& t) { t.id_end = 0; }), "a token has an invalid ID range"},
      {with_token([](TokenInput& t) { t.text.clear(); }), "a token must have non-empty text"},
      {with_token([](TokenInput& t) { t.words[0].id = 0; }),
       "a word must have a positive ID and non-empty text"},
      {with_token([](TokenInput& t) { t.words[0].empty_index = 1; }),
       "a word must have a positive ID and non-empty text"},
      {with_token([](TokenInput& t) { t.words[0].text.clear(); }),
       "a word must have a positive ID and non-empty text"},
  };
  for (const auto& c : cases) {
    expect_error<std::invalid_argument>([&] { Document("a", c.records); }, c.message);
  }
}

TEST(DocumentBuild, FieldsAreConvertedToTheirStoredForms) {
  TokenInput t = token(1, "Paris");
  t.misc = "";
  t.manual_expansion = false;
  t.multi_ner = {"S-LOC", "O"};
  WordInput& w = t.words[0];
  w.lemma = "Paris";
  w.head = 0;
  w.manual_expansion = true;
  w.morphemes = {"Par", "is"};
  SentenceInput s = sentence_of({t});
  s.sentiment = 2;
  s.speaker = "A";
  s.comments = {"# x"};
  const Document doc("", {s});
  const auto& st = *doc.storage();
  EXPECT_EQ(st.token_misc[0], 0u);  // an engaged empty string is id 0
  EXPECT_EQ(st.token_ner[0], kNoString);
  EXPECT_EQ(st.token_manual_expansion[0], 0);
  EXPECT_EQ(st.word_manual_expansion[0], 1);
  EXPECT_EQ(st.word_upos[0], kNoString);
  EXPECT_EQ(st.word_head[0], 0);
  EXPECT_EQ(st.sentence_sentiment[0], 2);
  EXPECT_EQ(st.sentence_doc_id[0], kNoString);
  EXPECT_EQ(st.pool.get(st.word_morphemes[0][1]), "is");
  EXPECT_EQ(st.pool.get(st.token_multi_ner[0][0]), "S-LOC");
  EXPECT_EQ(st.pool.get(st.sentence_comments[0][0]), "# x");
  EXPECT_EQ(st.word_coref[0].size(), 0u);
  EXPECT_EQ(st.sentence_tree[0], nullptr);
}

TEST(DocumentBuild, PoolIdsFollowTheOrderOfFirstUse) {
  TokenInput t = token(1, "dogs");
  t.misc = "m";
  t.words[0].lemma = "dog";
  t.words[0].upos = "NOUN";
  SentenceInput s = sentence_of({t, token(2, "bark")});
  s.speaker = "spk";
  const Document doc("", {s});
  const auto& strings = doc.storage()->pool.strings();
  const std::vector<std::string> expected{"",     "dogs", "m",         " ", "dog",
                                          "NOUN", "bark", "dogs bark", "0", "spk"};
  EXPECT_EQ(strings, expected);
}

Document two_sentences_with_input_empty_word() {
  SentenceInput first = sentence({"a", "b", "c"});
  first.empty_words.push_back(empty_word(3, 1, "input"));
  return Document("", {first, sentence({"d"})});
}

TEST(EmptyWords, InputEmptyWordsFollowTheRegularWords) {
  const Document doc = two_sentences_with_input_empty_word();
  const auto& s = *doc.storage();
  EXPECT_EQ(s.num_words, 4u);
  EXPECT_EQ(s.input_word_count, 5u);
  EXPECT_EQ(s.sentence_empty_words[0], std::vector<std::uint32_t>{4});
  EXPECT_EQ(s.word_token[4], velmora::kNoRow);
  EXPECT_EQ(s.word_empty_index[4], 1);
  EXPECT_EQ(s.word_sentence[4], 0u);
}

TEST(EmptyWords, AddReturnsTheNewRowAndAcceptsWordZero) {
  Document doc = two_sentences_with_input_empty_word();
  auto& s = *doc.storage();
  EXPECT_EQ(s.add_empty_word(1, empty_word(0, 1, "pro")), 5u);
  EXPECT_EQ(s.add_empty_word(1, empty_word(3, 1, "pro")), 6u) << "3.1 exists only in sentence 0";
  EXPECT_EQ(s.add_empty_word(1, empty_word(1, 1, "pro")), 7u) << "a regular word 1 is no conflict";
  EXPECT_EQ(s.input_word_count, 5u);
}

TEST(EmptyWords, BadEmptyWordsAreRefusedWithoutChange) {
  Document doc = two_sentences_with_input_empty_word();
  auto& s = *doc.storage();
  const std::string prefix =
      "an empty word requires a nonnegative ID, positive empty index, and non-empty text; got ";
  expect_error<std::out_of_range>([&] { s.add_empty_word(2, empty_word(1, 1, "x")); },
                                  "an empty word has an invalid sentence");
  expect_error<std::invalid_argument>([&] { s.add_empty_word(0, word(1, "abc")); },
                                      prefix + "id=1, empty_index=none, text_size=3");
  expect_error<std::invalid_argument>([&] { s.add_empty_word(0, empty_word(2, 0, "ab")); },
                                      prefix + "id=2, empty_index=0, text_size=2");
  expect_error<std::invalid_argument>([&] { s.add_empty_word(0, empty_word(-1, 1, "")); },
                                      prefix + "id=-1, empty_index=1, text_size=0");
  expect_error<std::invalid_argument>([&] { s.add_empty_word(0, empty_word(3, 1, "again")); },
                                      "an empty word ID is duplicated within a sentence");
  EXPECT_EQ(s.num_word_rows(), 5u);
  EXPECT_EQ(s.sentence_empty_words[0].size(), 1u);
}

TEST(EmptyWords, ResetDropsOnlyGeneratedOnes) {
  Document doc = two_sentences_with_input_empty_word();
  auto& s = *doc.storage();
  s.add_empty_word(0, empty_word(1, 1, "gen"));
  s.add_empty_word(1, empty_word(1, 1, "gen"));
  s.reset_generated_empty_words();
  EXPECT_EQ(s.num_word_rows(), 5u);
  EXPECT_EQ(s.word_coref.size(), 5u);
  EXPECT_EQ(s.sentence_empty_words[0], std::vector<std::uint32_t>{4});
  EXPECT_TRUE(s.sentence_empty_words[1].empty());
  s.reset_generated_empty_words();
  EXPECT_EQ(s.num_word_rows(), 5u);
  // A word dropped once can be generated again.
  EXPECT_EQ(s.add_empty_word(0, empty_word(1, 1, "gen")), 5u);
}

TEST(EmptyWords, DuplicateInputEmptyWordFailsTheBuild) {
  SentenceInput s = sentence({"a"});
  s.empty_words = {empty_word(1, 1, "x"), empty_word(1, 1, "y")};
  expect_error<std::invalid_argument>([&] { Document("", {s}); },
                                      "an empty word ID is duplicated within a sentence");
}

using velmora::ConstituencyTree;

std::vector<SentenceInput> records() {
  SentenceInput first =
      sentence_of({tagged(token(1, "Ann", 0, 3), "S-PER"), token(2, "ran", 4, 7)});
  first.empty_words = {empty_word(2, 1, "e")};
  return {first, sentence_of({token(1, ".", 7, 8)})};
}

Document annotated() {
  Document doc("Ann ran.", records());
  doc.set_lang("en");
  doc.sentences().at(0).set_constituency(ConstituencyTree("S"));
  const velmora::CorefMention ann(0, {0, std::nullopt}, {1, std::nullopt});
  doc.set_coref({velmora::CorefChain(0, {ann}, "Ann", 0)});
  doc.storage()->add_empty_word(1, empty_word(1, 1, "gen"));
  return doc;
}

TEST(ReplaceSentences, SameRecordsGiveTheSameContentWithoutTreesOrChains) {
  Document doc = annotated();
  const Document handle = doc;
  const velmora::Word old_view = doc.words().at(0);
  doc.storage()->replace(records());
  EXPECT_TRUE(handle.same_storage(doc));
  EXPECT_EQ(doc.to_conll(), Document("Ann ran.", records()).to_conll());
  EXPECT_EQ(doc.lang(), std::optional<std::string>("en"));
  EXPECT_FALSE(doc.sentences().at(0).constituency());
  EXPECT_TRUE(doc.coref().empty());
  EXPECT_TRUE(old_view.coref_chains().empty());
  EXPECT_EQ(doc.ents().size(), 1u);
  EXPECT_EQ(doc.storage()->num_word_rows(), 4u) << "the generated empty word is gone";
  EXPECT_EQ(doc.text(), "Ann ran.");
}

TEST(ReplaceSentences, NoLanguageStaysNone) {
  Document doc("Ann ran.", records());
  doc.storage()->replace(records());
  EXPECT_FALSE(doc.lang());
}

TEST(ReplaceSentences, FailedReplaceLeavesTheDocumentAsItWas) {
  Document doc = annotated();
  const std::string before = doc.to_conll();
  auto bad = records();
  bad[1].tokens[0].text.clear();
  expect_error<std::invalid_argument>([&] { doc.storage()->replace(bad); },
                                      "a token must have non-empty text");
  EXPECT_EQ(doc.to_conll(), before);
  EXPECT_TRUE(doc.sentences().at(0).constituency());
  EXPECT_EQ(doc.coref().size(), 1u);
  EXPECT_EQ(doc.storage()->num_word_rows(), 5u);
}

TEST(ReplaceSentences, EmptyListKeepsTextAndLanguageOnly) {
  Document doc = annotated();
  doc.storage()->replace({});
  EXPECT_EQ(doc.sentences().size(), 0u);
  EXPECT_EQ(doc.text(), "Ann ran.");
  EXPECT_EQ(doc.lang(), std::optional<std::string>("en"));
  EXPECT_EQ(doc.storage()->pool.size(), 2u) << "only the empty string and the language";
}

TEST(StaleViews, ViewsOfRemovedRowsFailOnEveryAccess) {
  Document doc("", {sentence_of({tagged(token(1, "a"), "S-X"), token(2, "b")}), sentence({"c"})});
  velmora::Sentence sentence = doc.sentences().at(1);
  velmora::Token token = doc.tokens().at(2);
  velmora::Word word = doc.words().at(2);
  velmora::Span span = doc.ents().at(0);
  const auto tokens = doc.tokens();
  doc.storage()->replace({velmora::SentenceInput{}});

  expect_error<std::out_of_range>([&] { sentence.text(); }, "invalid sentence view");
  expect_error<std::out_of_range>([&] { sentence.set_sentiment(1); }, "invalid sentence view");
  expect_error<std::out_of_range>([&] { sentence.to_conll(); }, "invalid sentence view");
  expect_error<std::out_of_range>([&] { token.text(); }, "invalid token view");
  expect_error<std::out_of_range>([&] { token.set_ner("O"); }, "invalid token view");
  expect_error<std::out_of_range>([&] { word.lemma(); }, "invalid word view");
  expect_error<std::out_of_range>([&] { word.set_lemma("x"); }, "invalid word view");
  expect_error<std::out_of_range>([&] { word.parent(); }, "invalid word view");
  expect_error<std::out_of_range>([&] { span.text(); }, "invalid span view");
  expect_error<std::out_of_range>([&] { span.words(); }, "invalid span view");
  expect_error<std::out_of_range>([&] { tokens.at(0); }, "invalid token view");
}

TEST(StaleViews, DroppedGeneratedEmptyWordsFail) {
  Document doc("", {sentence({"a"})});
  doc.storage()->add_empty_word(0, empty_word(1, 1, "gen"));
  const velmora::Word generated = doc.sentences().at(0).empty_words().at(0);
  const auto empty_words = doc.sentences().at(0).empty_words();
  doc.storage()->reset_generated_empty_words();
  expect_error<std::out_of_range>([&] { generated.text(); }, "invalid word view");
  expect_error<std::out_of_range>([&] { empty_words.at(0); }, "invalid word view");
  EXPECT_EQ(doc.sentences().at(0).empty_words().size(), 0u);
}

using velmora::StringPool;

TEST(StringPool, ManyStringsKeepTheirIdsAcrossGrowth) {
  StringPool pool;
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(pool.intern(doc_test::numbered("s", i)), i + 1u);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(pool.intern(doc_test::numbered("s", i)), i + 1u);
  EXPECT_EQ(pool.size(), 5001u);
  EXPECT_EQ(pool.get(4321), "s4320");
}

TEST(StringPool, OptionalStringsKeepNoneApartFromEmpty) {
  StringPool pool;
  EXPECT_EQ(pool.intern_optional(std::nullopt), velmora::kNoString);
  EXPECT_EQ(pool.size(), 1u);
  EXPECT_EQ(pool.intern_optional(std::string()), 0u);
  EXPECT_FALSE(pool.optional(velmora::kNoString).has_value());
  EXPECT_EQ(pool.optional(0), std::optional<std::string>(""));
}

TEST(StringPool, UnknownIdsAreRefused) {
  StringPool pool;
  pool.intern("x");
  const unsigned n = static_cast<unsigned>(pool.size());
  expect_error<std::out_of_range>([&] { pool.get(velmora::kNoString); },
                                  "invalid string pool identifier");
  expect_error<std::out_of_range>([&] { pool.get(n); }, "invalid string pool identifier");
  expect_error<std::out_of_range>([&] { pool.optional(n); }, "invalid string pool identifier");
}

TEST(StringPool, FullPoolRefusesNewStringsAndStaysUnchanged) {
  StringPool pool(3);
  pool.intern("a");
  pool.intern("b");
  expect_error<std::overflow_error>([&] { pool.intern("c"); }, "the document string pool is full");
  EXPECT_EQ(pool.size(), 3u);
  EXPECT_EQ(pool.intern("b"), 2u);  // known strings are still found
  expect_error<std::overflow_error>([&] { pool.intern("c"); }, "the document string pool is full");
}

}  // namespace
