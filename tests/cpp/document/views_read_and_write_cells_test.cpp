// Document, sentence, token, word and span views: reading, writing and identity.
#include <gtest/gtest.h>

#include <climits>

#include "document_records.hpp"

namespace {

using namespace doc_test;
using velmora::ConstituencyTree;
using velmora::Document;
using velmora::kNoRow;
using velmora::Sentence;
using velmora::Token;
using velmora::Word;

Document small_document() {
  TokenInput cant = mwt(2, "can't", {"ca", "n't"});
  cant.start_char = 2;
  cant.end_char = 7;
  SentenceInput s = sentence_of({token(1, "I", 0, 1), cant});
  s.comments = {"# c1", "# c2"};
  s.doc_id = "d";
  return Document("I can't", {s, sentence({"ok"})});
}

TEST(DocumentView, TextAndCodePoints) {
  const Document empty("");
  EXPECT_EQ(empty.sentences().size(), 0u);
  EXPECT_EQ(empty.codepoint_count(), 0u);
  EXPECT_EQ(empty.byte_offset(0), 0u);
  expect_error<std::out_of_range>([&] { empty.byte_offset(1); },
                                  "code point index is outside the document");
  EXPECT_EQ(Document("\xC3\xA9t\xC3\xA9").byte_offset(2), 3u);
}

TEST(DocumentView, LanguageKeepsEmptyApartFromNone) {
  Document doc("");
  EXPECT_FALSE(doc.lang());
  doc.set_lang("");
  EXPECT_EQ(doc.lang(), std::optional<std::string>(""));
  doc.set_lang("fr");
  EXPECT_EQ(doc.lang(), std::optional<std::string>("fr"));
  doc.set_lang(std::nullopt);
  EXPECT_FALSE(doc.lang());
}

TEST(DocumentView, HandlesShareOneStorage) {
  const Document doc = small_document();
  const Document copy = doc;
  const Document wrapped(doc.storage());
  EXPECT_TRUE(copy.same_storage(doc));
  EXPECT_TRUE(wrapped.same_storage(doc));
  EXPECT_FALSE(small_document().same_storage(doc));
  Sentence s = copy.sentences().at(0);
  s.set_sentiment(1);
  EXPECT_EQ(doc.sentences().at(0).sentiment(), 1);
  expect_error<std::invalid_argument>([] { Document(std::shared_ptr<velmora::DocumentStorage>()); },
                                      "a document storage pointer cannot be null");
}

TEST(DocumentView, CountsIgnoreEmptyWords) {
  Document doc = small_document();
  doc.storage()->add_empty_word(1, empty_word(1, 1, "gen"));
  EXPECT_EQ(doc.num_words(), 4u);
  EXPECT_EQ(doc.words().size(), 4u);
  EXPECT_EQ(doc.num_tokens(), 3u);
}

TEST(SentenceView, ReadsSentenceFields) {
  Document doc = small_document();
  Sentence s = doc.sentences().at(0);
  EXPECT_EQ(s.sent_id(), std::optional<std::string>("0"));
  EXPECT_EQ(s.doc_id(), std::optional<std::string>("d"));
  EXPECT_FALSE(s.speaker());
  EXPECT_EQ(s.text(), "I can't");
  EXPECT_EQ(s.comments(), (std::vector<std::string>{"# c1", "# c2"}));
  EXPECT_TRUE(s.doc().same_storage(doc));
  EXPECT_EQ(texts_of(s.tokens()), (std::vector<std::string>{"I", "can't"}));
  EXPECT_EQ(texts_of(s.words()), (std::vector<std::string>{"I", "ca", "n't"}));
  EXPECT_EQ(Document("", {SentenceInput{}}).sentences().at(0).text(), "");
}

TEST(SentenceView, SentimentAndTree) {
  Document doc = small_document();
  Sentence s = doc.sentences().at(1);
  EXPECT_FALSE(s.sentiment());
  s.set_sentiment(INT32_MIN);
  EXPECT_FALSE(s.sentiment());
  s.set_sentiment(-7);
  EXPECT_EQ(s.sentiment(), -7);
  s.set_sentiment(std::nullopt);
  EXPECT_FALSE(s.sentiment());

  EXPECT_FALSE(s.constituency());
  const ConstituencyTree tree("ROOT", {ConstituencyTree("NN", {ConstituencyTree("ok")})});
  s.set_constituency(tree);
  ASSERT_TRUE(s.constituency());
  EXPECT_TRUE(s.constituency()->same_node(tree));
  s.set_constituency(std::nullopt);
  EXPECT_FALSE(s.constituency());
}

TEST(SentenceView, AllWordsPlaceEmptyWordsByPosition) {
  SentenceInput input = sentence({"a", "b", "c"});
  input.empty_words = {empty_word(2, 2, "x"), empty_word(0, 1, "y"), empty_word(2, 1, "z")};
  const Sentence s = Document("", {input}).sentences().at(0);
  EXPECT_EQ(ids_of(s.all_words()), (std::vector<std::string>{"0.1", "1", "2", "2.1", "2.2", "3"}));
  EXPECT_EQ(ids_of(s.empty_words()), (std::vector<std::string>{"2.2", "0.1", "2.1"}));
  EXPECT_EQ(ids_of(s.words()), (std::vector<std::string>{"1", "2", "3"}));
}

TEST(SentenceView, IndexIsChecked) {
  const Document doc = small_document();
  expect_error<std::out_of_range>([&] { Sentence(doc.storage(), 2); }, "invalid sentence view");
  expect_error<std::out_of_range>([] { Sentence(nullptr, 0); }, "invalid sentence view");
}

TEST(TokenView, ReadsAndWritesTokenCells) {
  Document doc = small_document();
  Token t = doc.tokens().at(1);
  EXPECT_EQ(t.id_range(), std::make_pair(2, 3));
  EXPECT_TRUE(t.is_mwt());
  EXPECT_FALSE(doc.tokens().at(0).is_mwt());
  EXPECT_FALSE(t.manual_expansion());
  EXPECT_EQ(t.start_char(), 2u);
  EXPECT_FALSE(t.words().at(0).start_char()) << "words of a multi-word token keep their own";
  EXPECT_EQ(doc.tokens().at(0).end_char(), 1u);
  EXPECT_EQ(t.sent().index(), 0u);

  t.set_text("cannot");
  EXPECT_EQ(t.text(), "cannot");
  EXPECT_EQ(t.words().at(0).text(), "ca") << "words keep their text";
  expect_error<std::invalid_argument>([&] { t.set_text(""); }, "a token must have non-empty text");
  t.set_misc("");
  EXPECT_EQ(t.misc(), std::optional<std::string>(""));
  t.set_ner("S-X");
  EXPECT_EQ(t.ner(), std::optional<std::string>("S-X"));
  t.set_multi_ner({"A", "B"});
  EXPECT_EQ(t.multi_ner(), (std::vector<std::string>{"A", "B"}));
  t.set_manual_expansion(true);
  EXPECT_EQ(t.manual_expansion(), true);
  t.set_manual_expansion(std::nullopt);
  EXPECT_FALSE(t.manual_expansion());
  t.set_spaces_before("");
  t.set_spaces_after("\n");
  EXPECT_EQ(t.spaces_before(), "");
  EXPECT_EQ(t.spaces_after(), "\n");
  expect_error<std::out_of_range>([&] { Token(doc.storage(), 3); }, "invalid token view");
}

TEST(WordView, ReadsAndWritesWordCells) {
  Document doc = small_document();
  Word w = doc.words().at(1);
  EXPECT_EQ(w.id(), 2);
  EXPECT_FALSE(w.empty_index());
  EXPECT_EQ(w.parent()->text(), "can't");
  w.set_text("could");
  EXPECT_EQ(w.text(), "could");
  EXPECT_EQ(w.parent()->text(), "can't") << "the token keeps its text";
  expect_error<std::invalid_argument>([&] { w.set_text(""); }, "a word must have non-empty text");
  // Every optional string field keeps the empty string apart from none.
  using Getter = std::optional<std::string> (Word::*)() const;
  using Setter = void (Word::*)(const std::optional<std::string>&);
  const std::pair<Getter, Setter> fields[] = {
      {&Word::lemma, &Word::set_lemma}, {&Word::upos, &Word::set_upos},
      {&Word::xpos, &Word::set_xpos},   {&Word::feats, &Word::set_feats},
      {&Word::deprel, &Word::set_deprel}, {&Word::deps, &Word::set_deps},
      {&Word::misc, &Word::set_misc}};
  for (const auto& [get, set] : fields) {
    for (const auto& value : {std::optional<std::string>("v"),
                                                   std::optional<std::string>(""),
                                                   std::optional<std::string>()}) {
      (w.*set)(value);
      EXPECT_EQ((w.*get)(), value);
    }
  }
  for (const std::optional<int> head : {std::optional<int>(-5), std::optional<int>(1000)}) {
    w.set_head(head);
    EXPECT_EQ(w.head(), head);
  }
  w.set_head(INT32_MIN);
  EXPECT_FALSE(w.head());
  w.set_morphemes({"co", "uld"});
  EXPECT_EQ(w.morphemes(), (std::vector<std::string>{"co", "uld"}));
  EXPECT_EQ(w.sent().index(), 0u);
}

TEST(WordView, EmptyWordsHaveNoParent) {
  SentenceInput input = sentence({"a"});
  input.empty_words = {empty_word(1, 2, "e")};
  const Word w = Document("", {input}).sentences().at(0).empty_words().at(0);
  EXPECT_EQ(w.id(), 1);
  EXPECT_EQ(w.empty_index(), 2);
  EXPECT_FALSE(w.parent());
}

TEST(WordView, RootIsSyntheticAndImmutable) {
  Document doc = small_document();
  Word root(doc.storage(), kNoRow, 1);
  EXPECT_TRUE(root.is_root());
  EXPECT_EQ(root.id(), 0);
  EXPECT_EQ(root.text(), "ROOT");
  EXPECT_FALSE(root.lemma());
  EXPECT_FALSE(root.head());
  EXPECT_FALSE(root.parent());
  EXPECT_TRUE(root.morphemes().empty());
  EXPECT_TRUE(root.coref_chains().empty());
  EXPECT_EQ(root.sent().index(), 1u);
  const std::string immutable = "the synthetic ROOT word is immutable";
  expect_error<std::logic_error>([&] { root.set_text(""); }, immutable);
  expect_error<std::logic_error>([&] { root.set_lemma("x"); }, immutable);
  expect_error<std::logic_error>([&] { root.set_head(1); }, immutable);
  expect_error<std::logic_error>([&] { root.set_morphemes({}); }, immutable);

  EXPECT_FALSE(root.same_view(Word(doc.storage(), kNoRow, 0)));
  EXPECT_TRUE(root.same_view(Word(doc.storage(), kNoRow, 1)));
  const Word far(doc.storage(), kNoRow, 9);
  expect_error<std::out_of_range>([&] { far.sent(); }, "invalid sentence view");
  expect_error<std::out_of_range>([&] { Word(doc.storage(), kNoRow); }, "invalid word view");
  expect_error<std::out_of_range>([&] { Word(doc.storage(), 4); }, "invalid word view");
  expect_error<std::out_of_range>([] { Word(nullptr, 0, 0); }, "invalid word view");
}

TEST(SpanView, ReadsItsSpan) {
  TokenInput t = tagged(token(1, "Rome", 0, 4), "S-LOC");
  const Document doc("Rome", {sentence_of({t})});
  const velmora::Span span = doc.ents().at(0);
  EXPECT_EQ(span.text(), "Rome");
  EXPECT_EQ(span.type(), "LOC");
  EXPECT_EQ(span.sent().index(), 0u);
  EXPECT_TRUE(span.doc().same_storage(doc));
  EXPECT_TRUE(span.same_view(doc.sentences().at(0).ents().at(0)));
  expect_error<std::out_of_range>([&] { velmora::Span(doc.storage(), 1); }, "invalid span view");
}

TEST(Views, FullPoolLeavesTheCellUnchanged) {
  Document doc = small_document();
  auto& storage = *doc.storage();
  velmora::StringPool small(static_cast<std::uint32_t>(storage.pool.size()));
  for (std::uint32_t id = 1; id < storage.pool.size(); ++id) small.intern(storage.pool.get(id));
  storage.pool = std::move(small);
  Word w = doc.words().at(0);
  expect_error<std::overflow_error>([&] { w.set_lemma("new"); },
                                    "the document string pool is full");
  EXPECT_FALSE(w.lemma());
  w.set_lemma("I");  // an existing string still fits
  EXPECT_EQ(w.lemma(), std::optional<std::string>("I"));
}

}  // namespace
