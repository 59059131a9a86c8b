// Sentiment classifier throughput: native `classify_many` over the whole list (word budget 5000)
// and `classify` sentence by sentence, on a bundle and sentences written by
// bench/sentiment.py (which prints the PyTorch baseline beside these figures).
//
// Usage: sentiment_bench BUNDLE SENTENCES_JSON [THREADS]

#include <ATen/Parallel.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "support.hpp"
#include "velmora/json.hpp"
#include "velmora/sentiment.hpp"

namespace {

// Wall and processor seconds of one run: on a shared machine the processor time is the steadier.
struct Timing {
  double wall;
  double cpu;
};

template <class Run>
Timing timed(Run&& run) {
  const auto wall = bench::Clock::now();
  const std::clock_t cpu = std::clock();
  run();
  return {std::chrono::duration<double>(bench::Clock::now() - wall).count(),
          static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC};
}

int threads = 1;

void print(const char* label, const char* case_name, Timing timing, std::size_t sentences) {
  std::printf("%-40s %8.3f s wall %8.3f s cpu  %8.0f sentences/cpu s\n", label, timing.wall, timing.cpu,
              static_cast<double>(sentences) / timing.cpu);
  bench::emit("sentiment", case_name, threads, "native", timing.wall, static_cast<double>(sentences), "sentences");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: sentiment_bench BUNDLE SENTENCES_JSON [THREADS]\n");
    return 2;
  }
  threads = argc > 3 ? std::stoi(argv[3]) : 1;
  at::set_num_threads(threads);
  const velmora::SentimentPlan plan(argv[1], false);
  const auto sentences = bench::read_sentences_json(argv[2]);

  plan.classify(sentences.front());  // warm-up
  print("native classify_many (budget 5000)", "whole list", timed([&] { plan.classify_many(sentences, 5000); }),
        sentences.size());
  print("native classify, sentence by sentence", "sentence by sentence", timed([&] {
          for (const auto& words : sentences) plan.classify(words);
        }),
        sentences.size());
  return 0;
}
