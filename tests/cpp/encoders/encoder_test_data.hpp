#pragma once

// Where the shared-encoder tests find the bundles and references that the ctest fixture
// encoders_write_test_data (tests/support/encoder_test_data.py) writes once per run.

#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <ATen/Parallel.h>

#include <filesystem>
#include <string>
#include <vector>

#include "velmora/json.hpp"

namespace encoder_test {

inline std::filesystem::path data_dir() { return VELMORA_ENCODER_DATA_DIR; }

/// Fails the test unless the fixture has finished writing. Runs the tensor library on one
/// thread: the machine is shared and the test models are tiny.
inline void require_data() {
  at::set_num_threads(1);
  ASSERT_TRUE(std::filesystem::exists(data_dir() / "complete"))
      << data_dir() << " is incomplete; it is written by the ctest fixture encoders_write_test_data "
      << "(run the tests through ctest, e.g. ctest -R CharLM)";
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
