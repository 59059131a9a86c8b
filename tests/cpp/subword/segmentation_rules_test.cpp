// Hand-checked segmentations of each tokenizer: WordPiece pre-splitting and greedy longest
// match, byte-level BPE pre-tokenizer runs and merge order, unigram normalisation clusters
// and unknown pieces, and its choice between equal totals.

#include <chrono>

#include "test_support.hpp"

namespace {

using Ids = std::vector<std::int64_t>;
using Strings = std::vector<std::string>;

// Ids by token, so that the expectations read as tokens.
struct Vocabulary {
  Strings tokens;
  std::int64_t operator[](const std::string& token) const {
    for (std::size_t k = 0; k < tokens.size(); ++k) {
      if (tokens[k] == token) return static_cast<std::int64_t>(k);
    }
    ADD_FAILURE() << "no token " << token;
    return -1;
  }
};

TEST(WordPieceSegmentation, SplitsAndMatchesWordsAsBertDoes) {
  const Vocabulary v{{"[PAD]", "[UNK]", "[CLS]", "[SEP]", "hello", "un", "##aff", "##able", "don", "'", "t", "e",
                      "-", "mail", "$", "##5", "5", "+", "=", "b", "cafe", "café", "日", "本", "語", "a", "##a", "ab",
                      "x", "##y"}};
  const velmora::WordPieceTokenizer plain(v.tokens, true, true, "[UNK]", "[CLS]", "[SEP]", "##", 100);
  const velmora::WordPieceTokenizer accented(v.tokens, true, false, "[UNK]", "[CLS]", "[SEP]", "##", 100);
  struct Case {
    const char* name;
    const velmora::WordPieceTokenizer* tokenizer;
    std::string word;
    Ids expected;
  };
  const std::string hundred(100, 'a');
  std::string hyphenated(75, 'a');
  hyphenated.append("-").append(74, 'a');
  std::string over_limit = hundred;
  over_limit.push_back('a');
  // a, then ##a for every further letter
  const auto a_run = [&](std::size_t letters) {
    Ids ids{v["a"]};
    ids.insert(ids.end(), letters - 1, v["##a"]);
    return ids;
  };
  Ids hyphenated_ids = a_run(75);
  hyphenated_ids.push_back(v["-"]);
  for (const auto id : a_run(74)) hyphenated_ids.push_back(id);
  const std::vector<Case> cases = {
      {"lower-cased", &plain, "Hello", {v["hello"]}},
      {"longest match with continuations", &plain, "unaffable", {v["un"], v["##aff"], v["##able"]}},
      {"an unmatched position drops the whole piece", &plain, "unaffablez", {v["[UNK]"]}},
      {"apostrophe splits without prefixes", &plain, "don't", {v["don"], v["'"], v["t"]}},
      {"hyphen splits", &plain, "e-mail", {v["e"], v["-"], v["mail"]}},
      {"ASCII symbols split like punctuation", &plain, "$5", {v["$"], v["5"]}},
      {"a run of ASCII symbols splits into single pieces", &plain, "a+=b", {v["a"], v["+"], v["="], v["b"]}},
      {"accents stripped", &plain, "Café", {v["cafe"]}},
      {"accents kept", &accented, "Café", {v["café"]}},
      {"decomposed accent stripped", &plain, "Cafe\xCC\x81", {v["cafe"]}},
      {"CJK ideographs split", &plain, "日本語", {v["日"], v["本"], v["語"]}},
      {"piece at the limit", &plain, hundred, a_run(100)},
      {"piece over the limit", &plain, over_limit, {v["[UNK]"]}},
      {"hyphen keeps both halves under the limit", &plain, hyphenated, hyphenated_ids},
      {"NUL and U+FFFD vanish", &plain, std::string("x\0y", 3) + "\xEF\xBF\xBD", {v["x"], v["##y"]}},
      {"whitespace splits inside a word", &plain, "ab\tab", {v["ab"], v["ab"]}},
      {"control characters vanish", &plain, "a\x01" "b", {v["ab"]}},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(test.tokenizer->encode({test.word}, false).input_ids, test.expected) << test.name;
  }
}

TEST(ByteBPESegmentation, PreTokenizerRunsBoundTheMerges) {
  // "Ġ" (U+0120) is the space byte's base token, "Ċ" (U+010A) the line feed's.
  Strings leading = {"<unk>", "<s>", "</s>", "Ġb", "ĠĠ", "n'", "'t", "Ċb", "aa", "aaaa", "x2", "Ġhello", "he", "hel",
                     "hell", "hello", "eÌ", "ab", "aba"};
  const Vocabulary v{subword_test::byte_level_vocabulary(leading)};
  const std::vector<std::pair<std::string, std::string>> merges = {
      {"ab", "a"}, {"a", "b"}, {"Ġ", "b"}, {"Ġ", "Ġ"}, {"n", "'"}, {"'", "t"}, {"Ċ", "b"}, {"a", "a"},
      {"aa", "aa"}, {"x", "2"}, {"h", "e"}, {"he", "l"}, {"hel", "l"}, {"hell", "o"}, {"Ġ", "hello"}, {"e", "Ì"}};
  const velmora::ByteBPETokenizer bpe(v.tokens, merges, "<unk>", "<s>", "</s>", false);
  const velmora::ByteBPETokenizer prefixed(v.tokens, merges, "<unk>", "<s>", "</s>", true);
  struct Case {
    const char* name;
    const velmora::ByteBPETokenizer* tokenizer;
    std::string text;
    Ids expected;
  };
  const std::vector<Case> cases = {
      {"one space joins the next run", &bpe, "a b", {v["a"], v["Ġb"]}},
      {"two spaces stay one whitespace run", &bpe, "a  b", {v["a"], v["ĠĠ"], v["b"]}},
      {"a line feed is its own run", &bpe, "a\nb", {v["a"], v["Ċ"], v["b"]}},
      {"contraction split from the word", &bpe, "don't", {v["d"], v["o"], v["n"], v["'t"]}},
      {"capital S is no contraction", &bpe, "'S", {v["'"], v["S"]}},
      {"letters and digits are separate runs", &bpe, "x2y", {v["x"], v["2"], v["y"]}},
      {"equal pairs merge in one pass", &bpe, "aaaa", {v["aaaa"]}},
      {"odd run keeps the last symbol", &bpe, "aaaaa", {v["aaaa"], v["a"]}},
      // (ab, a) ranks first but forms only once every (a, b) of the round is merged.
      {"pairs formed in a round wait for its end", &bpe, "abab", {v["ab"], v["ab"]}},
      {"prefix space added", &prefixed, "hello", {v["Ġhello"]}},
      {"no prefix before a tab", &prefixed, "\thello", {v["ĉ"], v["hello"]}},
      {"no prefix before U+3000", &prefixed, "\xE3\x80\x80", {v["ã"], v["Ģ"], v["Ģ"]}},
      {"only the text start gets the prefix", &prefixed, "hello hello", {v["Ġhello"], v["Ġhello"]}},
      {"one byte needs no merge", &bpe, "z", {v["z"]}},
      {"empty word", &prefixed, "", {}},
  };
  for (const auto& test : cases) EXPECT_EQ(test.tokenizer->tokenize(test.text), test.expected) << test.name;
  // A letter and its combining accent (bytes CC 81, base tokens "Ì" and "ģ") form one run, so
  // a merge may join the letter with the accent's first byte.
  EXPECT_EQ(bpe.tokenize("e\xCC\x81"), (Ids{v["eÌ"], v["ģ"]}));
}

TEST(ByteBPESegmentation, LongMergeChainsCostLittle) {
  // Merges that grow "b" by one "a" at a time: a word of such blocks needs as many rounds as a
  // block has letters, each touching every block. Merging pair by pair from a heap stays
  // O(n log n) in the word length; rescanning the whole word every round took seconds.
  constexpr std::size_t kBlock = 4000;
  constexpr std::size_t kBlocks = 100;
  Strings leading = {"<unk>", "<s>", "</s>"};
  std::vector<std::pair<std::string, std::string>> merges;
  std::string block = "b";
  for (std::size_t k = 1; k < kBlock; ++k) {
    merges.emplace_back(block, "a");
    block.push_back('a');
    leading.push_back(block);
  }
  const Vocabulary v{subword_test::byte_level_vocabulary(leading)};
  const velmora::ByteBPETokenizer bpe(v.tokens, std::move(merges), "<unk>", "<s>", "</s>", false);
  std::string word;
  for (std::size_t k = 0; k < kBlocks; ++k) word += block;
  const auto start = std::chrono::steady_clock::now();
  const Ids ids = bpe.tokenize(word);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(ids, Ids(kBlocks, v[block]));
  EXPECT_LT(elapsed.count(), 2.0) << "merging a " << word.size() << "-byte word";
}

// A character map with the keys "e" + U+0301 -> "é", "Ａ" -> "A" and U+200B -> "" (deleted),
// laid out as a double-array trie by hand.
std::vector<std::uint8_t> small_charsmap() {
  // Nodes: root at 0 with base 1; children at 1^label.
  std::vector<std::uint32_t> units(16 * 256, 0);
  const auto unit = [](std::uint32_t offset, bool has_leaf, std::uint32_t label) {
    return (offset << 10) | (has_leaf ? 0x100U : 0U) | label;
  };
  std::string blob;
  const auto add_value = [&](const std::string& text) {
    const auto at = static_cast<std::uint32_t>(blob.size());
    blob += text;
    blob.push_back('\0');
    return at;
  };
  std::uint32_t next_base = 2;
  // Inserts a key along a fresh chain of nodes below the root (no shared prefixes here).
  const auto insert = [&](const std::string& key, const std::string& value) {
    std::uint32_t index = 0;
    std::uint32_t base = 1;
    for (std::size_t k = 0; k < key.size(); ++k) {
      const auto c = static_cast<std::uint8_t>(key[k]);
      const std::uint32_t child = base ^ c;
      const bool last = k + 1 == key.size();
      const std::uint32_t child_base = next_base;
      next_base += 1;
      units[child] = unit(child ^ child_base * 256, last, c);
      if (last) units[child_base * 256] = 0x80000000U | add_value(value);
      index = child;
      base = child_base * 256;
    }
    (void)index;
  };
  units[0] = unit(1, false, 0);
  insert("e\xCC\x81", "\xC3\xA9");
  insert("\xEF\xBC\xA1", "A");
  insert("\xE2\x80\x8B", "");
  units.resize(next_base * 256);
  std::vector<std::uint8_t> map;
  const auto put = [&](std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) map.push_back(static_cast<std::uint8_t>(value >> shift));
  };
  put(static_cast<std::uint32_t>(units.size() * 4));
  for (const auto value : units) put(value);
  map.insert(map.end(), blob.begin(), blob.end());
  return map;
}

