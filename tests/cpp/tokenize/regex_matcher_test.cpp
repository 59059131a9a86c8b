// The tokenizer's regular-expression matcher gives the matches of std::regex (ECMAScript,
// classic locale, over bytes) and survives inputs on which std::regex overflows the stack, and
// the address pattern as compiled finds what the address pattern as first written finds.

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>

#include "test_support.hpp"
#include "tokenize/address_search.hpp"
#include "tokenize/patterns.hpp"

namespace {

using velmora::detail::BytePattern;

// The address pattern in its plain form, which backtracks over address literals.
constexpr std::string_view kAddressPatternAsWritten =
    R"re((?:(?:[a-z0-9!#$%&'*+/=?^_`{|}~-]+(?:\.[a-z0-9!#$%&'*+/=?^_`{|}~-]+)*|"(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21\x23-\x5b\x5d-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])*")@(?:(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+[a-z0-9](?:[a-z0-9-]*[a-z0-9])?|\[(?:(?:(?:2(?:5[0-5]|[0-4][0-9])|1[0-9][0-9]|[1-9]?[0-9]))\.){3}(?:(?:2(?:5[0-5]|[0-4][0-9])|1[0-9][0-9]|[1-9]?[0-9])|[a-z0-9-]*[a-z0-9]:(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21-\x5a\x53-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])+)\]))|(?:(?:https?:\/\/(?:www\.|(?!www))[a-zA-Z0-9][a-zA-Z0-9-]+[a-zA-Z0-9]\.[^\s"]{2,}|www\.[a-zA-Z0-9][a-zA-Z0-9-]+[a-zA-Z0-9]\.[^\s"]{2,}|https?:\/\/(?:www\.|(?!www))[a-zA-Z0-9]+\.[^\s"]{2,}|www\.[a-zA-Z0-9]+\.[^\s"]{2,})|[a-zA-Z0-9]+\.(?:gov|org|edu|net|com|co)(?:\.[^\s"]{2,})))re";

std::vector<std::pair<std::size_t, std::size_t>> std_matches(const std::regex& pattern, const std::string& text) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it) {
    out.emplace_back(static_cast<std::size_t>(it->position()), static_cast<std::size_t>(it->position() + it->length()));
  }
  return out;
}

std::vector<std::pair<std::size_t, std::size_t>> our_matches(const BytePattern& pattern, const std::string& text) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  for (const auto& match : pattern.find_all(text)) out.emplace_back(match.begin, match.end);
  return out;
}

struct NamedPattern {
  const char* name;
  std::string_view source;
  // Pieces the generator strings together: fragments that make the pattern match, and noise.
  std::vector<std::string> pieces;
};

std::vector<NamedPattern> all_patterns() {
  const std::vector<std::string> common = {" ", "  ", "\t", "\n", "\v", "\f", "\r", "a", "Z", "_", "0", "9", "-",
                                           ".", ",", ":", "\"", "x", "\xC3\xA9", "\xE2\x80\x94", "\xF0\x9F\x98\x80",
                                           "\xC2\xA0", "\xC2\x85"};
  auto with = [&](std::vector<std::string> extra) {
    extra.insert(extra.end(), common.begin(), common.end());
    return extra;
  };
  return {
      {"labeled_field", velmora::detail::kLabeledFieldPattern,
       with({"Name", "Date Of Birth", "To", "A", "b", "Xy", "ab", ":", " :", "Name:", "To :"})},
      {"phone_id", velmora::detail::kPhoneIdPattern,
       with({"(555)", "123", "4567", "555-123-4567", "x123", "x12345", "x123456", "(12)", "1234"})},
      {"date_pattern", velmora::detail::kDatePattern,
       with({"3/4/2020", "12/31/99", "/", "March", "May", "December", "3,", "2020", "1", "12", "123456"})},
      {"currency", velmora::detail::kCurrencyPattern, with({"$", "$ ", "1,200", ".50", "12", "$1", ".", "5"})},
      {"address", kAddressPatternAsWritten,
       with({"jo@example.com", "@", "www.", "http://", "https://", "example", ".com", ".org", ".co", ".uk", "a.b",
             "\"q\\\"\"", "[1.2.3.4]", "[255.", "250", "a-b", "!#$%", "/", "A@b", "ex.net.de", "~", "`", "{|}",
             "www", "?", "=", "[a:b]", "\\", "\x01", "\x7f"})},
  };
}

