// The document text is validated UTF-8 addressed by code point.
#include <gtest/gtest.h>

#include <string>

#include "document_records.hpp"
#include "velmora/utf8_text.hpp"

namespace {

using doc_test::expect_error;
using velmora::Utf8Text;

TEST(DocumentText, EmptyTextHasOneOffset) {
  const Utf8Text text("");
  EXPECT_EQ(text.codepoint_count(), 0u);
  EXPECT_EQ(text.byte_offset(0), 0u);
  EXPECT_EQ(text.slice(0, 0), "");
}

TEST(DocumentText, MultiByteCodePointsCountOnce) {
  const Utf8Text text("a\xC3\xA9");
  EXPECT_EQ(text.codepoint_count(), 2u);
  EXPECT_EQ(text.byte_offset(1), 1u);
  EXPECT_EQ(text.byte_offset(2), 3u);
  EXPECT_EQ(text.slice(1, 2), "\xC3\xA9");
}

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

TEST(DocumentText, MalformedSequencesReportTheirOffset) {
  struct Case {
    std::string bytes;
    int offset;
  };
  const Case cases[] = {
      {"\xC0\x80", 0},                      // overlong zero
      {"\xED\xA0\x80", 0},                  // surrogate
      {"\xF4\x90\x80\x80", 0},              // above U+10FFFF
      {"\xF5\x80\x80\x80", 0},              // lead byte beyond the range
      {"\xE0\x80\x80", 0},                  // overlong three-byte form
      {"a\x80", 1},                         // stray continuation byte
      {"\xE2\x28\xA1", 1},                  // bad continuation reported at itself
      {"ab\xE2\x82", 2},                    // cut-off sequence reported at its lead
      {"\xFF", 0},                          // not a lead byte
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
