#pragma once

// Where the tagger tests find the bundles and PyTorch references that
// tests/support/ner_test_data.py writes (once per ctest run, or once by this process), and a
// document builder for tagging tests.

#include <gtest/gtest.h>

#include <ATen/Parallel.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_data.hpp"
#include "velmora/document.hpp"
#include "velmora/json.hpp"

namespace ner_test {

inline std::filesystem::path data_dir() { return velmora::testing::SuiteTestData::dir("ner"); }

/// Fails the test unless the fixture has finished writing; runs the tensor library on one thread
/// (the machine is shared and the test models are tiny).
inline void require_data() {
  at::set_num_threads(1);
  ASSERT_TRUE(velmora::testing::SuiteTestData::complete("ner"))
      << data_dir() << " is incomplete: writing the NER test data failed";
}

using Sentences = std::vector<std::vector<std::string>>;

inline Sentences read_string_lists(const velmora::detail::JsonValue& json) {
  Sentences lists;
  for (const auto& list : json.as_array("")) {
    auto& strings = lists.emplace_back();
    for (const auto& text : list.as_array("")) strings.push_back(text.as_string(""));
  }
  return lists;
}

/// A document whose sentences hold the given token texts, one word per token, the text being
/// the tokens joined by single spaces.
inline velmora::Document document_of(const Sentences& sentences) {
  std::string text;
  std::vector<velmora::SentenceInput> inputs;
  for (const auto& tokens : sentences) {
    velmora::SentenceInput& sentence = inputs.emplace_back();
    int id = 1;
    for (const std::string& token_text : tokens) {
      if (!text.empty()) text += ' ';
      text += token_text;
      velmora::TokenInput& token = sentence.tokens.emplace_back();
      token.id_start = token.id_end = id;
      token.text = token_text;
      velmora::WordInput& word = token.words.emplace_back();
      word.id = id++;
      word.text = token_text;
    }
  }
  return velmora::Document(text, std::move(inputs));
}

}  // namespace ner_test
