#pragma once

// Where the shared-encoder tests find the bundles and references that
// tests/support/encoder_test_data.py writes (once per ctest run, or once by this process).

#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <ATen/Parallel.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_data.hpp"
#include "velmora/json.hpp"

namespace encoder_test {

inline std::filesystem::path data_dir() { return velmora::testing::SuiteTestData::dir("encoders"); }

/// Fails the test unless the fixture has finished writing. Runs the tensor library on one
/// thread: the machine is shared and the test models are tiny.
inline void require_data() {
  at::set_num_threads(1);
  ASSERT_TRUE(velmora::testing::SuiteTestData::complete("encoders"))
      << data_dir() << " is incomplete: writing the encoder test data failed";
}

inline std::vector<std::vector<std::string>> read_sentences(const std::filesystem::path& path) {
  std::vector<std::vector<std::string>> sentences;
  const velmora::detail::JsonValue json = velmora::detail::load_json(path);
  for (const auto& sentence : json.as_array("")) {
    auto& words = sentences.emplace_back();
    for (const auto& word : sentence.as_array("")) words.push_back(word.as_string(""));
  }
  return sentences;
}

/// Expects `actual` to have the reference's shape and values, whatever its floating dtype.
inline void expect_close(const at::Tensor& actual, const at::Tensor& expected, double rtol, double atol) {
  ASSERT_EQ(actual.sizes(), expected.sizes());
  const at::Tensor values = actual.to(at::kFloat);
  EXPECT_TRUE(at::allclose(values, expected, rtol, atol))
      << "largest difference " << (expected.numel() == 0 ? 0.0F : (values - expected).abs().max().item<float>());
}

}  // namespace encoder_test