std::string random_text(std::mt19937& rng, const std::vector<std::string>& pieces) {
  std::uniform_int_distribution<std::size_t> count(0, 12);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string text;
  for (std::size_t k = count(rng); k > 0; --k) text += pieces[pick(rng)];
  return text;
}

TEST(TokenizerRegexMatcher, FindsTheSameMatchesAsStdRegexOnGeneratedTexts) {
  std::mt19937 rng(20261206);
  for (const auto& pattern : all_patterns()) {
    const std::regex reference(std::string(pattern.source), std::regex::ECMAScript | std::regex::optimize);
    const BytePattern ours(pattern.source);
    std::size_t with_matches = 0;
    for (int round = 0; round < 4000; ++round) {
      const std::string text = random_text(rng, pattern.pieces);
      const auto expected = std_matches(reference, text);
      with_matches += expected.empty() ? 0 : 1;
      ASSERT_EQ(our_matches(ours, text), expected) << pattern.name << " on \"" << text << "\"";
    }
    // The generator must exercise matches, not only misses.
    EXPECT_GT(with_matches, 400U) << pattern.name;
  }
}

TEST(TokenizerRegexMatcher, AddressSearchFindsWhatTheWholePatternFinds) {
  // Pieces that reach, or nearly reach, every way an address can start and fail: dotted and
  // quoted local parts with and without an at-sign, escapes, literals with and without a
  // closing bracket, prefixes, endings with and without a further part.
  const std::vector<std::string> pieces = {
      "jo@example.com", "@", "www.", "http://", "https://", "example", ".com", ".org", ".co", "co.", "com.", "a.b",
      "a.", "..", "\"q\\\"\"", "\"", "\\", "\\ ", "[1.2.3.4]", "@[1.2.3.a:", "[255.", "]", "[", "250", "a-b",
      "-", "!#$%", "/", "A@b", "@a.b", "ex.net.de", "www.-", "~", "{|}", "www", "h", "w", "x", "Z", "1", " ", "\t",
      "\n", "\x01", "\x7f", "\xC3\xA9", ":", ","};
  std::mt19937 rng(20261207);
  const BytePattern& whole = velmora::detail::address_pattern();
  std::size_t with_matches = 0;
  for (int round = 0; round < 30000; ++round) {
    std::uniform_int_distribution<std::size_t> count(0, round % 4 == 0 ? 60 : 15);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string text;
    for (std::size_t k = count(rng); k > 0; --k) text += pieces[pick(rng)];
    const auto expected = our_matches(whole, text);
    with_matches += expected.empty() ? 0 : 1;
    std::vector<std::pair<std::size_t, std::size_t>> found;
    for (const auto& match : velmora::detail::find_address_matches(text)) found.emplace_back(match.begin, match.end);
    ASSERT_EQ(found, expected) << "on \"" << text << "\"";
  }
  EXPECT_GT(with_matches, 5000U);
}

TEST(TokenizerRegexMatcher, SurvivesLongRepetitions) {
  const auto& patterns = velmora::detail::feature_patterns();
  std::string dollars(200001, '7');
  dollars[0] = '$';
  EXPECT_EQ(our_matches(patterns.currency, dollars), (std::vector<std::pair<std::size_t, std::size_t>>{{0, 200001}}));

  std::string amount = std::string(1, '$') + std::string(100000, '1') + "." + std::string(100000, '2');
  EXPECT_EQ(our_matches(patterns.currency, amount), (std::vector<std::pair<std::size_t, std::size_t>>{{0, 200002}}));

  std::string dotted;
  for (int k = 0; k < 50000; ++k) dotted += "ab.";
  const std::string mail = dotted + "x@" + dotted + "com";
  const auto found = our_matches(velmora::detail::address_pattern(), mail);
  ASSERT_EQ(found.size(), 1U);
  EXPECT_EQ(found[0], std::make_pair(std::size_t{0}, mail.size()));

  std::string url = "http://www.example.com/";
  url.append(300000, 'q');
  EXPECT_EQ(our_matches(velmora::detail::address_pattern(), url),
            (std::vector<std::pair<std::size_t, std::size_t>>{{0, url.size()}}));
}

