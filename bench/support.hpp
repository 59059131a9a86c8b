#pragma once

// What the benchmarks share: a wall clock, the sentence lists their Python halves write, the
// "--tiny" switch, the float32 GEMM rate that bounds the models, and the machine-readable result
// lines that bench/run.py collects (their fields are described in bench/report.py).

#include <ATen/core/Tensor.h>
#include <ATen/ops/mm.h>
#include <ATen/ops/randn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
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

/// Removes "--tiny" from the arguments; true when it was there.
inline bool take_tiny(int& argc, char** argv) {
  bool tiny = false;
  int kept = 0;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::strcmp(argv[i], "--tiny") == 0) {
      tiny = true;
      continue;
    }
    argv[kept++] = argv[i];
  }
  argc = kept;
  return tiny;
}

/// FLOP/s of the best of a few float32 size x size products at the current thread count.
inline double gemm_rate(std::int64_t size = 1024, int repeats = 5) {
  const at::Tensor a = at::randn({size, size});
  const at::Tensor b = at::randn({size, size});
  at::mm(a, b);
  double best = 1e30;
  for (int r = 0; r < repeats; ++r) {
    const auto start = Clock::now();
    at::mm(a, b);
    best = std::min(best, seconds_since(start));
  }
  return 2.0 * static_cast<double>(size) * static_cast<double>(size) * static_cast<double>(size) / best;
}

/// One result line: `side` is "native" or "baseline"; `flops` and `gemm` are left out when zero.
inline void emit(const std::string& bench, const std::string& case_name, int threads, const char* side,
                 double seconds, double items, const char* unit, double flops = 0.0, double gemm = 0.0) {
  std::printf("{\"bench\": \"%s\", \"case\": \"%s\", \"threads\": %d, \"side\": \"%s\", \"seconds\": %.9g, "
              "\"items\": %.17g, \"unit\": \"%s\"",
              bench.c_str(), case_name.c_str(), threads, side, seconds, items, unit);
  if (flops > 0.0 && gemm > 0.0) std::printf(", \"flops\": %.9g, \"gemm\": %.9g", flops, gemm);
  std::printf("}\n");
  std::fflush(stdout);
}

}  // namespace bench
