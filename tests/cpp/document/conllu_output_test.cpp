// CoNLL-U text of documents and sentences.
#include <gtest/gtest.h>

#include "document_records.hpp"
#include "velmora/conllu.hpp"

namespace {

using namespace doc_test;
using velmora::Document;

const std::string kBlank = "\t_\t_\t_\t_\t_\t_\t_\t_";  // LEMMA to MISC without values

TEST(ConlluOutput, SentencesGetGeneratedIdAndTextLines) {
  const Document doc("Hello world. Bye",
                     {sentence_of({token(1, "Hello", 0, 5), token(2, "world", 6, 11)}),
                      sentence_of({token(1, "Bye", 13, 16)})});
  EXPECT_EQ(doc.to_conll(),
            "# sent_id = 0\n# text = Hello world\n1\tHello" + kBlank + "\n2\tworld" + kBlank +
                "\n\n# sent_id = 1\n# text = Bye\n1\tBye" + kBlank);
  EXPECT_EQ(doc.sentences().at(1).to_conll(), "# sent_id = 1\n# text = Bye\n1\tBye" + kBlank);
}

TEST(ConlluOutput, StoredCommentsComeFirstAndSuppressGeneratedLines) {
  SentenceInput s = sentence({"a"});
  s.sent_id = "given";
  s.comments = {"# sent_id = mine", "# note"};
  EXPECT_EQ(Document("", {s}).to_conll(), "# sent_id = mine\n# note\n# text = a \n1\ta" + kBlank);
  s.comments = {"# textual"};
  s.text = "";
  EXPECT_EQ(Document("", {s}).to_conll(), "# textual\n# sent_id = given\n1\ta" + kBlank);
}

TEST(ConlluOutput, MultiWordTokensGetARangeLine) {
  TokenInput t = mwt(1, "du", {"de", "le"});
  EXPECT_EQ(Document("", {sentence_of({t})}).sentences().at(0).to_conll(),
            "# sent_id = 0\n# text = du \n1-2\tdu\t_\t_\t_\t_\t_\t_\t_\t_\n1\tde" + kBlank +
                "\n2\tle" + kBlank);
  t.misc = "SpaceAfter=No";
  const std::string text = Document("", {sentence_of({t})}).to_conll();
  EXPECT_NE(text.find("1-2\tdu\t_\t_\t_\t_\t_\t_\t_\tSpaceAfter=No\n"), std::string::npos);
}

TEST(ConlluOutput, WordLinesWriteEveryColumn) {
  TokenInput t = token(1, "undo");
  t.spaces_after = "";
  velmora::WordInput& w = t.words[0];
  w.lemma = "undo";
  w.upos = "VERB";
  w.xpos = "";
  w.feats = "Mood=Imp";
  w.head = 0;
  w.deprel = "root";
  w.deps = "0:root";
  w.misc = "Gloss=x";
  w.morphemes = {"un", "do"};
  Document doc("", {sentence_of({t})});
  const auto& storage = *doc.storage();
  EXPECT_EQ(velmora::detail::conll_word_line(storage, 0),
            "1\tundo\tundo\tVERB\t_\tMood=Imp\t0\troot\t0:root\tGloss=x|Morphemes=un,do");
  velmora::Word word = doc.words().at(0);
  word.set_misc(std::nullopt);
  word.set_head(-3);
  EXPECT_EQ(velmora::detail::conll_word_line(storage, 0),
            "1\tundo\tundo\tVERB\t_\tMood=Imp\t-3\troot\t0:root\tMorphemes=un,do");
  word.set_morphemes({});
  word.set_misc("");
  word.set_lemma("");
  EXPECT_EQ(velmora::detail::conll_word_line(storage, 0),
            "1\tundo\t_\tVERB\t_\tMood=Imp\t-3\troot\t0:root\t_");
  EXPECT_EQ(velmora::detail::conll_field(storage.pool.strings(), velmora::kNoString), "_");
  EXPECT_EQ(velmora::detail::conll_field(storage.pool.strings(), 0), "_");
}

TEST(ConlluOutput, EmptyWordsGoInPositionOrder) {
  SentenceInput s = sentence({"a", "b", "c"});
  s.empty_words = {empty_word(2, 1, "x")};
  Document doc("", {s});
  // Generated words added out of position order still print by (id, empty index).
  doc.storage()->add_empty_word(0, empty_word(3, 1, "z"));
  doc.storage()->add_empty_word(0, empty_word(2, 2, "y"));
  doc.storage()->add_empty_word(0, empty_word(0, 1, "w"));
  const std::string text = doc.to_conll();
  std::vector<std::string> ids;
  std::size_t line_start = text.find("\n", text.find("# text")) + 1;
  while (line_start < text.size()) {
    ids.push_back(text.substr(line_start, text.find('\t', line_start) - line_start));
    const std::size_t next = text.find('\n', line_start);
    if (next == std::string::npos) break;
    line_start = next + 1;
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"0.1", "1", "2", "2.1", "2.2", "3", "3.1"}));
  // Insertion order is untouched.
  EXPECT_EQ(ids_of(doc.sentences().at(0).empty_words()),
            (std::vector<std::string>{"2.1", "3.1", "2.2", "0.1"}));
}

TEST(ConlluOutput, EmptyDocumentsAndSentences) {
  EXPECT_EQ(Document("").to_conll(), "");
  EXPECT_EQ(Document("", {SentenceInput{}}).to_conll(), "# sent_id = 0\n");
}

TEST(ConlluOutput, InvalidPoolIdsFail) {
  Document doc("", {sentence({"a"})});
  doc.storage()->word_lemma[0] = 999;
  expect_error<std::out_of_range>([&] { doc.to_conll(); }, "invalid string pool identifier");
  doc.storage()->word_lemma[0] = velmora::kNoString;
  doc.storage()->word_text[0] = velmora::kNoString;
  expect_error<std::out_of_range>([&] { doc.to_conll(); }, "invalid string pool identifier");
}

}  // namespace
