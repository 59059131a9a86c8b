// Seq2seq decoding throughput with a lemma bundle of realistic dimensions (copy, edit classes,
// POS tags) on words of the English dev corpus: native single-word greedy decoding and batched
// decoding beside the PyTorch reference doing the same work on the same thread count.
//
// Usage: seq2seq_bench [THREADS] [--tiny]   (default 1; --tiny: a small bundle and 20 words)

#include <ATen/Parallel.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support.hpp"
#include "velmora/seq2seq.hpp"

int main(int argc, char** argv) {
  const bool tiny = bench::take_tiny(argc, argv);
  const int threads = argc > 1 ? std::atoi(argv[1]) : 1;
  at::set_num_threads(threads);
  const double gemm = bench::gemm_rate();
  std::random_device seed;
  const auto dir = std::filesystem::temp_directory_path() / ("velmora-seq2seq-bench-" + std::to_string(seed()));
  std::filesystem::create_directories(dir);
  const std::string command = "'" + std::string(VELMORA_PYTHON) + "' '" VELMORA_SOURCE_DIR "/bench/seq2seq.py' '" +
                              dir.string() + "' " + std::to_string(threads) + (tiny ? " --tiny" : "");
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "writing the benchmark bundle failed\n");
    return 1;
  }
  std::vector<std::string> words;
  std::vector<std::optional<std::string>> tags;
  std::ifstream lines(dir / "words.txt");
  for (std::string line; std::getline(lines, line);) {
    const std::size_t tab = line.find('\t');
    words.push_back(line.substr(0, tab));
    tags.emplace_back(line.substr(tab + 1));
  }
  double reference_single = 0.0;
  double reference_batched = 0.0;
  std::ifstream(dir / "reference.txt") >> reference_single >> reference_batched;
  double flops = 0.0;
  std::ifstream(dir / "flops.txt") >> flops;

  const velmora::Seq2SeqPlan plan(dir / "bundle", false);
  auto start = bench::Clock::now();
  for (std::size_t i = 0; i < words.size(); ++i) plan.predict(words[i], tags[i], std::nullopt, false);
  const double native_single = bench::seconds_since(start);
  start = bench::Clock::now();
  plan.predict_many(words, tags, std::nullopt, false);
  const double native_batched = bench::seconds_since(start);
  std::filesystem::remove_all(dir);

  std::printf("seq2seq decoding of %zu words, %d thread(s)\n", words.size(), threads);
  std::printf("%-24s %12s %12s\n", "", "native s", "reference s");
  std::printf("%-24s %12.3f %12.3f\n", "single-word greedy", native_single, reference_single);
  std::printf("%-24s %12.3f %12.3f\n", "batched greedy", native_batched, reference_batched);
  const auto count = static_cast<double>(words.size());
  bench::emit("seq2seq", "word by word", threads, "native", native_single, count, "words", flops, gemm);
  bench::emit("seq2seq", "word by word", threads, "baseline", reference_single, count, "words", flops, gemm);
  bench::emit("seq2seq", "whole list", threads, "native", native_batched, count, "words", flops, gemm);
  bench::emit("seq2seq", "whole list", threads, "baseline", reference_batched, count, "words", flops, gemm);
  return 0;
}
