// Each tokenizer refuses unusable arguments at construction with its own message.

#include "test_support.hpp"
#include "velmora/errors.hpp"

namespace {

template <class Error, class Make>
void expect_refused(Make&& make, const std::string& expected) {
  try {
    make();
    ADD_FAILURE() << "accepted; expected: " << expected;
  } catch (const Error& error) {
    EXPECT_EQ(error.what(), expected);
  }
}

using Strings = std::vector<std::string>;

TEST(SubwordConstruction, WordPieceRefusesUnusableVocabularies) {
  const Strings base = {"[UNK]", "[CLS]", "[SEP]", "a"};
  auto make = [](Strings vocabulary, std::uint64_t limit = 100, std::string unknown = "[UNK]",
                 std::string cls = "[CLS]", std::string sep = "[SEP]") {
    return velmora::WordPieceTokenizer(std::move(vocabulary), true, true, unknown, cls, sep, "##", limit);
  };
  expect_refused<velmora::WordPieceError>([&] { make({}); }, "WordPiece vocabulary cannot be empty");
  expect_refused<velmora::WordPieceError>([&] { make(base, 0); }, "max_input_characters_per_word must be positive");
  expect_refused<velmora::WordPieceError>([&] { make({"[UNK]", "[CLS]", "[SEP]", "[UNK]"}); },
                                          "WordPiece vocabulary contains duplicate token: [UNK]");
  expect_refused<velmora::WordPieceError>([&] { make(base, 100, "<unk>"); },
                                          "WordPiece vocabulary is missing required token: <unk>");
  expect_refused<velmora::WordPieceError>([&] { make(base, 100, "[UNK]", "<s>"); },
                                          "WordPiece vocabulary is missing required token: <s>");
  expect_refused<velmora::WordPieceError>([&] { make(base, 100, "[UNK]", "[CLS]", "</s>"); },
                                          "WordPiece vocabulary is missing required token: </s>");
  EXPECT_EQ(make(base).vocabulary_size(), 4U);
}

Strings bpe_vocabulary(const std::string& skip = "") {
  return subword_test::byte_level_vocabulary({"<unk>", "<s>", "</s>", "ab"}, skip);
}

TEST(SubwordConstruction, ByteBPERefusesUnusableVocabulariesAndMerges) {
  using Merges = std::vector<std::pair<std::string, std::string>>;
  auto make = [](Strings vocabulary, Merges merges, std::string unknown = "<unk>") {
    return velmora::ByteBPETokenizer(std::move(vocabulary), std::move(merges), unknown, "<s>", "</s>", false);
  };
  expect_refused<velmora::SubwordError>([&] { make({}, {}); }, "byte-level BPE vocabulary cannot be empty");
  Strings duplicated = bpe_vocabulary();
  duplicated.push_back("ab");
  expect_refused<velmora::SubwordError>([&] { make(duplicated, {}); },
                                        "byte-level BPE vocabulary contains a duplicate token");
  expect_refused<velmora::SubwordError>([&] { make(bpe_vocabulary(), {}, "[UNK]"); },
                                        "byte-level BPE vocabulary is missing token: [UNK]");
  // U+0120 stands for the space byte.
  expect_refused<velmora::SubwordError>([&] { make(bpe_vocabulary("\xC4\xA0"), {}); },
                                        "byte-level BPE vocabulary is missing token: \xC4\xA0");
  expect_refused<velmora::SubwordError>([&] { make(bpe_vocabulary(), {{"ab", "c"}}); },
                                        "byte-level BPE vocabulary is missing token: abc");
  expect_refused<velmora::SubwordError>([&] { make(bpe_vocabulary(), {{"xy", "c"}}); },
                                        "byte-level BPE vocabulary is missing token: xy");
  EXPECT_EQ(make(bpe_vocabulary(), {{"a", "b"}}).vocabulary_size(), 260U);
}

TEST(SubwordConstruction, UnigramRefusesUnusableArgumentsAndCharacterMaps) {
  const Strings pieces = {"<s>", "</s>", "<unk>", "a"};
  const std::vector<float> scores = {0, 0, -10, -1};
  auto make = [&](Strings vocabulary, std::vector<float> values, std::vector<std::uint8_t> map, std::int64_t unknown,
                  std::string cls = "<s>") {
    return velmora::XLMRobertaTokenizer(std::move(vocabulary), std::move(values), std::move(map), unknown, cls,
                                        "</s>");
  };
  const std::vector<std::uint8_t> empty_map = {0, 0, 0, 0};
  expect_refused<velmora::SubwordError>([&] { make({}, {}, empty_map, 0); },
                                        "XLM-R vocabulary and score arrays must be nonempty and equal");
  expect_refused<velmora::SubwordError>([&] { make(pieces, {0, 0}, empty_map, 0); },
                                        "XLM-R vocabulary and score arrays must be nonempty and equal");
  expect_refused<velmora::SubwordError>([&] { make(pieces, scores, empty_map, -1); },
                                        "XLM-R unknown id is out of range");
  expect_refused<velmora::SubwordError>([&] { make(pieces, scores, empty_map, 4); },
                                        "XLM-R unknown id is out of range");
  expect_refused<velmora::SubwordError>([&] { make(pieces, scores, empty_map, 2, "<cls>"); },
                                        "XLM-R vocabulary is missing token: <cls>");
  expect_refused<velmora::SubwordError>([&] { make(pieces, scores, {0, 0, 0}, 2); },
                                        "XLM-R precompiled charsmap is truncated");
  expect_refused<velmora::SubwordError>([&] { make(pieces, scores, {6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2); },
                                        "XLM-R precompiled charsmap has invalid trie");
  expect_refused<velmora::SubwordError>([&] { make(pieces, scores, {8, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2); },
                                        "XLM-R precompiled charsmap has invalid trie");
  // A repeated piece is allowed: its first position is its id.
  const auto repeated = make({"<s>", "</s>", "<unk>", "a", "a"}, {0, 0, -10, -1, 5}, empty_map, 2);
  EXPECT_EQ(repeated.tokenize("a"), (std::vector<std::int64_t>{2, 3}));  // the mark is unknown
  EXPECT_EQ(repeated.vocabulary_size(), 5U);
}

}  // namespace
