// CoNLL-U text of documents and sentences.
#include <gtest/gtest.h>

#include <algorithm>

#include "document_records.hpp"
#include "velmora/conllu.hpp"
#include "velmora/misc_spacing.hpp"
#include "velmora/unicode.hpp"

namespace {

using namespace doc_test;
using velmora::Document;

const std::string kBlank = "\t_\t_\t_\t_\t_\t_\t_\t_";  // LEMMA to MISC without values

TEST(ConlluOutput, SentencesGetGeneratedIdAndTextLines) {
  const Document doc("Hello world Bye ",
                     {sentence_of({token(1, "Hello", 0, 5), token(2, "world", 6, 11)}),
                      sentence_of({token(1, "Bye", 12, 15)})});
  EXPECT_EQ(doc.to_conll(),
            "# sent_id = 0\n# text = Hello world\n1\tHello" + kBlank + "\n2\tworld" + kBlank +
                "\n\n# sent_id = 1\n# text = Bye\n1\tBye" + kBlank);
  EXPECT_EQ(doc.sentences().at(1).to_conll(), "# sent_id = 1\n# text = Bye\n1\tBye" + kBlank);
  EXPECT_EQ(Document("").to_conll(), "");
  EXPECT_EQ(Document("", {SentenceInput{}}).to_conll(), "# sent_id = 0\n");
}

TEST(ConlluOutput, StoredCommentsComeFirstAndSuppressGeneratedLines) {
  SentenceInput s = sentence({"a"});
  s.sent_id = "given";
  s.comments = {"# sent_id = mine", "# note"};
  EXPECT_EQ(Document("", {s}).to_conll(), "# sent_id = mine\n# note\n# text = a\n1\ta" + kBlank);
  s.comments = {"# textual"};
  s.text = "";
  EXPECT_EQ(Document("", {s}).to_conll(), "# textual\n# sent_id = given\n1\ta" + kBlank);
}

TEST(ConlluOutput, WordLinesWriteEveryColumn) {
  TokenInput t = token(1, "undo");
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

// One column of every data line, in order: the ID column or the last (MISC) one.
std::vector<std::string> column_of(const std::string& text, bool misc) {
  std::vector<std::string> column;
  std::size_t line_start = 0;
  while (line_start < text.size()) {
    std::size_t next = text.find('\n', line_start);
    if (next == std::string::npos) next = text.size();
    if (text[line_start] != '#') {
      const std::size_t first = misc ? text.rfind('\t', next) + 1 : line_start;
      const std::size_t end = misc ? next : text.find('\t', line_start);
      column.push_back(text.substr(first, end - first));
    }
    line_start = next + 1;
  }
  return column;
}

TEST(ConlluOutput, EmptyWordsGoInPositionOrder) {
  const struct {
    const char* name;
    std::vector<TokenInput> tokens;
    std::vector<velmora::WordInput> input;      // empty words of the records
    std::vector<velmora::WordInput> generated;  // added afterwards, out of order
    std::vector<std::string> ids;
  } cases[] = {
      {"single-word tokens",
       {token(1, "a"), token(2, "b"), token(3, "c")},
       {empty_word(2, 1, "x")},
       {empty_word(3, 1, "z"), empty_word(2, 2, "y"), empty_word(0, 1, "w")},
       {"0.1", "1", "2", "2.1", "2.2", "3", "3.1"}},
      {"after a word inside a multi-word token",
       {mwt(1, "al", {"a", "el"}), token(3, "c")},
       {},
       {empty_word(2, 1, "y"), empty_word(1, 1, "x")},
       {"1-2", "1", "1.1", "2", "2.1", "3"}},
      {"after the last word of a multi-word token",
       {token(1, "a"), mwt(2, "del", {"de", "el"})},
       {empty_word(3, 1, "z")},
       {empty_word(1, 1, "x"), empty_word(2, 1, "y")},
       {"1", "1.1", "2-3", "2", "2.1", "3", "3.1"}},
  };
  for (const auto& c : cases) {
    SentenceInput s = sentence_of(c.tokens);
    s.empty_words = c.input;
    Document doc("", {s});
    for (const auto& word : c.generated) doc.storage()->add_empty_word(0, word);
    EXPECT_EQ(column_of(doc.to_conll(), false), c.ids) << c.name;
    // Word lines in the order of all_words, ranges aside.
    std::vector<std::string> words;
    for (const std::string& id : c.ids) {
      if (id.find('-') == std::string::npos) words.push_back(id);
    }
    EXPECT_EQ(ids_of(doc.sentences().at(0).all_words()), words) << c.name;
  }
  // Insertion order is untouched.
  SentenceInput s = sentence({"a", "b", "c"});
  s.empty_words = {empty_word(2, 1, "x")};
  Document doc("", {s});
  doc.storage()->add_empty_word(0, empty_word(0, 1, "w"));
  EXPECT_EQ(ids_of(doc.sentences().at(0).empty_words()), (std::vector<std::string>{"2.1", "0.1"}));
}

TEST(ConlluOutput, TokenSpacingIsFoldedIntoMiscAsInTheDictionaryForm) {
  auto with_word_misc = [](TokenInput t, std::string misc) {
    t.words[0].misc = std::move(misc);
    return t;
  };
  TokenInput morphemes = token(1, "undo");
  morphemes.words[0].morphemes = {"un", "do"};
  TokenInput ranged = mwt(1, "al", {"a", "el"});
  ranged.misc = "Tok=1";
  ranged.words[1].misc = "W=2";
  const struct {
    const char* name;
    TokenInput token;
    std::vector<std::string> misc;
  } cases[] = {
      {"one space after adds nothing", token(1, "a"), {"_"}},
      {"no space after", spaced(token(1, "a"), "", ""), {"SpaceAfter=No"}},
      {"other spacing is escaped", spaced(token(1, "a"), "  ", "\n"),
       {"SpacesAfter=\\n|SpacesBefore=\\s\\s"}},
      {"stored pieces are sorted with added ones",
       spaced(with_word_misc(token(1, "a"), "Gloss=x"), "", "\t|"),
       {"Gloss=x|SpacesAfter=\\t\\p"}},
      {"a stored spacing piece is not said twice",
       spaced(with_word_misc(token(1, "a"), "SpaceAfter=No|SpacesBefore=\\t"), "\t", ""),
       {"SpaceAfter=No|SpacesBefore=\\t"}},
      {"stored pieces alone keep their order", with_word_misc(token(1, "a"), "Zeta=1|Alpha=2"),
       {"Zeta=1|Alpha=2"}},
      {"morphemes come after the spacing", spaced(morphemes, "", ""),
       {"SpaceAfter=No|Morphemes=un,do"}},
      {"a range line carries the spacing, its words none", spaced(ranged, "", ""),
       {"SpaceAfter=No|Tok=1", "_", "W=2"}},
  };
  for (const auto& c : cases) {
    Document doc("", {sentence_of({c.token})});
    EXPECT_EQ(column_of(doc.to_conll(), true), c.misc) << c.name;
    const std::uint32_t last_row = static_cast<std::uint32_t>(doc.num_words() - 1);
    const std::string line = velmora::detail::conll_word_line(*doc.storage(), last_row);
    EXPECT_EQ(line.substr(line.rfind('\t') + 1), c.misc.back()) << c.name;
  }
  // An empty word keeps its MISC as stored.
  SentenceInput s = sentence_of({spaced(token(1, "a"), "", "")});
  s.empty_words = {empty_word(1, 1, "x")};
  s.empty_words[0].misc = "Zeta=1|Alpha=2";
  EXPECT_EQ(column_of(Document("", {s}).to_conll(), true),
            (std::vector<std::string>{"SpaceAfter=No", "Zeta=1|Alpha=2"}));
}

TEST(ConlluOutput, TabsAndLineBreaksNeverSplitALineOrAColumn) {
  TokenInput ranged = mwt(2, "w\rx", {"w", "x"});
  ranged.start_char = 6;
  ranged.end_char = 11;
  SentenceInput s = sentence_of({token(1, "Hello", 0, 5), ranged});
  s.tokens[0].words[0].lemma = "hel\tlo";
  s.tokens[0].words[0].xpos = "X\u2029Y\vZ";
  s.tokens[0].words[0].misc = "A=1\nB=2";
  s.tokens[0].words[0].morphemes = {"he\tl", "lo"};
  s.tokens[1].misc = "T=\t";
  s.sent_id = "id\nnext";
  s.comments = {"# note\r\nmore", "pl\u0085ain", ""};
  Document doc("Hello\nthere", {s});
  doc.tokens().at(1).words().at(0).set_text("w\tv");
  doc.tokens().at(1).words().at(0).set_feats("F=1\r");
  EXPECT_EQ(doc.to_conll(),
            "# note  more\n# pl ain\n#\n# sent_id = id next\n# text = Hello there\n"
            "1\tHello\thel lo\t_\tX Y Z\t_\t_\t_\t_\tA=1 B=2|SpacesAfter=\\n|Morphemes=he l,lo\n"
            "2-3\tw x\t_\t_\t_\t_\t_\t_\t_\tSpaceAfter=No|T= \n"
            "2\tw v\t_\t_\t_\tF=1 \t_\t_\t_\t_\n"
            "3\tx" +
                kBlank);
}

TEST(ConlluOutput, WhiteSpaceBetweenTokensIsEscapedInMiscAndBreaksNoTextLine) {
  // The tokens a and b with one character between them: the MISC of a, and the "# text" line.
  const struct {
    char32_t between;
    const char* misc;
    const char* text_line;
  } cases[] = {
      {0x0B, "SpacesAfter=\\u000B", "a b"},          {0x0C, "SpacesAfter=\\u000C", "a b"},
      {0x1C, "SpacesAfter=\\u001C", "a b"},          {0x1E, "SpacesAfter=\\u001E", "a b"},
      {0x1F, "SpacesAfter=\\u001F", "a\x1F" "b"},     {0x85, "SpacesAfter=\\u0085", "a b"},
      {0xA0, "SpacesAfter=\\u00A0", "a\u00A0b"},     {0x1680, "SpacesAfter=\\u1680", "a\u1680b"},
      {0x2000, "SpacesAfter=\\u2000", "a\u2002b"},   {0x2001, "SpacesAfter=\\u2001", "a\u2003b"},
      {0x2009, "SpacesAfter=\\u2009", "a\u2009b"},   {0x2028, "SpacesAfter=\\u2028", "a b"},
      {0x2029, "SpacesAfter=\\u2029", "a b"},         {0x202F, "SpacesAfter=\\u202F", "a\u202Fb"},
      {0x3000, "SpacesAfter=\\u3000", "a\u3000b"},
  };
  for (const auto& c : cases) {
    std::string between;
    velmora::detail::append_utf8(between, c.between);
    const Document doc("a" + between + "b", {sentence_of({token(1, "a", 0, 1), token(2, "b", 2, 3)})});
    const std::string conll = doc.to_conll();
    EXPECT_EQ(column_of(conll, true), (std::vector<std::string>{c.misc, "SpaceAfter=No"})) << c.misc;
    EXPECT_NE(conll.find(std::string("\n# text = ") + c.text_line + "\n1\ta\t"), std::string::npos) << c.misc;
    const std::string piece = c.misc;
    EXPECT_EQ(velmora::detail::clean_token_misc(piece).spaces_after, between) << c.misc;
  }
  // Only the escapes that are written are read: others, lower-case hex digits included, stay.
  EXPECT_EQ(velmora::detail::unescape_misc_spaces("\\u0041\\u200a\\u00A\\u3000"),
            "\\u0041\\u200a\\u00A\u3000");
}

TEST(ConlluOutput, LongSentencesAndDocumentsAreWrittenInOnePass) {
  // One sentence of 200,000 words in 100,000 multi-word tokens, an empty word after every
  // tenth word, and a document of 50,000 short sentences: each is written in well under a
  // second when the writer is linear.
  SentenceInput longest;
  for (int id = 1; id <= 200000; id += 2) {
    longest.tokens.push_back(spaced(mwt(id, "ab", {"a", "b"}), "", id % 4 == 1 ? "" : " "));
  }
  for (int id = 10; id <= 200000; id += 10) longest.empty_words.push_back(empty_word(id, 1, "e"));
  const std::string one = Document("", {longest}).to_conll();
  // Two comment lines, then 100,000 range lines, 200,000 word lines and 20,000 empty words.
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 2 + 320000 - 1);
  EXPECT_NE(one.find("\n9-10\tab\t_\t_\t_\t_\t_\t_\t_\tSpaceAfter=No\n9\ta" + kBlank +
                     "\n10\tb" + kBlank + "\n10.1\te" + kBlank + "\n11-12\tab\t"),
            std::string::npos);
  EXPECT_TRUE(one.ends_with("\n200000\tb" + kBlank + "\n200000.1\te" + kBlank));

  const std::vector<SentenceInput> many(50000, sentence({"a", "b"}));
  const std::string all = Document("", many).to_conll();
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 50000 * 3 + 49999 * 2);
  EXPECT_TRUE(all.ends_with("# sent_id = 49999\n# text = a b\n1\ta" + kBlank + "\n2\tb" + kBlank));
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
