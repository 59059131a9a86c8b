#pragma once

// Helpers of the tokenizer tests: the data the Python test helpers (bundle writer and PyTorch
// reference) wrote, and printing documents in the reference's line form.

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_data.hpp"
#include "velmora/document.hpp"

namespace tokenizer_test {

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream content;
  content << stream.rdbuf();
  return content.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

/// One line per token (id, text, start, end, misc, spaces before, spaces after) and a line
/// "S" before each sentence, as the reference prints its documents.
inline std::string format_document(const velmora::Document& document) {
  std::string out;
  const auto sentences = document.sentences();
  for (std::uint64_t s = 0; s < sentences.size(); ++s) {
    out += "S\n";
    const auto tokens = sentences.at(static_cast<long>(s)).tokens();
    for (std::uint64_t t = 0; t < tokens.size(); ++t) {
      const velmora::Token token = tokens.at(static_cast<long>(t));
      out += std::to_string(token.id_range().first) + "\t" + escape(token.text()) + "\t" +
             std::to_string(token.start_char().value_or(0)) + "\t" + std::to_string(token.end_char().value_or(0)) +
             "\t" + escape(token.misc().value_or("_")) + "\t" + escape(token.spaces_before()) + "\t" +
             escape(token.spaces_after()) + "\n";
    }
  }
  return out;
}

// The bundles and reference expectations of tests/support/tokenizer_test_data.py.
struct TokenizerTestData {
  static const std::filesystem::path& dir() { return velmora::testing::SuiteTestData::dir("tokenize"); }
  static bool complete() { return velmora::testing::SuiteTestData::complete("tokenize"); }
};

}  // namespace tokenizer_test
