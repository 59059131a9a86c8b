// The repair of web and e-mail addresses: every matched run becomes exactly one token.

#include <gtest/gtest.h>

#include <algorithm>

#include "tokenize/address_repair.hpp"

namespace {

using velmora::detail::repair_address_labels;
using velmora::detail::split_tokenizer_paragraphs;

// Labels as a digit string, one per unit of the one paragraph of `text`.
std::string repaired(std::string_view text, const std::string& labels) {
  const auto paragraphs = split_tokenizer_paragraphs(text, false);
  EXPECT_EQ(paragraphs.size(), 1U);
  EXPECT_EQ(paragraphs.at(0).size(), labels.size()) << text;
  std::vector<std::int64_t> values;
  for (char c : labels) values.push_back(c - '0');
  repair_address_labels(paragraphs.at(0), values);
  std::string out;
  for (auto value : values) out += static_cast<char>('0' + value);
  return out;
}

TEST(TokenizerAddressRepair, AddressesBecomeOneToken) {
  struct Case {
    const char* name;
    const char* text;
    const char* labels;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"no at-sign and no full stop", "ab cd!", "121212", "121212"},
      {"e-mail between words", "hi jo@ex.com ok", "010012010201012", "010000000001012"},
      {"e-mail last unit keeps its end", "hi jo@ex.com ok", "010012010202012", "010000000002012"},
      {"address ending the paragraph", "see www.ab.org", "00101020100002", "00100000000002"},
      {"capital starts after the match", "Jo@ex.com", "311000202", "300000002"},
      {"ending needs a further dot", "visit abc.com now", "00001000100101002", "00001000100101002"},
      {"ending with a further part", "visit abc.com.au now", "00001001001001001002", "00001000000000011002"},
      {"whole paragraph one run", "http://t.co/xyz.html", "12121212121212121212", "00000000000000000002"},
      {"multi-word end kept", "mail a@b.cd", "00010200003", "00010000003"},
  };
  for (const auto& test : cases) EXPECT_EQ(repaired(test.text, test.labels), test.expected) << test.name;
}

TEST(TokenizerAddressRepair, LongAddressLikeRunsTakeLinearTime) {
  // Runs that the address pattern cannot match used to cost a scan to the end of the run from
  // every start position: 200,000 characters of "a.a.a." took about 47 seconds.
  struct Case {
    const char* piece;
    bool one_token;  // the whole run is one address
  };
  const std::vector<Case> cases = {
      {"a.", false},           // a dotted e-mail local part without an at-sign
      {"www.-", false},        // host prefixes that never reach a name
      {"\"\\", false},      // quoted local parts that never close
      {"x@[1.2.3.a:", false},  // address literals that never close
      {"ab.com.", true},       // a name, an ending and everything after it
  };
  for (const auto& test : cases) {
    std::string text;
    while (text.size() < 200000) text += test.piece;
    const auto paragraphs = split_tokenizer_paragraphs(text, false);
    ASSERT_EQ(paragraphs.size(), 1U);
    std::vector<std::int64_t> labels(paragraphs[0].size(), 1);
    repair_address_labels(paragraphs[0], labels);
    const auto inside = static_cast<std::size_t>(std::count(labels.begin(), labels.end(), 0));
    EXPECT_EQ(inside, test.one_token ? labels.size() - 1 : 0U) << test.piece;
  }
}

}  // namespace
