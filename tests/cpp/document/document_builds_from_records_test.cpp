// Building a document storage from sentence, token and word records.
#include <gtest/gtest.h>

#include <climits>

#include "document_records.hpp"

namespace {

using namespace doc_test;
using velmora::Document;
using velmora::DocumentStorage;
using velmora::kNoOffset;
using velmora::kNoString;

TEST(DocumentBuild, EmptyStorageHasOnlyOffsetSentinels) {
  const DocumentStorage storage("");
  EXPECT_EQ(storage.num_sentences(), 0u);
  EXPECT_EQ(storage.num_tokens(), 0u);
  EXPECT_EQ(storage.num_word_rows(), 0u);
  EXPECT_EQ(storage.num_spans(), 0u);
  const std::vector<std::uint32_t> zero{0};
  EXPECT_EQ(storage.sentence_token_offsets, zero);
  EXPECT_EQ(storage.sentence_word_offsets, zero);
  EXPECT_EQ(storage.sentence_span_offsets, zero);
  EXPECT_EQ(storage.lang, kNoString);
}

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

TEST(DocumentBuild, FullPoolFailsTheBuild) {
  auto storage = std::make_shared<DocumentStorage>("");
  storage->pool = velmora::StringPool(3);
  expect_error<std::overflow_error>([&] { storage->build({sentence({"a", "b", "c"})}); },
                                    "the document string pool is full");
}

}  // namespace
