// Constituency parsing throughput: native `parse_many` over seeded sentences, on a bundle and
// sentences written by bench/constituency.py (which prints the PyTorch reference's time on
// the same sentences beside these figures).
//
// Usage: constituency_bench BUNDLE SENTENCES_JSON [THREADS]

#include <ATen/Parallel.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support.hpp"
#include "velmora/constituency.hpp"
#include "velmora/json.hpp"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: constituency_bench BUNDLE SENTENCES_JSON [THREADS]\n");
    return 2;
  }
  const int threads = argc > 3 ? std::stoi(argv[3]) : 1;
  at::set_num_threads(threads);
  const velmora::ConstituencyPlan plan(argv[1], false);
  std::vector<std::vector<std::string>> sentences;
  std::vector<std::vector<std::string>> tags;
  std::size_t words = 0;
  const velmora::detail::JsonValue json = velmora::detail::load_json(argv[2]);
  for (const auto& entry : json.as_array("")) {
    auto& sentence = sentences.emplace_back();
    auto& sentence_tags = tags.emplace_back();
    for (const auto& word : entry.at("words", "").as_array("")) sentence.push_back(word.as_string(""));
    for (const auto& tag : entry.at("tags", "").as_array("")) sentence_tags.push_back(tag.as_string(""));
    words += sentence.size();
  }
  plan.parse(sentences.front(), tags.front());  // warm-up
  const auto start = bench::Clock::now();
  plan.parse_many(sentences, tags);
  const double seconds = bench::seconds_since(start);
  std::printf("native parse_many                 %8.3f s  %8.1f sentences/s  %8.0f words/s\n", seconds,
              static_cast<double>(sentences.size()) / seconds, static_cast<double>(words) / seconds);
  bench::emit("constituency", "whole list", threads, "native", seconds, static_cast<double>(words), "words");
  return 0;
}