TEST(UnigramSegmentation, NormalisesAndFallsBackToUnknownPieces) {
  const std::string mark = "\xE2\x96\x81";
  const Vocabulary v{{"<s>", "</s>", "<unk>", mark, mark + "a", mark + "\xC3\xA9", mark + "A", "b", "A", "\xCC\x81",
                      mark + "ab", "a", "\xCC\x80"}};
  const std::vector<float> scores = {0, 0, -10, -3, -1, -1, -1, -2, -2, -2, -1.5F, -2, -2};
  const velmora::XLMRobertaTokenizer unigram(v.tokens, scores, small_charsmap(), 2, "<s>", "</s>");
  struct Case {
    const char* name;
    std::string word;
    Ids expected;
  };
  const std::vector<Case> cases = {
      {"highest total score wins", "ab", {v[mark + "ab"]}},
      {"each run gets its own mark", "a a", {v[mark + "a"], v[mark + "a"]}},
      {"only spaces", "   ", {}},
      {"empty word", "", {}},
      {"decomposed accent composed by the map", "e\xCC\x81", {v[mark + "\xC3\xA9"]}},
      {"fullwidth letter folded", "\xEF\xBC\xA1", {v[mark + "A"]}},
      {"a key for the base alone keeps the mark", "\xEF\xBC\xA1\xCC\x81", {v[mark + "A"], v["\xCC\x81"]}},
      {"a key that starts a stack of marks is replaced", "e\xCC\x81\xCC\x80", {v[mark + "\xC3\xA9"], v["\xCC\x80"]}},
      {"deleted character", "a\xE2\x80\x8B" "b", {v[mark + "ab"]}},
      {"a run of unknown characters is one unknown piece", "qq", {v[mark], v["<unk>"]}},
      {"carriage return and line feed split runs", "a\r\nb", {v[mark + "a"], v[mark], v["b"]}},
  };
  for (const auto& test : cases) EXPECT_EQ(unigram.tokenize(test.word), test.expected) << test.name;
  EXPECT_EQ(unigram.vocabulary_size(), v.tokens.size());
}

