#pragma once

// Helpers of the constituency tests: the bundles and reference results written by
// tests/support/constituency_test_data.py, and reading them.

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_data.hpp"
#include "velmora/json.hpp"

namespace constituency_test {

namespace fs = std::filesystem;

inline const fs::path& data_dir() { return velmora::testing::SuiteTestData::dir("constituency"); }

/// Base of every suite that reads the written data.
class WithTestData : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { at::set_num_threads(1); }
  void SetUp() override {
    ASSERT_TRUE(velmora::testing::SuiteTestData::complete("constituency"))
        << "writing the constituency test data failed";
  }
  static fs::path compare_bundle(const std::string& variant) { return data_dir() / "compare" / variant / "bundle"; }
  static fs::path parse_bundle(const std::string& name) { return data_dir() / "parse" / name; }
};

inline std::vector<std::string> strings(const velmora::detail::JsonValue& array) {
  std::vector<std::string> out;
  for (const auto& item : array.as_array("")) out.push_back(item.as_string(""));
  return out;
}

}  // namespace constituency_test
