// Embedding many sentences: each gets its own slice of the one character-model run, a sentence
// without words gets no rows, and the first failing sentence ends the work, whichever step fails.

#include <gtest/gtest.h>

#include <ATen/ATen.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "models/sentence_embedding.hpp"

namespace {

using Sentence = std::vector<std::int64_t>;

// A word below zero has no character ids; a word of 99 fails to embed. Each sentence's character
// rows are a root row (0) and then one row per word holding the word, so that a slice taken by
// word count instead of row count shows.
std::vector<std::string> embedded_rows(const std::vector<Sentence>& sentences, bool own_characters,
                                       std::string& failure) {
  const auto character_ids = [&](std::size_t s) {
    std::vector<std::vector<std::int64_t>> ids = {{0}};
    for (const std::int64_t word : sentences[s]) {
      if (word < 0) throw std::invalid_argument("no ids in sentence " + std::to_string(s));
      ids.push_back({word});
    }
    return ids;
  };
  const auto character_rows = [](const std::vector<std::vector<std::int64_t>>& ids) {
    std::vector<std::int64_t> flat;
    for (const auto& word : ids) flat.push_back(word.at(0));
    return at::tensor(flat).unsqueeze(1);
  };
  const auto embed = [&](std::size_t s, const at::Tensor* characters) {
    for (const std::int64_t word : sentences[s]) {
      if (word == 99) throw std::invalid_argument("cannot embed sentence " + std::to_string(s));
    }
    return (characters != nullptr ? *characters : at::tensor(sentences[s]).unsqueeze(1)).unsqueeze(0);
  };
  const velmora::detail::EmbeddedSentences embedded = velmora::detail::embed_sentences(
      std::span<const Sentence>(sentences), own_characters, character_ids, character_rows, embed);
  failure.clear();
  try {
    if (embedded.failure) std::rethrow_exception(embedded.failure);
  } catch (const std::exception& error) {
    failure = error.what();
  }
  std::vector<std::string> rows;
  for (const at::Tensor& sentence : embedded.rows) {
    std::vector<std::string> values;
    for (std::int64_t r = 0; sentence.defined() && r < sentence.size(0); ++r) {
      values.push_back(std::to_string(sentence[r][0].item<std::int64_t>()));
    }
    std::string text = sentence.defined() ? "" : "none";
    for (const std::string& value : values) text.append(text.empty() ? value : " " + value);
    rows.push_back(text);
  }
  return rows;
}

TEST(SentenceEmbedding, EachSentenceItsSliceUpToTheFirstFailure) {
  struct Case {
    const char* name;
    std::vector<Sentence> sentences;
    bool own_characters;
    std::vector<std::string> rows;
    std::string failure;
  };
  const std::vector<Case> cases = {
      {"slices by rows", {{1, 2}, {}, {3}, {4, 5, 6}}, true, {"0 1 2", "none", "0 3", "0 4 5 6"}, ""},
      {"no character model", {{1, 2}, {}, {3}}, false, {"1 2", "none", "3"}, ""},
      {"ids fail", {{1}, {}, {2, -1}, {3}}, true, {"0 1", "none"}, "no ids in sentence 2"},
      {"embedding fails", {{1}, {99}, {3}}, true, {"0 1"}, "cannot embed sentence 1"},
      {"an earlier embedding failure first", {{1}, {99}, {-1}}, true, {"0 1"}, "cannot embed sentence 1"},
      {"the first sentence fails", {{-1}, {2}}, true, {}, "no ids in sentence 0"},
  };
  for (const Case& c : cases) {
    std::string failure;
    EXPECT_EQ(embedded_rows(c.sentences, c.own_characters, failure), c.rows) << c.name;
    EXPECT_EQ(failure, c.failure) << c.name;
  }
}

}  // namespace
