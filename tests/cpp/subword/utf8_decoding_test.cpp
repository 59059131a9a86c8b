// Malformed UTF-8 is refused at the offending byte by every tokenizer, nothing is cached for
// it, and the vectorised ASCII paths agree with byte-by-byte decoding and lower-casing.

#include <random>

#include "encoders/subword_text.hpp"
#include "test_support.hpp"
#include "velmora/errors.hpp"
#include "velmora/unicode.hpp"

namespace {

using velmora::detail::decode_utf8_code_points;

struct Malformed {
  const char* name;
  std::string bytes;
  std::uint64_t offset;
};

const std::vector<Malformed>& malformed_cases() {
  static const std::vector<Malformed> cases = {
      {"truncated two-byte sequence", "a\xC3", 1},
      {"bad continuation byte", "a\xC3(", 2},
      {"overlong NUL", std::string("\xC0\x80", 2), 0},
      {"surrogate", "\xED\xA0\x80", 0},
      {"above U+10FFFF", "\xF4\x90\x80\x80", 0},
      {"after sixteen ASCII bytes", std::string(16, 'x') + "\xC3", 16},
      {"stray continuation byte", "ab\x80", 2},
      {"invalid lead byte", "\xF8\x80\x80\x80\x80", 0},
      {"bad third byte", "\xE2\x82(", 2},
  };
  return cases;
}

std::string message(std::uint64_t offset) { return "invalid UTF-8 sequence at byte offset " + std::to_string(offset); }

template <class Error, class Call>
void expect_error(Call&& call, const std::string& expected, const std::string& context) {
  try {
    call();
    ADD_FAILURE() << context << ": no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.what(), expected) << context;
  }
}

std::vector<std::string> byte_vocabulary() {
  return subword_test::byte_level_vocabulary({"<unk>", "<s>", "</s>", "[UNK]", "[CLS]", "[SEP]"});
}

TEST(SubwordUtf8, MalformedInputFailsAtTheOffendingByteInEveryTokenizer) {
  const velmora::ByteBPETokenizer bpe(byte_vocabulary(), {}, "<unk>", "<s>", "</s>", true);
  const velmora::XLMRobertaTokenizer unigram({"<s>", "</s>", "<unk>"}, {0, 0, 0}, {0, 0, 0, 0}, 2, "<s>", "</s>");
  const velmora::WordPieceTokenizer cased(byte_vocabulary(), false, false, "[UNK]", "[CLS]", "[SEP]", "##", 100);
  const velmora::WordPieceTokenizer lowered(byte_vocabulary(), true, true, "[UNK]", "[CLS]", "[SEP]", "##", 100);
  for (const auto& test : malformed_cases()) {
    const std::string expected = message(test.offset);
    expect_error<velmora::SubwordError>([&] { decode_utf8_code_points(test.bytes); }, expected, test.name);
    expect_error<velmora::SubwordError>([&] { bpe.tokenize(test.bytes); }, expected, test.name);
    expect_error<velmora::SubwordError>([&] { bpe.encode({"ok", test.bytes}, true); }, expected, test.name);
    expect_error<velmora::SubwordError>([&] { unigram.tokenize(test.bytes); }, expected, test.name);
    expect_error<velmora::WordPieceError>([&] { cased.encode({test.bytes}, true); }, expected, test.name);
    expect_error<velmora::WordPieceError>([&] { lowered.encode({test.bytes}, true); }, expected, test.name);
  }
  // Only the well-formed word "ok" reached the cache.
  EXPECT_EQ(bpe.cache_size(), 1);
  EXPECT_EQ(unigram.cache_size(), 0);
  EXPECT_EQ(cased.cache_size(), 0);
  EXPECT_EQ(lowered.cache_size(), 0);
}

TEST(SubwordUtf8, DecodedSpansTileTheTextOnAndOffTheAsciiFastPath) {
  const std::vector<std::string> alphabet = {"a", "Z", " ", "\t", "é", "€", "😀", "\x7F", std::string(1, '\0')};
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 40);
    const bool ascii_only = round % 2 == 0;
    for (int k = 0; k < length; ++k) text += alphabet[random() % (ascii_only ? 4 : alphabet.size())];
    const auto spans = decode_utf8_code_points(text);
    const auto expected = velmora::detail::decode_utf8(text);
    ASSERT_EQ(spans.size(), expected.size()) << text;
    std::uint64_t at = 0;
    for (std::size_t k = 0; k < spans.size(); ++k) {
      EXPECT_EQ(spans[k].code_point, static_cast<std::uint32_t>(expected[k]));
      EXPECT_EQ(spans[k].begin, at);
      at = spans[k].end;
    }
    EXPECT_EQ(at, text.size());
    const bool all_below_0x80 =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    EXPECT_EQ(velmora::detail::is_ascii(text), all_below_0x80);
  }
}

TEST(SubwordUtf8, AsciiLowerCasingMatchesTheScalarRuleAtEveryLength) {
  std::string text;
  for (int length = 0; length < 70; ++length) {
    std::string expected = text;
    for (char& c : expected) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    EXPECT_EQ(velmora::detail::ascii_lower(text), expected) << length;
    text += static_cast<char>("AZaz@[`{09 M"[length % 12]);
  }
}

}  // namespace
