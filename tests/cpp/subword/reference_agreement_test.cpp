// Every tokenizer agrees with the Python reference on corpus sentences and edge-case words,
// on first encoding (cache misses), again (cache hits) and from several threads at once.

#include <thread>

#include "test_support.hpp"

namespace {

using namespace subword_test;

template <class Tokenizer>
void expect_cases_agree(const Tokenizer& tokenizer, const JsonValue& data, const std::string& label) {
  for (const auto& test : data.at("cases", "").as_array("")) {
    const auto words = strings(test.at("words", ""));
    const auto encoding = tokenizer.encode(words, test.at("add_special_tokens", "").as_bool(""));
    const std::string context = label + ": " + (words.empty() ? std::string("<no words>") : words.front());
    EXPECT_EQ(encoding.input_ids, integers(test.at("input_ids", ""))) << context;
    EXPECT_EQ(encoding.attention_mask, integers(test.at("attention_mask", ""))) << context;
    EXPECT_EQ(encoding.word_ids, integers(test.at("word_ids", ""))) << context;
  }
  if (const auto* texts = data.find("texts")) {
    if constexpr (!std::is_same_v<Tokenizer, velmora::WordPieceTokenizer>) {
      for (const auto& test : texts->as_array("")) {
        EXPECT_EQ(tokenizer.tokenize(test.at("text", "").as_string("")), integers(test.at("ids", "")))
            << label << ": " << test.at("text", "").as_string("");
      }
    }
  }
}

template <class Tokenizer>
void expect_agreement(const std::string& name, Tokenizer (*make)(const JsonValue&)) {
  if (!SubwordTestData::complete()) GTEST_SKIP() << "subword test data could not be written";
  const JsonValue data = load_data(name);
  const Tokenizer tokenizer = make(data.at("arguments", ""));
  expect_cases_agree(tokenizer, data, name + " (misses)");
  const auto filled = tokenizer.cache_size();
  EXPECT_GT(filled, 0);
  EXPECT_LE(filled, 8192);
  expect_cases_agree(tokenizer, data, name + " (hits)");
  EXPECT_EQ(tokenizer.cache_size(), filled) << "hits fill no further slots";

  // A fresh tokenizer shared by several threads: misses and stores race with hits.
  const Tokenizer shared = make(data.at("arguments", ""));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&] { expect_cases_agree(shared, data, name + " (threads)"); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(shared.cache_size(), filled);
}

// WordPiece lower-cased and stripped, keeping accents with a short limit, and cased; byte BPE
// with and without a prefix space; unigram with unknown characters.
TEST(SubwordReferenceAgreement, EveryTokenizerOnEachOfItsDataSets) {
  for (const char* name : {"wordpiece_small", "wordpiece_medium", "wordpiece_cased"}) {
    expect_agreement<velmora::WordPieceTokenizer>(name, make_wordpiece);
  }
  for (const char* name : {"bpe_small", "bpe_medium"}) expect_agreement<velmora::ByteBPETokenizer>(name, make_bpe);
  for (const char* name : {"unigram_small", "unigram_medium"}) {
    expect_agreement<velmora::XLMRobertaTokenizer>(name, make_unigram);
  }
}

}  // namespace
