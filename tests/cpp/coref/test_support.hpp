#pragma once

// Where the coreference tests find the bundles and reference predictions that
// tests/support/coref_test_data.py writes (once per ctest run, or once by this process), and
// small helpers to read them.

#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <ATen/Parallel.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "coref/model_state.hpp"
#include "support/test_data.hpp"
#include "velmora/coref.hpp"
#include "velmora/json.hpp"

namespace coref_test {

inline std::filesystem::path data_dir() { return velmora::testing::SuiteTestData::dir("coref"); }

/// Fails the test unless the fixture has finished writing; the tensor library runs on one thread.
inline void require_data() {
  at::set_num_threads(1);
  ASSERT_TRUE(velmora::testing::SuiteTestData::complete("coref"))
      << data_dir() << " is incomplete: writing the coref test data failed";
}

inline std::vector<std::string> strings(const velmora::detail::JsonValue& array) {
  std::vector<std::string> result;
  for (const auto& value : array.as_array("")) result.push_back(value.as_string(""));
  return result;
}

inline std::vector<std::uint64_t> indices(const velmora::detail::JsonValue& array) {
  std::vector<std::uint64_t> result;
  for (const auto& value : array.as_array("")) result.push_back(static_cast<std::uint64_t>(value.as_integer("")));
  return result;
}

inline velmora::CorefPrediction prediction_from_json(const velmora::detail::JsonValue& json) {
  velmora::CorefPrediction prediction;
  for (const auto& cluster : json.at("word_clusters", "").as_array("")) prediction.word_clusters.push_back(indices(cluster));
  for (const auto& cluster : json.at("span_clusters", "").as_array("")) {
    auto& spans = prediction.span_clusters.emplace_back();
    for (const auto& span : cluster.as_array("")) {
      const std::vector<std::uint64_t> pair = indices(span);
      spans.emplace_back(pair.at(0), pair.at(1));
    }
  }
  for (const auto& cluster : json.at("zero_words", "").as_array("")) prediction.zero_words.push_back(indices(cluster));
  return prediction;
}

inline std::string describe(const velmora::CorefPrediction& prediction) {
  std::ostringstream text;
  text << "clusters:";
  for (std::size_t c = 0; c < prediction.word_clusters.size(); ++c) {
    text << " [";
    for (std::size_t i = 0; i < prediction.word_clusters[c].size(); ++i) {
      const auto [start, end] = prediction.span_clusters[c][i];
      text << ' ' << prediction.word_clusters[c][i] << '(' << start << ',' << end << ')';
    }
    text << " ] zeros:";
    for (const auto word : prediction.zero_words[c]) text << ' ' << word;
  }
  return text.str();
}

/// A loaded model state, for the tests of the forward's stages.
inline std::unique_ptr<velmora::CorefPlan::Impl> load_model(const std::string& bundle) {
  auto model = std::make_unique<velmora::CorefPlan::Impl>();
  velmora::detail::load_coref_model(*model, data_dir() / bundle, false);
  return model;
}

}  // namespace coref_test
