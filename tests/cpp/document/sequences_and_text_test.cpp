// Python-style indexing, slicing and reversal of row ranges and document sequences, and the
// document text: validated UTF-8 addressed by code point.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "document_records.hpp"
#include "velmora/sequence_range.hpp"
#include "velmora/utf8_text.hpp"

namespace {

using velmora::SequenceRange;

std::vector<std::uint32_t> rows_of(const SequenceRange& range) {
  std::vector<std::uint32_t> rows;
  for (std::uint64_t p = 0; p < range.length; ++p) rows.push_back(range.resolve(static_cast<long>(p)));
  return rows;
}

void expect_outside(const SequenceRange& range, long index) {
  try {
    range.resolve(index);
    FAIL() << "index " << index << " resolved";
  } catch (const std::out_of_range& error) {
    EXPECT_STREQ(error.what(), "index is outside the sequence");
  }
}

TEST(SequenceRange, IndicesOutsideTheRangeFail) {
  const SequenceRange range{10, 1, 4};
  for (long index : {4L, -5L, 1000L, -1000L}) expect_outside(range, index);
  for (long index : {0L, -1L, 1L}) expect_outside(SequenceRange{}, index);
}

TEST(SequenceRange, ReversalTwiceGivesTheSameRows) {
  const SequenceRange range{5, 3, 4};
  EXPECT_EQ(rows_of(range.reversed()), (std::vector<std::uint32_t>{14, 11, 8, 5}));
  EXPECT_EQ(range.reversed().reversed(), range);
}

// Each case is a Python list slice: the same rows must come out.
TEST(SequenceRange, SlicesAddressTheSameRowsAsListSlices) {
  struct Case {
    SequenceRange range;
    long start, step;
    unsigned long length;
    std::vector<std::uint32_t> rows;
  };
  const std::vector<Case> cases = {
      {{0, 1, 5}, 1, 2, 2, {1, 3}},              // [0..5)[1:4:2]
      {{0, 1, 5}, 4, -1, 5, {4, 3, 2, 1, 0}},    // [::-1]
      {{0, 1, 5}, 3, -2, 2, {3, 1}},             // [3::-2]
      {{0, 1, 5}, 0, 1, 0, {}},                  // [10:20]
      {{100, 2, 6}, 5, -3, 2, {110, 104}},       // stepped source, reversed stride
      {{0, -1, 0}, 0, 1, 0, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rows_of(c.range.slice(c.start, c.step, c.length)), c.rows);
  }
}

TEST(SequenceRange, RowsWrapToThirtyTwoBits) {
  // Rows are unsigned 32-bit; offsets beyond that range are taken modulo 2^32.
  const SequenceRange range{0xFFFFFFFFu, 1, 2};
  EXPECT_EQ(range.resolve(0), 0xFFFFFFFFu);
  EXPECT_EQ(range.resolve(1), 0u);
}

TEST(SequenceRange, ExtremeStepsDoNotOverflow) {
  // Arithmetic wraps instead of being undefined (checked under the sanitizer build).
  const SequenceRange range{0, INT64_MIN, 2};
  EXPECT_EQ(range.reversed().step, INT64_MIN);
  EXPECT_EQ(range.slice(1, 3, 1).step, INT64_MIN);
  EXPECT_EQ(range.resolve(1), 0u);
  EXPECT_FALSE(SequenceRange({0, 1, 3}).position_of(INT64_MIN));
}

using namespace doc_test;
using velmora::Document;
using velmora::Sentence;
using velmora::SentenceSequence;
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

using velmora::Utf8Text;

TEST(DocumentText, MixedTextAfterLongAsciiPrefixKeepsOffsets) {
  // The ASCII prefix is scanned in blocks; offsets after it must still be exact.
  const std::string prefix(19, 'x');
  const Utf8Text text(prefix + "\xE2\x82\xAC" "b\xF0\x9F\x98\x80");
  EXPECT_EQ(text.codepoint_count(), 22u);
  EXPECT_EQ(text.byte_offset(19), 19u);
  EXPECT_EQ(text.byte_offset(20), 22u);
  EXPECT_EQ(text.byte_offset(21), 23u);
  EXPECT_EQ(text.byte_offset(22), 27u);
  EXPECT_EQ(text.slice(18, 21), "x\xE2\x82\xAC" "b");
}

TEST(DocumentText, ZeroByteIsAnOrdinaryCodePoint) {
  const Utf8Text text(std::string("a\0b", 3));
  EXPECT_EQ(text.codepoint_count(), 3u);
}

// The text shares the case functions' decoder, whose faults are tabled with them; these cases
// check the offset before, inside and after the ASCII prefix scanned in blocks.
TEST(DocumentText, MalformedSequencesReportTheirOffset) {
  struct Case {
    std::string bytes;
    int offset;
  };
  const Case cases[] = {
      {"\xC0\x80", 0},                      // overlong zero
      {"a\x80", 1},                         // stray continuation byte
      {"ab\xE2\x82", 2},                    // cut-off sequence reported at its lead
      {std::string(40, 'a') + "\xC3", 40},  // cut off after a long ASCII run
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    expect_error<std::invalid_argument>([&] { Utf8Text{c.bytes}; },
                                        "invalid UTF-8 sequence at byte offset " +
                                            std::to_string(c.offset));
  }
}

TEST(DocumentText, OutOfRangeOffsetsAndSlicesAreRefused) {
  const Utf8Text text("h\xC3\xA9llo");
  expect_error<std::out_of_range>([&] { text.slice(2, 1); },
                                  "code point slice is outside the document");
  expect_error<std::out_of_range>([&] { text.slice(0, text.codepoint_count() + 1); },
                                  "code point slice is outside the document");
  expect_error<std::out_of_range>([&] { text.byte_offset(text.codepoint_count() + 1); },
                                  "code point index is outside the document");
  EXPECT_EQ(text.byte_offset(text.codepoint_count()), text.bytes().size());
}

}  // namespace
