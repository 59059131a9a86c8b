// Dependency parsing throughput with a bundle of realistic dimensions on sentences of the English
// dev corpus: native parsing one sentence at a time, all sentences as one document (`process`)
// and as a list of one-sentence documents (`process_bulk`), beside the PyTorch reference doing
// the same work one sentence at a time on the same thread count.
//
// Usage: depparse_bench [THREADS] [--tiny] [--native-only]   (default 1; --tiny: a small bundle and
// 5 sentences; --native-only: the reference is not timed, and only native result lines are printed)

#include <ATen/Parallel.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "flags.hpp"
#include "support.hpp"
#include "velmora/depparse.hpp"
#include "velmora/document.hpp"

namespace {

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

velmora::SentenceInput as_sentence(const std::vector<velmora::DepparseWord>& words) {
  velmora::SentenceInput sentence;
  for (std::size_t i = 0; i < words.size(); ++i) {
    velmora::WordInput word;
    word.id = static_cast<std::int32_t>(i + 1);
    word.text = words[i].text;
    word.lemma = words[i].lemma;
    word.upos = words[i].upos;
    word.xpos = words[i].xpos;
    velmora::TokenInput token;
    token.id_start = token.id_end = word.id;
    token.text = word.text;
    token.words.push_back(std::move(word));
    sentence.tokens.push_back(std::move(token));
  }
  return sentence;
}

}  // namespace

int main(int argc, char** argv) {
  const bool tiny = bench::take_tiny(argc, argv);
  const bool native_only = bench::take_native_only(argc, argv);
  const int threads = argc > 1 ? std::atoi(argv[1]) : 1;
  at::set_num_threads(threads);
  const double gemm = bench::gemm_rate();
  std::random_device seed;
  const auto dir = std::filesystem::temp_directory_path() / ("velmora-depparse-bench-" + std::to_string(seed()));
  std::filesystem::create_directories(dir);
  const std::string command = "'" + std::string(VELMORA_PYTHON) + "' '" VELMORA_SOURCE_DIR
                              "/bench/depparse.py' '" + dir.string() + "' " + std::to_string(threads) +
                              (tiny ? " --tiny" : "") + (native_only ? " --native-only" : "");
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "writing the benchmark bundle failed\n");
    return 1;
  }
  std::vector<std::vector<velmora::DepparseWord>> sentences(1);
  std::size_t words = 0;
  std::ifstream lines(dir / "sentences.txt");
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) {
      sentences.emplace_back();
      continue;
    }
    const std::vector<std::string> fields = split_tabs(line);
    sentences.back().push_back({fields.at(0), fields.at(1), fields.at(2), fields.at(3), std::nullopt});
    ++words;
  }
  while (!sentences.empty() && sentences.back().empty()) sentences.pop_back();
  double reference_network = 0.0;
  double reference_total = 0.0;
  std::ifstream(dir / "reference.txt") >> reference_network >> reference_total;
  double flops = 0.0;
  std::ifstream(dir / "flops.txt") >> flops;

  const velmora::DepparsePlan plan(dir / "bundle", false);
  auto start = bench::Clock::now();
  for (const auto& sentence : sentences) plan.parse(sentence);
  const double native_single = bench::seconds_since(start);
  std::vector<velmora::SentenceInput> inputs;
  for (const auto& sentence : sentences) inputs.push_back(as_sentence(sentence));
  velmora::Document whole("", inputs);
  start = bench::Clock::now();
  plan.process(whole);
  const double native_document = bench::seconds_since(start);
  std::vector<velmora::Document> documents;
  for (const auto& sentence : inputs) documents.push_back(velmora::Document("", {sentence}));
  start = bench::Clock::now();
  plan.process_bulk(documents);
  const double native_batched = bench::seconds_since(start);
  std::filesystem::remove_all(dir);

  std::printf("dependency parsing of %zu sentences (%zu words), %d thread(s)\n", sentences.size(), words, threads);
  std::printf("%-36s %12s %12s\n", "", "native s", "reference s");
  if (native_only) {
    std::printf("%-36s %12.3f %12s\n", "one sentence at a time", native_single, "-");
  } else {
    std::printf("%-36s %12.3f %12.3f\n", "one sentence at a time", native_single, reference_total);
  }
  std::printf("%-36s %12.3f %12s\n", "one document (process)", native_document, "-");
  std::printf("%-36s %12.3f %12s\n", "batched across documents", native_batched, "-");
  if (!native_only) {
    std::printf("%-36s %12s %12.3f\n", "reference network without decoding", "-", reference_network);
  }
  const auto count = static_cast<double>(sentences.size());
  bench::emit("depparse", "sentence by sentence", threads, "native", native_single, count, "sentences", flops, gemm);
  if (!native_only) {
    bench::emit("depparse", "sentence by sentence", threads, "baseline", reference_total, count, "sentences", flops,
                gemm);
  }
  bench::emit("depparse", "one document", threads, "native", native_document, count, "sentences", flops, gemm);
  bench::emit("depparse", "whole list", threads, "native", native_batched, count, "sentences", flops, gemm);
  return 0;
}
