#pragma once

// The bundles and PyTorch reference results that tests/support/depparse_test_data.py writes.

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_data.hpp"
#include "velmora/depparse.hpp"
#include "velmora/json.hpp"

namespace depparse_test {

struct TestData {
  static const std::filesystem::path& dir() { return velmora::testing::SuiteTestData::dir("depparse"); }
  static bool complete() { return velmora::testing::SuiteTestData::complete("depparse"); }
  static std::filesystem::path bundle(const std::string& variant) { return dir() / "bundles" / variant; }
};

inline std::optional<std::string> optional_string(const velmora::detail::JsonValue& value) {
  if (value.is_null()) return std::nullopt;
  return value.as_string("");
}

/// One sentence of a variant's expectations: its words and the reference's predictions.
struct ExpectedSentence {
  std::vector<velmora::DepparseWord> words;
  std::vector<velmora::DepparsePrediction> predictions;
};

inline std::vector<ExpectedSentence> expected_sentences(const std::string& variant) {
  const velmora::detail::JsonValue root = velmora::detail::load_json(TestData::dir() / "expected" / (variant + ".json"));
  std::vector<ExpectedSentence> sentences;
  for (const auto& entry : root.as_array("")) {
    ExpectedSentence sentence;
    for (const auto& word : entry.at("words", "").as_array("")) {
      sentence.words.push_back({word.at("text", "").as_string(""), optional_string(word.at("lemma", "")),
                                optional_string(word.at("upos", "")), optional_string(word.at("xpos", "")),
                                std::nullopt});
    }
    for (const auto& prediction : entry.at("predictions", "").as_array("")) {
      const auto& pair = prediction.as_array("");
      sentence.predictions.push_back(
          {static_cast<std::int32_t>(pair.at(0).as_integer("")), pair.at(1).as_string("")});
    }
    sentences.push_back(std::move(sentence));
  }
  return sentences;
}

#define DEPPARSE_REQUIRE_TEST_DATA() \
  if (!::depparse_test::TestData::complete()) GTEST_FAIL() << "depparse test data were not written"

}  // namespace depparse_test
