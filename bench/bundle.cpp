// Measures the JSON reader, SHA-256 and bundle opening on files prepared by
// bench/bundle.py, which runs the Python baselines on the same files.
//
//   bundle_bench json FILE REPEATS     best parse time of the file's text, in seconds
//   bundle_bench sha256 FILE REPEATS   best digest time of the file's bytes, and the digest
//   bundle_bench open DIR              open time without verification and resident growth

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support.hpp"
#include "velmora/json.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/sha256.hpp"

namespace {

// Resident set size in kilobytes, from /proc/self/status.
long resident_kb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

int bench_json(const char* file, int repeats) {
  const std::string text = velmora::detail::load_text_file(file);
  double best = 1e30;
  std::size_t members = 0;
  for (int i = 0; i < repeats; ++i) {
    // Destruction is timed too, as the baseline's result is freed inside its timing.
    const auto start = bench::Clock::now();
    {
      const velmora::detail::JsonValue value = velmora::detail::parse_json(text);
      members = value.as_object("").size();
    }
    best = std::min(best, bench::seconds_since(start));
  }
  std::printf("%.6f %zu\n", best, members);
  return 0;
}

int bench_sha256(const char* file, int repeats) {
  const std::string data = velmora::detail::load_text_file(file);
  double best = 1e30;
  std::string digest;
  for (int i = 0; i < repeats; ++i) {
    const auto start = bench::Clock::now();
    digest = velmora::detail::sha256_hex(data.data(), data.size());
    best = std::min(best, bench::seconds_since(start));
  }
  std::printf("%.6f %s\n", best, digest.c_str());
  return 0;
}

int bench_open(const char* dir) {
  const long before = resident_kb();
  const auto start = bench::Clock::now();
  velmora::ModelBundle bundle(dir, false);
  const double elapsed = bench::seconds_since(start);
  const long after = resident_kb();
  std::printf("%.6f %ld %llu\n", elapsed, after - before,
              static_cast<unsigned long long>(bundle.tensor_file_size()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bundle_bench json|sha256 FILE REPEATS | open DIR\n");
    return 2;
  }
  const std::string mode = argv[1];
  const int repeats = argc > 3 ? std::atoi(argv[3]) : 1;
  if (mode == "json") return bench_json(argv[2], repeats);
  if (mode == "sha256") return bench_sha256(argv[2], repeats);
  if (mode == "open") return bench_open(argv[2]);
  std::fprintf(stderr, "unknown mode: %s\n", mode.c_str());
  return 2;
}
