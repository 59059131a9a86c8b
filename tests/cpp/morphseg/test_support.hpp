#pragma once

// The bundles and reference segmentations that tests/support/morphseg_test_data.py wrote.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_data.hpp"
#include "velmora/json.hpp"

namespace morphseg_test {

inline const std::filesystem::path& data_dir() { return velmora::testing::SuiteTestData::dir("morphseg"); }

inline bool data_complete() { return velmora::testing::SuiteTestData::complete("morphseg"); }

inline std::filesystem::path bundle(const std::string& name) { return data_dir() / "bundles" / name; }

inline const velmora::detail::JsonValue& expected() {
  static const velmora::detail::JsonValue value = velmora::detail::load_json(data_dir() / "expected.json");
  return value;
}

using Morphemes = std::vector<std::string>;

#define MORPHSEG_REQUIRE_DATA() \
  if (!::morphseg_test::data_complete()) GTEST_FAIL() << "morphseg test data was not written"

}  // namespace morphseg_test
