// Coreference values and their storage: the checks a value makes on its own, shared chain
// objects and per-word attachments.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "document_records.hpp"
#include "velmora/coref_values.hpp"

namespace {

using namespace doc_test;
using velmora::CorefAttachment;
using velmora::CorefChain;
using velmora::CorefMention;
using velmora::CorefWordPosition;
using velmora::Document;

CorefMention regular(int sentence, int start, int end) {
  return CorefMention(sentence, CorefWordPosition{start, std::nullopt},
                      CorefWordPosition{end, std::nullopt});
}

CorefMention zero(int sentence, int word, int m, int end_word, std::optional<int> end_m) {
  return CorefMention(sentence, CorefWordPosition{word, m}, CorefWordPosition{end_word, end_m});
}

CorefChain chain(int index, std::vector<CorefMention> mentions,
                 std::optional<int> rep = std::nullopt) {
  return CorefChain(index, std::move(mentions), "rep", rep);
}

// "s" / "e" / "r" flags of each attachment of a word, e.g. "se" or "r".
std::vector<std::string> flags(const velmora::Word& word) {
  std::vector<std::string> out;
  for (const CorefAttachment& a : word.coref_chains()) {
    out.push_back(std::string(a.is_start() ? "s" : "") + (a.is_end() ? "e" : "") +
                  (a.is_representative() ? "r" : ""));
  }
  return out;
}

Document three_words_with_empty_words() {
  SentenceInput s = sentence({"a", "b", "c"});
  s.empty_words = {empty_word(3, 1, "e31"), empty_word(3, 2, "e32")};
  return Document("", {s, sentence({"d"})});
}

TEST(CorefStorage, MentionAttachesEveryCoveredWord) {
  Document doc = three_words_with_empty_words();
  doc.set_coref({chain(0, {regular(0, 0, 3), regular(1, 0, 1), regular(0, 2, 2)})});
  const auto words = doc.words();
  EXPECT_EQ(flags(words.at(0)), std::vector<std::string>{"s"});
  EXPECT_EQ(flags(words.at(1)), std::vector<std::string>{""});
  EXPECT_EQ(flags(words.at(2)), std::vector<std::string>{"e"});
  EXPECT_EQ(flags(words.at(3)), std::vector<std::string>{"se"});
  ASSERT_EQ(doc.coref().size(), 1u);
  EXPECT_EQ(words.at(0).coref_chains()[0].chain(), doc.coref()[0]) << "attachments share the chain";
}

TEST(CorefStorage, OnlyTheRepresentativeMentionIsMarked) {
  Document doc = three_words_with_empty_words();
  doc.set_coref({chain(4, {regular(0, 0, 1), regular(0, 1, 3), regular(0, 2, 3)}, 1)});
  const auto words = doc.words();
  EXPECT_EQ(flags(words.at(0)), std::vector<std::string>{"se"});
  EXPECT_EQ(flags(words.at(1)), std::vector<std::string>{"sr"});
  EXPECT_EQ(flags(words.at(2)), (std::vector<std::string>{"er", "se"}));
}

TEST(CorefStorage, ZeroMentionAttachesToItsEmptyWord) {
  Document doc = three_words_with_empty_words();
  doc.set_coref({chain(0, {zero(0, 3, 1, 3, 1)}, 0)});
  const auto empty = doc.sentences().at(0).empty_words();
  EXPECT_EQ(flags(empty.at(0)), std::vector<std::string>{"se"}) << "never representative";
  EXPECT_TRUE(flags(empty.at(1)).empty());
}

TEST(CorefStorage, SettingAgainReplacesEverything) {
  Document doc = three_words_with_empty_words();
  doc.set_coref({chain(0, {regular(0, 0, 1)})});
  doc.set_coref({chain(1, {regular(0, 1, 2)})});
  EXPECT_TRUE(doc.words().at(0).coref_chains().empty());
  ASSERT_EQ(doc.words().at(1).coref_chains().size(), 1u);
  EXPECT_EQ(doc.words().at(1).coref_chains()[0].chain()->index(), 1);
  doc.set_coref({});
  EXPECT_TRUE(doc.coref().empty());
  EXPECT_TRUE(doc.words().at(1).coref_chains().empty());
}

TEST(CorefStorage, BadMentionsAreRefusedAndKeepThePreviousAnnotation) {
  const struct {
    CorefMention mention;
    std::string message;
  } cases[] = {
      {regular(2, 0, 1), "a coreference mention has an invalid sentence index"},
      {regular(0, -1, 1), "a coreference mention has an invalid word range"},
      {regular(0, 2, 1), "a coreference mention has an invalid word range"},
      {regular(0, 0, 4), "a coreference mention has an invalid word range"},
      {zero(0, 3, 1, 3, 2), "a zero coreference mention must name one empty word"},
      {zero(0, 3, 1, 3, std::nullopt), "a zero coreference mention must name one empty word"},
      {zero(0, 3, 1, 2, 1), "a zero coreference mention must name one empty word"},
      {zero(0, 2, 1, 2, 1), "a zero coreference mention has no matching empty word"},
      {zero(1, 3, 1, 3, 1), "a zero coreference mention has no matching empty word"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Document doc = three_words_with_empty_words();
    doc.set_coref({chain(0, {regular(0, 0, 1)})});
    const auto previous = doc.coref()[0];
    const std::vector<CorefChain> chains{chain(1, {regular(0, 1, 2)}),
                                         chain(2, {regular(1, 0, 1), c.mention})};
    expect_error<std::out_of_range>([&] { doc.set_coref(chains); }, c.message);
    ASSERT_EQ(doc.coref().size(), 1u);
    EXPECT_EQ(doc.coref()[0], previous);
    EXPECT_EQ(doc.words().at(0).coref_chains().size(), 1u);
    EXPECT_TRUE(doc.words().at(1).coref_chains().empty());
    EXPECT_TRUE(doc.words().at(3).coref_chains().empty());
  }
}

TEST(CorefStorage, DroppedGeneratedWordsTakeTheirAttachmentsAlong) {
  Document doc = three_words_with_empty_words();
  auto& s = *doc.storage();
  s.add_empty_word(1, empty_word(1, 1, "gen"));
  doc.set_coref({chain(0, {zero(1, 1, 1, 1, 1), regular(0, 0, 1)})});
  const auto chain_object = doc.coref()[0];
  s.reset_generated_empty_words();
  EXPECT_EQ(doc.coref().size(), 1u);
  EXPECT_EQ(chain_object.use_count(), 3) << "the chain list, one word and this copy";
}

template <class Fn>
std::string invalid_argument_of(Fn&& fn) {
  try {
    fn();
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "no invalid_argument";
}

TEST(CorefMention, RefusesANegativeSentenceOnly) {
  EXPECT_EQ(invalid_argument_of([] { regular(-1, 0, 1); }), "a coreference mention sentence index cannot be negative");
  // Order and kind of the boundaries are checked when chains are stored in a document.
  EXPECT_NO_THROW(regular(0, 5, 2));
  EXPECT_NO_THROW(CorefMention(0, {1, 1}, {2, 3}));
  EXPECT_NO_THROW(CorefMention(0, {1, std::nullopt}, {2, 3}));
}

TEST(CorefChain, ChecksIndexBeforeRepresentative) {
  struct Case {
    int index;
    std::size_t mentions;
    std::optional<int> representative;
    std::string error;
  };
  const std::vector<Case> cases = {
      {0, 0, std::nullopt, ""},
      {0, 0, 0, "the representative coreference mention index is invalid"},
      {3, 2, 1, ""},
      {3, 2, 2, "the representative coreference mention index is invalid"},
      {3, 2, -1, "the representative coreference mention index is invalid"},
      {-1, 0, 0, "a coreference chain index cannot be negative"},
      {-1, 2, 0, "a coreference chain index cannot be negative"},
  };
  for (const Case& c : cases) {
    std::vector<CorefMention> mentions(c.mentions, regular(0, 0, 1));
    const std::string error = invalid_argument_of([&] { CorefChain(c.index, mentions, "x", c.representative); });
    EXPECT_EQ(error, c.error.empty() ? "no invalid_argument" : c.error) << "index " << c.index;
  }
}

}  // namespace