TEST(UnigramSegmentation, EqualTotalsGoTheWaySentencepieceSumsThem) {
  // Of equal float totals the candidate found first stays: the one whose last piece starts
  // earliest. Totals are float sums over the whole word, every run included, so the run before
  // decides which order of "." and "..." rounds higher.
  const std::string mark = "\xE2\x96\x81";
  const Vocabulary v{{"<s>", "</s>", "<unk>", mark, mark + "a", ".", "...", "x", "xxx"}};
  const std::vector<float> scores = {0, 0, 0, -6.33F, -4.94F, -4.54F, -7.23F, -1, -2.5F};
  const velmora::XLMRobertaTokenizer unigram(v.tokens, scores, std::vector<std::uint8_t>(4, 0), 2, "<s>", "</s>");
  const struct {
    std::string word;
    Ids expected;
  } cases[] = {
      {"xxxx", {v[mark], v["x"], v["xxx"]}},
      {"xxxxx", {v[mark], v["x"], v["x"], v["xxx"]}},
      {"....", {v[mark], v["..."], v["."]}},
      {"a ....", {v[mark + "a"], v[mark], v["."], v["..."]}},
  };
  for (const auto& c : cases) EXPECT_EQ(unigram.tokenize(c.word), c.expected) << c.word;
}

