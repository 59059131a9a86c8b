#pragma once

// Where the sentiment tests find the bundles and the PyTorch reference's results that
// tests/support/sentiment_test_data.py writes (once per ctest run, or once by this process).

#include <ATen/ATen.h>
#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_data.hpp"
#include "velmora/json.hpp"

namespace sentiment_test {

using Sentences = std::vector<std::vector<std::string>>;

/// The configurations of sentiment_test_data.model_specs().
inline const std::vector<std::string>& model_names() {
  static const std::vector<std::string> names{"plain",          "sum_lowercase_2d",       "concat_bilstm",
                                              "charlm_projected", "charlm_backward_bilstm", "plain_float64",
                                              "transformer"};
  return names;
}

inline std::filesystem::path data_dir() { return velmora::testing::SuiteTestData::dir("sentiment"); }
inline std::filesystem::path model_dir(const std::string& name) { return data_dir() / "models" / name; }

/// Fails the test unless the fixture has finished writing. One intra-op thread: the machine is
/// shared and the test models are tiny.
inline void require_data() {
  at::set_num_threads(1);
  ASSERT_TRUE(velmora::testing::SuiteTestData::complete("sentiment"))
      << data_dir() << " is incomplete: writing the sentiment test data failed";
}

/// The reference's results for one model (see sentiment_test_data.write_models).
inline velmora::detail::JsonValue expected_for(const std::string& name) {
  return velmora::detail::load_json(data_dir() / "models" / (name + ".json"));
}

inline Sentences read_sentences(const velmora::detail::JsonValue& json) {
  Sentences sentences;
  for (const auto& sentence : json.as_array("")) {
    auto& words = sentences.emplace_back();
    for (const auto& word : sentence.as_array("")) words.push_back(word.as_string(""));
  }
  return sentences;
}

inline std::vector<std::int64_t> read_integers(const velmora::detail::JsonValue& json) {
  std::vector<std::int64_t> values;
  for (const auto& value : json.as_array("")) values.push_back(value.as_integer(""));
  return values;
}

/// A float64 [rows, columns] tensor from a JSON list of lists of numbers.
inline at::Tensor read_matrix(const velmora::detail::JsonValue& json, std::int64_t columns) {
  std::vector<double> values;
  for (const auto& row : json.as_array("")) {
    for (const auto& value : row.as_array("")) values.push_back(value.as_number(""));
  }
  const auto rows = static_cast<std::int64_t>(values.size()) / columns;
  return at::tensor(values, at::TensorOptions().dtype(at::kDouble)).reshape({rows, columns});
}

}  // namespace sentiment_test
