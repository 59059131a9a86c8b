#pragma once

// Helpers of the tokenizer tests: temporary directories, running the Python test helpers
// (bundle writer and PyTorch reference) and printing documents in the reference's line form.

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "velmora/document.hpp"

namespace tokenizer_test {

inline std::filesystem::path support_dir() { return std::filesystem::path(VELMORA_SOURCE_DIR) / "tests" / "support"; }

/// A fresh directory under the system's temporary directory.
inline std::filesystem::path fresh_dir(const std::string& name) {
  std::random_device seed;
  auto dir = std::filesystem::temp_directory_path() / ("velmora-" + name + "-" + std::to_string(seed()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string quoted(const std::string& text) { return "'" + text + "'"; }

/// Runs a script of tests/support with the build's interpreter on one intra-op thread (the
/// machine is shared); true when it exits with status 0.
inline bool run_support_script(const std::string& script, const std::string& arguments) {
  const std::string command = "PYTHONPATH=" + quoted(support_dir().string()) + " OMP_NUM_THREADS=1 " +
                              quoted(VELMORA_PYTHON) + " " + quoted((support_dir() / script).string()) + " " +
                              arguments;
  return std::system(command.c_str()) == 0;
}

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

// The bundles and reference expectations of tests/support/tokenizer_test_data.py: the ctest
// fixture's directory when it is complete, otherwise written once by this process into a
// temporary directory that is removed at exit.
class TokenizerTestData {
 public:
  static const std::filesystem::path& dir() {
    static const TokenizerTestData data;
    return data.dir_;
  }
  static bool complete() { return std::filesystem::exists(dir() / "complete"); }

 private:
  TokenizerTestData() {
    const std::filesystem::path fixture = VELMORA_TOKENIZER_DATA_DIR;
    if (std::filesystem::exists(fixture / "complete")) {
      dir_ = fixture;
      return;
    }
    dir_ = fresh_dir("tokenizer-data");
    owned_ = true;
    run_support_script("tokenizer_test_data.py", quoted(dir_.string()));
  }
  ~TokenizerTestData() {
    if (owned_) std::filesystem::remove_all(dir_);
  }

  std::filesystem::path dir_;
  bool owned_ = false;
};

}  // namespace tokenizer_test
