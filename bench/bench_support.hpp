#pragma once

// What the benchmarks share: a wall clock and the sentence lists their Python halves write.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "velmora/json.hpp"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

/// A JSON file holding a list of sentences, each a list of word strings.
inline std::vector<std::vector<std::string>> read_sentences_json(const std::filesystem::path& path) {
  std::vector<std::vector<std::string>> sentences;
  const velmora::detail::JsonValue json = velmora::detail::load_json(path);
  for (const auto& sentence : json.as_array("")) {
    auto& words = sentences.emplace_back();
    for (const auto& word : sentence.as_array("")) words.push_back(word.as_string(""));
  }
  return sentences;
}

}  // namespace bench
