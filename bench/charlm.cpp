// Character LM throughput: native `encode` sentence by sentence and `encode_many` over the whole
// list, on a bundle and sentences written by bench/charlm.py (which prints the PyTorch
// baselines beside these figures).
//
// Usage: charlm_bench BUNDLE SENTENCES_JSON [THREADS]

#include <ATen/Parallel.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "encoders/charlm_native.hpp"
#include "support.hpp"
#include "velmora/json.hpp"
#include "velmora/model_bundle.hpp"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: charlm_bench BUNDLE SENTENCES_JSON [THREADS]\n");
    return 2;
  }
  const int threads = argc > 3 ? std::stoi(argv[3]) : 1;
  at::set_num_threads(threads);
  auto bundle = std::make_shared<velmora::ModelBundle>(argv[1], false);
  const auto assets = velmora::detail::parse_json(bundle->assets_json());
  const velmora::detail::NativeCharLM model(bundle, "", assets);
  const auto sentences = bench::read_sentences_json(argv[2]);

  model.encode(sentences.front());  // warm-up
  auto start = bench::Clock::now();
  for (const auto& words : sentences) model.encode(words);
  const double one_by_one = bench::seconds_since(start);
  start = bench::Clock::now();
  model.encode_many(sentences);
  const double batched = bench::seconds_since(start);
  std::printf("native encode, sentence by sentence   %8.3f s  %8.0f sentences/s\n", one_by_one,
              static_cast<double>(sentences.size()) / one_by_one);
  std::printf("native encode_many                    %8.3f s  %8.0f sentences/s\n", batched,
              static_cast<double>(sentences.size()) / batched);
  const auto count = static_cast<double>(sentences.size());
  bench::emit("charlm", "sentence by sentence", threads, "native", one_by_one, count, "sentences");
  bench::emit("charlm", "whole list", threads, "native", batched, count, "sentences");
  return 0;
}
