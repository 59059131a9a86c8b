#pragma once

// The files of tests/support/pos_test_data.py and small helpers of the tagger tests.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_data.hpp"
#include "velmora/document.hpp"
#include "velmora/json.hpp"
#include "velmora/pos.hpp"

namespace pos_test {

inline const std::filesystem::path& data_dir() { return velmora::testing::SuiteTestData::dir("pos"); }

#define POS_REQUIRE_TEST_DATA()                                                                  \
  do {                                                                                           \
    ASSERT_TRUE(velmora::testing::SuiteTestData::complete("pos"))                                \
        << "the Python test data writer failed for the 'pos' suite: " << pos_test::data_dir(); \
  } while (false)

using Sentences = std::vector<std::vector<std::string>>;

/// The sentences and the reference's tags of `expected.json` in `folder` ("agreement", "forced").
struct Expected {
  Sentences sentences;
  velmora::detail::JsonValue tags;

  explicit Expected(const std::string& folder) {
    std::ifstream stream(data_dir() / folder / "expected.json", std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    velmora::detail::JsonValue root = velmora::detail::parse_json(text.str());
    for (const auto& sentence : root.at("sentences", "").as_array("")) {
      std::vector<std::string> words;
      for (const auto& word : sentence.as_array("")) words.push_back(word.as_string(""));
      sentences.push_back(std::move(words));
    }
    tags = root.at("tags", "");
  }

  /// The reference's tags of sentence `index` for bundle `name`.
  std::vector<velmora::POSTag> of(const std::string& name, std::size_t index) const {
    std::vector<velmora::POSTag> result;
    for (const auto& tag : tags.at(name, "").as_array("").at(index).as_array("")) {
      const auto& fields = tag.as_array("");
      result.push_back({fields[0].as_string(""), fields[1].as_string(""), fields[2].as_string("")});
    }
    return result;
  }
};

/// A document of the given sentences, one single-word token per word, no text offsets.
inline velmora::Document document_of(const Sentences& sentences) {
  std::vector<velmora::SentenceInput> records;
  for (const auto& words : sentences) {
    velmora::SentenceInput sentence;
    for (std::size_t i = 0; i < words.size(); ++i) {
      velmora::TokenInput token;
      token.id_start = token.id_end = static_cast<int>(i) + 1;
      token.text = words[i];
      velmora::WordInput word;
      word.id = token.id_start;
      word.text = words[i];
      token.words.push_back(std::move(word));
      sentence.tokens.push_back(std::move(token));
    }
    records.push_back(std::move(sentence));
  }
  return velmora::Document("", std::move(records));
}

/// The tags stored in a document's words, "_" for an absent field.
inline std::vector<std::vector<velmora::POSTag>> stored_tags(const velmora::Document& document) {
  std::vector<std::vector<velmora::POSTag>> result;
  const auto sentences = document.sentences();
  for (std::uint64_t s = 0; s < sentences.size(); ++s) {
    std::vector<velmora::POSTag> tags;
    const auto words = sentences.at(static_cast<long>(s)).words();
    for (std::uint64_t w = 0; w < words.size(); ++w) {
      const velmora::Word word = words.at(static_cast<long>(w));
      tags.push_back({word.upos().value_or("_"), word.xpos().value_or("_"), word.feats().value_or("_")});
    }
    result.push_back(std::move(tags));
  }
  return result;
}

}  // namespace pos_test

namespace velmora {
inline void PrintTo(const POSTag& tag, std::ostream* out) { *out << tag.upos << " " << tag.xpos << " " << tag.feats; }
}  // namespace velmora
