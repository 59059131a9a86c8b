// Sequences over document rows: Python-style indexing, slices, reversal and membership.
#include <gtest/gtest.h>

#include "document_records.hpp"

namespace {

using namespace doc_test;
using velmora::Document;
using velmora::Sentence;
using velmora::SentenceSequence;
using velmora::SequenceRange;
using velmora::WordSequence;

Document five_words() {
  return Document("", {sentence({"a", "b", "c", "d", "e"}), sentence({"f"})});
}

TEST(DocumentSequences, DefaultSequencesAreEmpty) {
  expect_error<std::out_of_range>([] { SentenceSequence().at(0); },
                                  "index is outside the sequence");
  expect_error<std::out_of_range>([] { velmora::TokenSequence().at(-1); },
                                  "index is outside the sequence");
  expect_error<std::out_of_range>([] { WordSequence().at(0); }, "index is outside the sequence");
  EXPECT_EQ(velmora::SpanSequence().size(), 0u);
}

TEST(DocumentSequences, NegativeIndicesSlicesAndReversal) {
  const Document doc = five_words();
  const auto words = doc.sentences().at(0).words();
  EXPECT_EQ(words.at(-1).text(), "e");
  EXPECT_EQ(words.at(-5).text(), "a");
  expect_error<std::out_of_range>([&] { words.at(5); }, "index is outside the sequence");
  expect_error<std::out_of_range>([&] { words.at(-6); }, "index is outside the sequence");
  EXPECT_EQ(texts_of(words.slice(1, 2, 2)), (std::vector<std::string>{"b", "d"}));
  EXPECT_EQ(texts_of(words.reversed()), (std::vector<std::string>{"e", "d", "c", "b", "a"}));
  EXPECT_EQ(texts_of(words.reversed().slice(1, 2, 2)), (std::vector<std::string>{"d", "b"}));
  EXPECT_EQ(texts_of(doc.tokens().reversed().slice(0, 3, 2)), (std::vector<std::string>{"f", "c"}));
  EXPECT_EQ(doc.sentences().reversed().at(0).index(), 1u);
}

TEST(DocumentSequences, MembershipIsIdentityOfStorageAndRow) {
  const Document doc = five_words();
  const Document twin = five_words();
  const auto words = doc.sentences().at(0).words();
  EXPECT_TRUE(words.contains(doc.words().at(2)));
  EXPECT_FALSE(words.contains(doc.words().at(5)));
  EXPECT_FALSE(words.contains(twin.words().at(2))) << "equal content, other storage";
  EXPECT_FALSE(words.contains(velmora::Word(doc.storage(), velmora::kNoRow, 0)));
  EXPECT_FALSE(words.slice(0, 1, 0).contains(doc.words().at(0)));
  EXPECT_TRUE(doc.sentences().contains(Sentence(doc.storage(), 1)));
  EXPECT_FALSE(doc.sentences().slice(0, 1, 1).contains(Sentence(doc.storage(), 1)));
  EXPECT_TRUE(doc.tokens().reversed().contains(doc.tokens().at(0)));
}

TEST(DocumentSequences, RowListSequencesShareTheirList) {
  SentenceInput input = sentence({"a", "b"});
  input.empty_words = {empty_word(1, 1, "x"), empty_word(0, 1, "y")};
  const Document doc("", {input});
  const WordSequence all = doc.sentences().at(0).all_words();
  const WordSequence back = all.slice(1, 1, 3).reversed();
  EXPECT_EQ(back.rows(), all.rows()) << "slices share the row list";
  EXPECT_EQ(ids_of(back), (std::vector<std::string>{"2", "1.1", "1"}));
  EXPECT_EQ(back.resolve(0), 1u);
  EXPECT_TRUE(all.contains(doc.sentences().at(0).empty_words().at(0)));
  EXPECT_FALSE(doc.words().contains(doc.sentences().at(0).empty_words().at(0)));
}

TEST(DocumentSequences, RowListPositionsOutsideTheListAreRefused) {
  const Document doc = five_words();
  const WordSequence listed(doc.storage(), WordSequence::RowList{0, 1});
  const WordSequence overlong(doc.storage(), SequenceRange{0, 1, 3}, listed.rows());
  EXPECT_THROW(overlong.at(2), std::out_of_range);
  EXPECT_FALSE(overlong.contains(doc.words().at(5)));
}

}  // namespace
