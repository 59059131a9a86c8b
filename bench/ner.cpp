// Named-entity tagger throughput: NERPlan::tag sentence by sentence, on a bundle and sentences
// written by bench/ner.py (which prints the PyTorch reference's figure beside it).
//
// Usage: ner_bench BUNDLE SENTENCES_JSON [THREADS]

#include <ATen/Parallel.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support.hpp"
#include "velmora/json.hpp"
#include "velmora/ner.hpp"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ner_bench BUNDLE SENTENCES_JSON [THREADS]\n");
    return 2;
  }
  const int threads = argc > 3 ? std::stoi(argv[3]) : 1;
  at::set_num_threads(threads);
  const velmora::NERPlan plan(argv[1], false);
  const auto sentences = bench::read_sentences_json(argv[2]);

  plan.tag(sentences.front());  // warm-up
  const auto start = bench::Clock::now();
  std::size_t tokens = 0;
  for (const auto& sentence : sentences) tokens += plan.tag(sentence).size();
  const double elapsed = bench::seconds_since(start);
  std::printf("native tag, sentence by sentence       %8.3f s  %8.0f sentences/s  (%zu tokens)\n", elapsed,
              static_cast<double>(sentences.size()) / elapsed, tokens);
  bench::emit("ner", "sentence by sentence", threads, "native", elapsed, static_cast<double>(sentences.size()),
              "sentences");
  return 0;
}
