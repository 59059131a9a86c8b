#pragma once

// Helpers of the seq2seq, MWT and lemma tests: the bundles and reference results written by
// tests/support/seq2seq_test_data.py, and readers for the reference's JSON.

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/test_data.hpp"
#include "velmora/json.hpp"

namespace seq2seq_test {

namespace fs = std::filesystem;
using velmora::detail::JsonValue;

// The suite's data: the ctest fixture's folder, or written once by this process. The tensor
// library runs on one thread: the machine is shared and the test models are tiny.
class TestData {
 public:
  static const fs::path& dir() {
    at::set_num_threads(1);
    return velmora::testing::SuiteTestData::dir("seq2seq");
  }
  static fs::path bundle(const std::string& name) { return dir() / "bundles" / name; }
  static fs::path load_variant(const std::string& name) { return dir() / "bundles" / "load" / name; }
  static bool has_corpus() { return velmora::detail::load_text_file(dir() / "corpus.txt") != "none"; }
  static JsonValue expected(const std::string& name) {
    return velmora::detail::load_json(dir() / "expected" / (name + ".json"));
  }
};

inline std::vector<std::string> strings(const JsonValue& value) {
  std::vector<std::string> out;
  for (const JsonValue& item : value.as_array("")) out.push_back(item.as_string(""));
  return out;
}

inline std::vector<std::optional<std::string>> optional_strings(const JsonValue& value) {
  std::vector<std::optional<std::string>> out;
  for (const JsonValue& item : value.as_array("")) {
    out.push_back(item.is_null() ? std::nullopt : std::optional<std::string>(item.as_string("")));
  }
  return out;
}

inline std::vector<bool> flags(const JsonValue& value) {
  std::vector<bool> out;
  for (const JsonValue& item : value.as_array("")) out.push_back(item.as_bool(""));
  return out;
}

/// A reference prediction: [text, edit class or null].
struct Expected {
  std::string text;
  std::optional<std::int64_t> edit_class;
};

inline std::vector<Expected> predictions(const JsonValue& value) {
  std::vector<Expected> out;
  for (const JsonValue& item : value.as_array("")) {
    const auto& pair = item.as_array("");
    out.push_back({pair.at(0).as_string(""), pair.at(1).is_null() ? std::nullopt
                                                                   : std::optional<std::int64_t>(pair.at(1).as_integer(""))});
  }
  return out;
}

}  // namespace seq2seq_test
