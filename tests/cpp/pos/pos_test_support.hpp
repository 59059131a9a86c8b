#pragma once

// The files of tests/support/pos_test_data.py and small helpers of the tagger tests.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_data.hpp"

namespace pos_test {

inline const std::filesystem::path& data_dir() { return velmora::testing::SuiteTestData::dir("pos"); }

#define POS_REQUIRE_TEST_DATA()                                                             \
  do {                                                                                      \
    ASSERT_TRUE(velmora::testing::SuiteTestData::complete("pos"))                           \
        << "the Python test data writer failed for the 'pos' suite: " << pos_test::data_dir(); \
  } while (false)

}  // namespace pos_test
