// Entity spans derived from BIOES and BILOU tags.
#include <gtest/gtest.h>

#include "document_records.hpp"

namespace {

using namespace doc_test;
using velmora::Document;

struct SpanSummary {
  std::uint32_t first, end;
  std::string type;
  bool operator==(const SpanSummary&) const = default;
};

std::ostream& operator<<(std::ostream& os, const SpanSummary& s) {
  return os << "[" << s.first << "," << s.end << ") " << s.type;
}

std::vector<SpanSummary> spans_of(const Document& doc) {
  std::vector<SpanSummary> out;
  const auto& s = *doc.storage();
  for (std::size_t i = 0; i < s.num_spans(); ++i) {
    out.push_back({s.span_first_token[i], s.span_end_token[i], s.pool.get(s.span_type[i])});
  }
  return out;
}

// One sentence whose tokens carry these tags; "-" means no tag.
Document tagged_sentence(const std::vector<std::string>& tags) {
  SentenceInput s;
  for (std::size_t i = 0; i < tags.size(); ++i) {
    TokenInput t = token(static_cast<int>(i) + 1, numbered("w", static_cast<long>(i)));
    if (tags[i] != "-") t.ner = tags[i];
    s.tokens.push_back(t);
  }
  return Document("", {s});
}

TEST(EntitySpans, TagRunsBecomeSpans) {
  const struct {
    std::vector<std::string> tags;
    std::vector<SpanSummary> spans;
  } cases[] = {
      {{"B-PER", "I-PER", "E-PER"}, {{0, 3, "PER"}}},
      {{"B-PER", "I-PER"}, {{0, 2, "PER"}}},
      {{"B-PER", "I-PER", "B-PER"}, {{0, 2, "PER"}, {2, 3, "PER"}}},
      {{"B-PER", "E-PER", "I-PER"}, {{0, 2, "PER"}, {2, 3, "PER"}}},
      {{"B-PER", "I-LOC"}, {{0, 1, "PER"}, {1, 2, "LOC"}}},
      {{"I-ORG"}, {{0, 1, "ORG"}}},
      {{"E-ORG", "L-ORG"}, {{0, 1, "ORG"}, {1, 2, "ORG"}}},
      {{"U-LOC", "S-LOC"}, {{0, 1, "LOC"}, {1, 2, "LOC"}}},
      {{"B-LOC", "L-LOC"}, {{0, 2, "LOC"}}},
      {{"B-PER-X", "E-PER-X"}, {{0, 2, "PER-X"}}},
      {{"M-X", "b-Y"}, {{0, 1, "X"}, {1, 2, "Y"}}},
      {{"B-PER", "O", "E-PER"}, {{0, 1, "PER"}, {2, 3, "PER"}}},
      {{"B-PER", "-", "I-PER"}, {{0, 1, "PER"}, {2, 3, "PER"}}},
      {{"O", "", "PER", "B-", "-"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.tags));
    EXPECT_EQ(spans_of(tagged_sentence(c.tags)), c.spans);
  }
}

TEST(EntitySpans, RunsStopAtSentenceEnds) {
  const Document doc("", {sentence_of({tagged(token(1, "a"), "B-PER")}),
                          sentence_of({tagged(token(1, "b"), "I-PER")}), SentenceInput{},
                          sentence({"c"})});
  EXPECT_EQ(spans_of(doc), (std::vector<SpanSummary>{{0, 1, "PER"}, {1, 2, "PER"}}));
  EXPECT_EQ(doc.storage()->sentence_span_offsets, (std::vector<std::uint32_t>{0, 1, 2, 2, 2}));
  EXPECT_EQ(texts_of(doc.sentences().at(1).ents()), std::vector<std::string>{"b"});
}

TEST(EntitySpans, SpanTextIsSlicedOrJoined) {
  const Document sliced("New  York", {sentence_of({tagged(token(1, "New", 0, 3), "B-LOC"),
                                                    tagged(token(2, "York", 5, 9), "E-LOC")})});
  const velmora::Span span = sliced.ents().at(0);
  EXPECT_EQ(span.text(), "New  York");
  EXPECT_EQ(span.type(), "LOC");
  EXPECT_EQ(span.start_char(), 0u);
  EXPECT_EQ(span.end_char(), 9u);

  // Without offsets, the tokens are joined by their spacing: spaces after, then before.
  TokenInput glued = token(3, "-based");
  glued.spaces_before = "\t";
  TokenInput before_glued = tagged(token(2, "York"), "I-LOC");
  before_glued.spaces_after.clear();
  const Document joined("", {sentence_of({tagged(token(1, "New"), "B-LOC"), before_glued,
                                           tagged(glued, "E-LOC")})});
  EXPECT_EQ(joined.ents().at(0).text(), "New York\t-based");
  EXPECT_FALSE(joined.ents().at(0).start_char());
}

TEST(EntitySpans, MultiWordTokensBringAllTheirWords) {
  const Document doc("", {sentence_of({tagged(token(1, "in"), "B-ORG"),
                                        tagged(mwt(2, "AB", {"A", "B"}), "E-ORG")})});
  const velmora::Span span = doc.ents().at(0);
  EXPECT_EQ(texts_of(span.words()), (std::vector<std::string>{"in", "A", "B"}));
  EXPECT_EQ(texts_of(span.tokens()), (std::vector<std::string>{"in", "AB"}));
}

TEST(EntitySpans, SpansChangeOnlyWhenRebuilt) {
  Document doc = tagged_sentence({"S-PER", "-"});
  velmora::Token second = doc.tokens().at(1);
  second.set_ner("S-LOC");
  EXPECT_EQ(doc.ents().size(), 1u);
  doc.rebuild_entities();
  EXPECT_EQ(spans_of(doc), (std::vector<SpanSummary>{{0, 1, "PER"}, {1, 2, "LOC"}}));
  doc.rebuild_entities();
  EXPECT_EQ(spans_of(doc), (std::vector<SpanSummary>{{0, 1, "PER"}, {1, 2, "LOC"}}));
}

TEST(EntitySpans, FailedRebuildKeepsTheOldSpans) {
  Document doc = tagged_sentence({"S-PER", "S-LOC"});
  auto& s = *doc.storage();
  s.token_ner[1] = 12345;  // not a pool id
  expect_error<std::out_of_range>([&] { doc.rebuild_entities(); },
                                  "invalid string pool identifier");
  EXPECT_EQ(spans_of(doc), (std::vector<SpanSummary>{{0, 1, "PER"}, {1, 2, "LOC"}}));
  EXPECT_EQ(s.sentence_span_offsets, (std::vector<std::uint32_t>{0, 2}));
}

TEST(EntitySpans, NoSentencesNoSpans) {
  Document doc("");
  doc.rebuild_entities();
  EXPECT_EQ(doc.storage()->sentence_span_offsets, std::vector<std::uint32_t>{0});
  EXPECT_EQ(doc.ents().size(), 0u);
}

}  // namespace