TEST(TokenizerRegexMatcher, AddressPatternFindsWhatThePlainFormFinds) {
  const BytePattern plain(kAddressPatternAsWritten);
  std::vector<std::string> texts;
  // Texts built around every e-mail part, with address literals, escapes and stray bytes.
  const std::vector<std::string> heads = {"a@[1.2.3.x:", "@[9.9.9.a-b:", "a@[1.2.3.", "\"", "a@", "a.b", "jo@ex.com"};
  const std::string common = "\\]] \t\"@.a-:\\\\\n";
  std::mt19937 rng(20261207);
  for (int round = 0; round < 20000; ++round) {
    std::string text = heads[rng() % heads.size()];
    for (std::size_t k = rng() % 14; k > 0; --k) {
      text += rng() % 4 == 0 ? static_cast<char>(rng() % 256) : common[rng() % common.size()];
    }
    if (rng() % 3 == 0) text += heads[rng() % heads.size()] + "]";
    texts.push_back(text);
  }
  // Sentences of the English corpus, which hold e-mail and web addresses.
  const std::string corpus = tokenizer_test::read_file(tokenizer_test::TokenizerTestData::dir() / "corpus.txt");
  std::ifstream conllu(corpus);
  for (std::string line; std::getline(conllu, line);) {
    if (line.starts_with("# text = ")) texts.push_back(line.substr(9));
  }
  std::size_t with_matches = 0;
  for (const std::string& text : texts) {
    const auto expected = our_matches(plain, text);
    with_matches += expected.empty() ? 0 : 1;
    ASSERT_EQ(our_matches(velmora::detail::address_pattern(), text), expected) << "on \"" << text << "\"";
  }
  EXPECT_GT(with_matches, 1000U);
}

TEST(TokenizerRegexMatcher, AddressSearchSurvivesRunsThePlainFormBacktracksOn) {
  // The plain form reads a backslash of an address literal alone or as an escape, and gave up
  // at its match limit after about a hundred backslashes that do not lead to a closing bracket.
  auto times = [](const std::string& piece, std::size_t count) {
    std::string out;
    for (std::size_t k = 0; k < count; ++k) out += piece;
    return out;
  };
  struct Case {
    const char* name;
    std::string text;
    std::size_t match_end;  // of the one match, from 0; 0 for none
  };
  const std::string literal = "x@[1.2.3.a:";
  const std::vector<Case> cases = {
      {"backslashes after the close", literal + "b]" + times("\\", 20000) + " tail", 13},
      {"escapes after the close", literal + "b]" + times("\\a", 10000) + "\n", 13},
      {"backslashes before the close", literal + times("\\", 20000) + "]", 20012},
      {"escaped spaces before the close", literal + times("\\ ", 10000) + "].", 20012},
      {"brackets up to a bare tab", literal + times("]", 20000) + "\t]", 20011},
      {"a close as the only byte", literal + "]" + times("\\", 20000), 0},
      {"a quoted local part of escapes", std::string(1, '"') + times("\\\\", 10000) + "\"@ab.cd", 20008},
  };
  for (const auto& test : cases) {
    std::vector<std::pair<std::size_t, std::size_t>> expected;
    if (test.match_end != 0) expected.emplace_back(0, test.match_end);
    std::vector<std::pair<std::size_t, std::size_t>> found;
    for (const auto& match : velmora::detail::find_address_matches(test.text)) found.emplace_back(match.begin, match.end);
    EXPECT_EQ(found, expected) << test.name;
  }
}

}  // namespace
