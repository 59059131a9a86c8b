#pragma once

// The bundles and reference answers that tests/support/langid_test_data.py wrote.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_data.hpp"
#include "velmora/json.hpp"

namespace langid_test {

inline const std::filesystem::path& data_dir() { return velmora::testing::SuiteTestData::dir("langid"); }

inline bool data_complete() { return velmora::testing::SuiteTestData::complete("langid"); }

inline std::filesystem::path bundle(const std::string& name) { return data_dir() / "bundles" / name; }

inline const velmora::detail::JsonValue& expected() {
  static const velmora::detail::JsonValue value = velmora::detail::load_json(data_dir() / "expected.json");
  return value;
}

#define LANGID_REQUIRE_DATA() \
  if (!::langid_test::data_complete()) GTEST_FAIL() << "langid test data was not written"

}  // namespace langid_test
