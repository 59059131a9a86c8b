// The shared word cache and list encoding: special-token framing, slots shared by colliding
// words, the bounded slot counter, failed and over-long encodings left uncached, moves.

#include <stdexcept>

#include "encoders/subword_word_cache.hpp"
#include "test_support.hpp"

namespace {

using velmora::detail::WordCache;
using Ids = std::vector<std::int64_t>;

velmora::WordPieceTokenizer small_wordpiece() {
  return velmora::WordPieceTokenizer({"[PAD]", "[UNK]", "[CLS]", "[SEP]", "a", "b", "##b", "-"}, true, true, "[UNK]",
                                     "[CLS]", "[SEP]", "##", 100);
}

velmora::ByteBPETokenizer small_bpe() {
  return velmora::ByteBPETokenizer(subword_test::byte_level_vocabulary({"<unk>", "<s>", "</s>"}), {}, "<unk>", "<s>",
                                   "</s>", false);
}

velmora::XLMRobertaTokenizer small_unigram() {
  return velmora::XLMRobertaTokenizer({"<s>", "</s>", "<unk>", "\xE2\x96\x81" "a"}, {0, 0, -10, -1}, {0, 0, 0, 0}, 2,
                                      "<s>", "</s>");
}

std::string numbered_word(int k) {
  std::string word = "w";
  word.append(std::to_string(k));
  return word;
}

template <class Tokenizer>
void expect_empty_word_lists_framed(const Tokenizer& tokenizer, std::int64_t cls, std::int64_t sep) {
  const auto framed = tokenizer.encode({}, true);
  EXPECT_EQ(framed.input_ids, (Ids{cls, sep}));
  EXPECT_EQ(framed.word_ids, (Ids{-1, -1}));
  EXPECT_EQ(framed.attention_mask, (Ids{1, 1}));
  const auto bare = tokenizer.encode({}, false);
  EXPECT_TRUE(bare.input_ids.empty() && bare.word_ids.empty() && bare.attention_mask.empty());
}

TEST(SubwordWordCache, EmptyWordListsGiveOnlyTheSpecialTokens) {
  expect_empty_word_lists_framed(small_wordpiece(), 2, 3);
  expect_empty_word_lists_framed(small_bpe(), 1, 2);
  expect_empty_word_lists_framed(small_unigram(), 0, 1);
}

TEST(SubwordWordCache, WordsWithoutIdsLeaveNoTraceExceptInWordPiece) {
  // BPE and unigram: an empty word or one of spaces yields nothing; the next word keeps its index.
  const auto bpe = small_bpe().encode({"", "a"}, true);
  EXPECT_EQ(bpe.word_ids, (Ids{-1, 1, -1}));
  const auto unigram = small_unigram().encode({" ", "a"}, false);
  EXPECT_EQ(unigram.input_ids, (Ids{3}));
  EXPECT_EQ(unigram.word_ids, (Ids{1}));
  // WordPiece: an empty word stands as a hyphen.
  const auto wordpiece = small_wordpiece().encode({"", "\x01"}, false);
  EXPECT_EQ(wordpiece.input_ids, (Ids{7, 7}));
  EXPECT_EQ(wordpiece.word_ids, (Ids{0, 1}));
}

TEST(SubwordWordCache, WordPieceFallsBackToUnknownWhenEvenTheHyphenIsUnknown) {
  const velmora::WordPieceTokenizer tokenizer({"[UNK]", "[CLS]", "[SEP]"}, true, true, "[UNK]", "[CLS]", "[SEP]", "##",
                                              100);
  EXPECT_EQ(tokenizer.encode({" "}, false).input_ids, (Ids{0}));
}

TEST(SubwordWordCache, CollidingWordsTakeTurnsInOneSlot) {
  // Two words whose hashes share the low 13 bits.
  const std::string first = numbered_word(0);
  std::string second;
  for (int k = 1; second.empty(); ++k) {
    const std::string candidate = numbered_word(k);
    if (WordCache::slot_of(candidate) == WordCache::slot_of(first)) second = candidate;
  }
  const auto tokenizer = small_bpe();
  const Ids first_ids = tokenizer.tokenize(first);
  const Ids second_ids = tokenizer.tokenize(second);
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(tokenizer.tokenize(first), first_ids);
    EXPECT_EQ(tokenizer.tokenize(second), second_ids);
  }
  EXPECT_NE(first_ids, second_ids);
  EXPECT_EQ(tokenizer.cache_size(), 1);
}

TEST(SubwordWordCache, CountsFilledSlotsNeverMoreThanTheSlotCount) {
  const auto tokenizer = small_bpe();
  std::int64_t previous = 0;
  int k = 0;
  for (; k < 300000 && previous < 8192; ++k) {
    tokenizer.tokenize(numbered_word(k));
    const auto now = tokenizer.cache_size();
    EXPECT_LE(now - previous, 1);
    previous = now;
  }
  EXPECT_EQ(previous, 8192);
  for (int extra = 0; extra < 1000; ++extra) tokenizer.tokenize(numbered_word(k + extra));
  EXPECT_EQ(tokenizer.cache_size(), 8192);
}

TEST(SubwordWordCache, HitsSkipTheEncodingAndFailuresStoreNothing) {
  WordCache cache;
  int calls = 0;
  const auto encode = [&](std::string_view word) {
    ++calls;
    if (word == "bad") throw std::runtime_error("refused");
    return Ids{static_cast<std::int64_t>(word.size())};
  };
  EXPECT_EQ(cache.get_or_encode("abc", encode), (Ids{3}));
  EXPECT_EQ(cache.get_or_encode("abc", encode), (Ids{3}));
  EXPECT_EQ(calls, 1);
  EXPECT_THROW(cache.get_or_encode("bad", encode), std::runtime_error);
  EXPECT_EQ(cache.size(), 1);
  // The cache key is the word exactly as given: a prefix of a cached word is its own word.
  EXPECT_EQ(cache.get_or_encode("ab", encode), (Ids{2}));
  // A long word is encoded each time and never occupies a slot.
  const std::string longest(WordCache::kMaxCachedWordBytes, 'x');
  const std::string huge(1 << 20, 'y');
  calls = 0;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(cache.get_or_encode(longest, encode), (Ids{256}));
    EXPECT_EQ(cache.get_or_encode(huge, encode), (Ids{1 << 20}));
  }
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(cache.size(), 3);
}

TEST(SubwordWordCache, MovedTokenizersKeepTheirVocabularyAndCache) {
  auto source = small_wordpiece();
  const auto before = source.encode({"ab"}, true);
  velmora::WordPieceTokenizer moved(std::move(source));
  EXPECT_EQ(moved.encode({"ab"}, true).input_ids, before.input_ids);
  EXPECT_EQ(moved.cache_size(), 1);
  auto assigned = small_wordpiece();
  assigned = std::move(moved);
  EXPECT_EQ(assigned.encode({"ab"}, true).input_ids, (Ids{2, 4, 6, 3}));
}

}  // namespace
