// Expanding the marked tokens of a document: word lists and ids, the MISC mark, tokens that
// were expanded by hand, other tokens, and the storage rebuilt in place.

#include <velmora/document.hpp>
#include <velmora/mwt.hpp>

#include "document/document_records.hpp"
#include "seq2seq/test_support.hpp"

namespace velmora {
namespace {

using namespace seq2seq_test;
using doc_test::empty_word;

TokenInput token(std::int32_t id, std::string text, std::optional<std::string> misc = std::nullopt) {
  TokenInput record;
  record.id_start = record.id_end = id;
  record.text = std::move(text);
  record.misc = std::move(misc);
  WordInput word;
  word.id = id;
  word.text = record.text;
  word.head = 0;
  word.deprel = "root";
  record.words.push_back(word);
  return record;
}

// Each token as "first-last text(id word ...)" followed by "{misc}" when it has one.
std::string describe(const Document& document) {
  std::string out;
  const SentenceSequence sentences = document.sentences();
  for (std::size_t s = 0; s < sentences.size(); ++s) {
    if (s > 0) out += " / ";
    const TokenSequence tokens = sentences.at(static_cast<long>(s)).tokens();
    for (std::size_t t = 0; t < tokens.size(); ++t) {
      const Token tok = tokens.at(static_cast<long>(t));
      if (t > 0) out += " ";
      out += std::to_string(tok.id_range().first) + "-" + std::to_string(tok.id_range().second) + " " + tok.text() + "(";
      const WordSequence words = tok.words();
      for (std::size_t w = 0; w < words.size(); ++w) {
        const Word word = words.at(static_cast<long>(w));
        if (w > 0) out += " ";
        out += std::to_string(word.id()) + " " + word.text();
      }
      out += ")";
      if (tok.misc()) out += "{" + *tok.misc() + "}";
    }
  }
  return out;
}

class DocumentExpansion : public ::testing::Test {
 protected:
  MWTPlan plan_{TestData::load_variant("mwt_dict_only_half"), false};
};

TEST_F(DocumentExpansion, MarkedTokensBecomeTheirWordsAndIdsFollow) {
  SentenceInput first;
  first.tokens = {token(1, "a"), token(2, "del", "MWT=Yes"), token(3, "c", "SpaceAfter=No|MWT=Yes")};
  SentenceInput second;
  second.tokens = {token(1, "Del", "A=1||MWT=Yes|B=2"), token(2, "x", "MWT=Yes"), token(3, "a", "mwt=yes"),
                   token(4, "a", "MWT=Yes "), token(5, "a", "MWT=Yes=1")};
  Document document("", {first, second});
  document.set_lang("es");
  const Document other = document;
  const Document result = plan_.process(document);
  EXPECT_TRUE(result.same_storage(document));
  const std::string expected =
      "1-1 a(1 a) 2-3 del(2 de 3 el) 4-4 c(4 c){SpaceAfter=No} / "
      "1-2 Del(1 De 2 el){A=1|B=2} 3-3 x(3 x) 4-4 a(4 a){mwt=yes} 5-5 a(5 a){MWT=Yes } 6-6 a(6 a){MWT=Yes=1}";
  EXPECT_EQ(describe(other), expected);
  EXPECT_EQ(other.lang(), "es");
}

TEST_F(DocumentExpansion, OneWordExpansionsKeepTheTokenTextAndOffsets) {
  SentenceInput sentence;
  TokenInput x = token(1, "x", "MWT=Yes");
  x.start_char = 0;
  x.end_char = 1;
  sentence.tokens = {x};
  Document document("x", {sentence});
  plan_.process(document);
  const Word word = document.words().at(0);
  EXPECT_EQ(word.text(), "x");
  EXPECT_EQ(word.start_char(), 0u);
  EXPECT_FALSE(document.tokens().at(0).misc());
}

TEST_F(DocumentExpansion, OtherTokensAreRenumberedAndLoseTheirRelations) {
  SentenceInput sentence;
  TokenInput manual;
  manual.id_start = 5;  // expanded by hand, numbered as if two words came before it
  manual.id_end = 6;
  manual.text = "al";
  manual.manual_expansion = true;
  for (auto [id, text] : {std::pair{5, "a"}, std::pair{6, "el"}}) {
    WordInput word;
    word.id = id;
    word.text = text;
    word.head = 1;
    word.deprel = "case";
    manual.words.push_back(word);
  }
  TokenInput several = manual;  // several words, neither marked nor expanded by hand
  several.manual_expansion.reset();
  several.text = "del";
  TokenInput bare;
  bare.id_start = bare.id_end = 9;
  bare.text = "b";
  sentence.tokens = {token(1, "del", "MWT=Yes"), manual, several, bare};
  Document document("", {sentence});
  plan_.process(document);
  EXPECT_EQ(describe(document), "1-2 del(1 de 2 el) 3-4 al(3 a 4 el) 5-6 del(5 a 6 el) 7-7 b(7 b)");
  const WordSequence words = document.words();
  EXPECT_EQ(words.at(2).head(), 1);  // words expanded by hand keep their relations
  EXPECT_EQ(words.at(2).deprel(), "case");
  EXPECT_FALSE(document.tokens().at(1).manual_expansion());
  EXPECT_FALSE(words.at(4).head());
  EXPECT_FALSE(words.at(4).deprel());
}

TEST_F(DocumentExpansion, EmptyWordsMoveWithTheWordTheyFollow) {
  TokenInput expanded_again;  // a multi-word token marked for expansion: its words are replaced
  expanded_again.id_start = 4;
  expanded_again.id_end = 5;
  expanded_again.text = "del";
  expanded_again.misc = "MWT=Yes";
  for (auto [id, text] : {std::pair{4, "x"}, std::pair{5, "y"}}) {
    WordInput word;
    word.id = id;
    word.text = text;
    expanded_again.words.push_back(word);
  }
  SentenceInput sentence;
  sentence.tokens = {token(1, "a"), token(2, "del", "MWT=Yes"), token(3, "z"), expanded_again};
  sentence.empty_words = {empty_word(5, 1, "e5"), empty_word(4, 1, "e4"), empty_word(3, 2, "e3b"),
                          empty_word(3, 1, "e3"),  empty_word(2, 1, "e2"), empty_word(1, 1, "e1"),
                          empty_word(0, 1, "e0")};
  Document document("", {sentence});
  plan_.process(document);
  std::string words;
  const WordSequence all = document.sentences().at(0).all_words();
  for (std::size_t w = 0; w < all.size(); ++w) {
    const Word word = all.at(static_cast<long>(w));
    words += std::to_string(word.id());
    if (word.empty_index()) words += "." + std::to_string(*word.empty_index());
    words += " " + word.text() + (w + 1 < all.size() ? ", " : "");
  }
  // The empty words of the expanded tokens follow their last word; the two that followed the
  // words of the second expansion now follow one word and are numbered after each other.
  EXPECT_EQ(words,
            "0.1 e0, 1 a, 1.1 e1, 2 de, 3 el, 3.1 e2, 4 z, 4.1 e3, 4.2 e3b, 5 de, 6 el, 6.1 e4, "
            "6.2 e5");
}

TEST_F(DocumentExpansion, ADocumentWithoutSentencesStaysEmpty) {
  Document document("some text");
  document.set_lang("de");
  const Document result = plan_.process(document);
  EXPECT_EQ(result.sentences().size(), 0u);
  EXPECT_EQ(result.text(), "some text");
  EXPECT_EQ(result.lang(), "de");
}

}  // namespace
}  // namespace velmora