TEST(UnigramSegmentation, ALoopingCharacterMapCostsLittle) {
  // A trie whose "a" edge leads back to the node it leaves: every run of "a" walks as a key
  // prefix. The walk stops at the longest key a real map could hold, so a long word stays linear.
  std::vector<std::uint8_t> map;
  const auto put = [&](std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) map.push_back(static_cast<std::uint8_t>(value >> shift));
  };
  const std::uint32_t base = 256;
  std::vector<std::uint32_t> units(512, 0);
  units[0] = base << 10;
  units[base ^ 'a'] = (('a' ^ 0U) << 10) | 'a';  // next node = (base ^ 'a') ^ 'a' = base
  put(static_cast<std::uint32_t>(units.size() * 4));
  for (const auto unit : units) put(unit);
  const std::string mark = "\xE2\x96\x81";
  const velmora::XLMRobertaTokenizer unigram({"<s>", "</s>", "<unk>", mark + "a", "a"}, {0, 0, 0, -1, -1}, map, 2,
                                             "<s>", "</s>");
  const std::string word(100000, 'a');
  const auto start = std::chrono::steady_clock::now();
  const Ids ids = unigram.tokenize(word);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(ids.size(), word.size());
  EXPECT_EQ(ids.front(), 3);
  EXPECT_EQ(ids.back(), 4);
  EXPECT_LT(elapsed.count(), 2.0);
}

}  // namespace
