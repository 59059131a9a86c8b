// Tokenizer throughput on the English dev corpus with a bundle of realistic dimensions:
// native `process` (text by text) and `process_bulk` (the whole corpus) beside the PyTorch
// reference doing the same work on the same bundle and thread count, and the share of native
// time spent matching the regular-expression features.
//
// Usage: tokenizer_bench [THREADS] [CONLLU] [ROUNDS | native REPEATS [process|bulk]] [--tiny]
//                        [--native-only]
// Defaults: 1 thread, shared/data/en_ewt-ud-dev.conllu found above the source tree, 3 rounds:
// each side's figure is its best round, which filters out interference on a busy machine. With
// "native" only the native operations run (both, or the one named), REPEATS times each, which
// suits a profiler. --tiny keeps the first five texts and one round. --native-only leaves the
// reference untimed: it only gives the labels that the native ones are checked against, at one
// thread, and only native result lines are printed.

#include <ATen/Parallel.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "flags.hpp"
#include "support.hpp"
#include "tokenize/features.hpp"
#include "tokenize/model_loading.hpp"
#include "tokenize/network.hpp"
#include "tokenize/patterns.hpp"
#include "tokenize/units.hpp"
#include "velmora/document.hpp"
#include "velmora/tokenizer.hpp"

namespace {

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::string python_command(const std::string& arguments) {
  const auto support = std::filesystem::path(VELMORA_SOURCE_DIR) / "tests" / "support";
  return "PYTHONPATH=" + quoted(support.string()) + " " + quoted(VELMORA_PYTHON) + " " +
         quoted((support / "tokenizer_reference.py").string()) + " " + arguments;
}

std::vector<std::string> read_texts(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream content;
  content << stream.rdbuf();
  const std::string data = content.str();
  std::vector<std::string> texts;
  for (std::size_t p = 0; p < data.size();) {
    const std::size_t newline = data.find('\n', p);
    const std::size_t length = std::stoul(data.substr(p, newline - p));
    texts.push_back(data.substr(newline + 1, length));
    p = newline + 1 + length + 1;
  }
  return texts;
}

// The network's floating-point operations per character unit: two bidirectional LSTMs and the
// six one-output classifiers, read from the bundle's configuration.
double flops_per_unit(const std::filesystem::path& bundle) {
  const auto manifest = velmora::detail::load_json(bundle / "manifest.json");
  const auto assets = velmora::detail::load_json(bundle / manifest.at("assets", "").at("path", "").as_string(""));
  const auto& config = assets.at("config", "");
  const auto size = [&](const char* key) { return static_cast<double>(config.at(key, "").as_integer("")); };
  const double embedding = size("emb_dim");
  const double hidden = size("hidden_dim");
  const double features = size("feat_dim");
  const auto lstm = [&](double input) { return 2.0 * 2.0 * 4.0 * hidden * (input + hidden); };
  return lstm(embedding + features) + lstm(2.0 * hidden) + 6.0 * 2.0 * 2.0 * hidden;
}

void write_texts(const std::filesystem::path& path, const std::vector<std::string>& texts) {
  std::ofstream stream(path, std::ios::binary);
  for (const std::string& text : texts) stream << text.size() << '\n' << text << '\n';
}

std::filesystem::path find_corpus() {
  for (auto dir = std::filesystem::path(VELMORA_SOURCE_DIR);; dir = dir.parent_path()) {
    const auto candidate = dir / "shared" / "data" / "en_ewt-ud-dev.conllu";
    if (std::filesystem::exists(candidate)) return candidate;
    if (dir == dir.parent_path()) return {};
  }
}

// Time spent in the pattern matching that one `process` pass does: the four feature patterns
// over every paragraph, and the address pattern over paragraphs holding '@' or '.'.
double regex_seconds(const std::vector<std::string>& texts) {
  using namespace velmora::detail;
  const FeaturePatterns& patterns = feature_patterns();
  const BytePattern& address = address_pattern();
  std::vector<std::string> paragraphs;
  std::vector<std::size_t> unit_counts;
  for (const std::string& text : texts) {
    for (const auto& paragraph : split_tokenizer_paragraphs(text, false)) {
      paragraphs.push_back(paragraph_text(paragraph));
      unit_counts.push_back(paragraph.size());
    }
  }
  const auto start = bench::Clock::now();
  for (std::size_t k = 0; k < paragraphs.size(); ++k) {
    std::vector<float> marks(unit_counts[k], 0.0F);
    for (const BytePattern* pattern : {&patterns.labeled_field, &patterns.phone_id, &patterns.date, &patterns.currency}) {
      mark_regex_matches(paragraphs[k], *pattern, marks);
    }
    if (paragraphs[k].find_first_of("@.") != std::string::npos) mark_regex_matches(paragraphs[k], address, marks);
  }
  return bench::seconds_since(start);
}

}  // namespace

int main(int argc, char** argv) {
  const bool tiny = bench::take_tiny(argc, argv);
  const bool native_only = bench::take_native_only(argc, argv);
  const int threads = argc > 1 ? std::atoi(argv[1]) : 1;
  const std::filesystem::path corpus = argc > 2 ? std::filesystem::path(argv[2]) : find_corpus();
  if (corpus.empty() || !std::filesystem::exists(corpus)) {
    std::cerr << "corpus not found; pass the path of en_ewt-ud-dev.conllu\n";
    return 2;
  }
  // A directory of this run's own, removed on every way out: runs may overlap on a shared machine.
  std::random_device seed;
  const auto dir = std::filesystem::temp_directory_path() / ("velmora-bench-tokenizer-" + std::to_string(seed()));
  std::filesystem::create_directories(dir);
  const std::unique_ptr<const std::filesystem::path, void (*)(const std::filesystem::path*)> cleanup(
      &dir, [](const std::filesystem::path* path) { std::filesystem::remove_all(*path); });
  if (std::system(python_command("bench-setup " + quoted(dir.string()) + " " + quoted(corpus.string())).c_str()) != 0) {
    std::cerr << "writing the benchmark bundle failed\n";
    return 1;
  }

  at::set_num_threads(threads);
  const double gemm = bench::gemm_rate();
  std::vector<std::string> texts = read_texts(dir / "texts.txt");
  if (tiny && texts.size() > 5) {
    texts.resize(5);
    write_texts(dir / "texts.txt", texts);
  }
  std::size_t characters = 0;
  std::vector<velmora::Document> documents;
  for (const std::string& text : texts) {
    documents.emplace_back(text);
    characters += velmora::Utf8Text(text).codepoint_count();
  }
  const velmora::TokenizerPlan plan(dir / "realistic", false);
  plan.process(documents.front());  // warm-up
  if (argc > 4 && std::string(argv[3]) == "native") {
    const int repeats = std::atoi(argv[4]);
    const std::string only = argc > 5 ? argv[5] : "";
    // Processor time of this process besides the wall time: steadier on a busy machine.
    const auto cpu_seconds = [] { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; };
    auto start = bench::Clock::now();
    double cpu_start = cpu_seconds();
    for (int r = 0; only != "bulk" && r < repeats; ++r) {
      for (const auto& document : documents) plan.process(document);
    }
    const double process = bench::seconds_since(start);
    const double process_cpu = cpu_seconds() - cpu_start;
    start = bench::Clock::now();
    cpu_start = cpu_seconds();
    for (int r = 0; only != "process" && r < repeats; ++r) plan.process_bulk(documents);
    std::printf("native only, %d repeats: process %.3f s (cpu %.3f s), process_bulk %.3f s (cpu %.3f s)\n", repeats,
                process, process_cpu, bench::seconds_since(start), cpu_seconds() - cpu_start);
    return 0;
  }

  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : tiny ? 1 : 3;
  double native_process = 1e300;
  double native_bulk = 1e300;
  for (int round = 0; round < rounds; ++round) {
    auto start = bench::Clock::now();
    for (const auto& document : documents) plan.process(document);
    native_process = std::min(native_process, bench::seconds_since(start));
    start = bench::Clock::now();
    plan.process_bulk(documents);
    native_bulk = std::min(native_bulk, bench::seconds_since(start));
  }
  const double regex = regex_seconds(texts);

  // Where native `process` time goes: features alone, and the whole label prediction.
  const auto state = velmora::detail::load_tokenizer_model(dir / "realistic", false);
  std::vector<velmora::detail::TokenizerParagraph> paragraphs;
  for (const std::string& text : texts) {
    for (auto& paragraph : velmora::detail::split_tokenizer_paragraphs(text, false)) paragraphs.push_back(std::move(paragraph));
  }
  auto start = bench::Clock::now();
  for (const auto& paragraph : paragraphs) velmora::detail::tokenizer_unit_features(*state, paragraph);
  const double features = bench::seconds_since(start);
  start = bench::Clock::now();
  for (const auto& paragraph : paragraphs) velmora::detail::tokenizer_predict_labels(*state, paragraph);
  const double prediction = bench::seconds_since(start);

  const std::string command =
      native_only ? python_command("labels " + quoted(dir.string()))
                  : python_command("bench " + quoted(dir.string()) + " " + std::to_string(threads) + " " +
                                   std::to_string(rounds));
  FILE* pipe = popen(command.c_str(), "r");
  double reference_process = 0.0;
  double reference_bulk = 0.0;
  char line[256];
  while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
    std::sscanf(line, "process_seconds %lf", &reference_process);
    std::sscanf(line, "bulk_seconds %lf", &reference_bulk);
  }
  if (pipe == nullptr || pclose(pipe) != 0) {
    std::cerr << "the reference benchmark failed\n";
    return 1;
  }

  // The native labels against the reference's, paragraph by paragraph: a label may differ
  // only where the reference's top two scores nearly tie.
  std::ifstream reference_labels(dir / "reference_labels.txt");
  std::size_t units = 0;
  std::size_t differing = 0;
  std::size_t outside_ties = 0;
  std::string line_text;
  for (const auto& paragraph : paragraphs) {
    if (!std::getline(reference_labels, line_text)) {
      ++outside_ties;
      break;
    }
    const std::size_t tab = line_text.find('\t');
    const std::string expected = line_text.substr(0, tab);
    std::vector<std::size_t> ties;
    std::istringstream tie_list(line_text.substr(tab + 1));
    for (std::string item; std::getline(tie_list, item, ',');) ties.push_back(std::stoul(item));
    const auto labels = velmora::detail::tokenizer_predict_labels(*state, paragraph);
    units += labels.size();
    for (std::size_t u = 0; u < labels.size(); ++u) {
      if (u < expected.size() && expected[u] - '0' == labels[u]) continue;
      ++differing;
      if (std::find(ties.begin(), ties.end(), u) == ties.end()) ++outside_ties;
    }
  }

  const auto rate = [&](double seconds) { return static_cast<double>(characters) / seconds; };
  std::printf("tokenizer benchmark: %zu texts, %zu characters, realistic bundle, %d intra-op thread(s), best of %d "
              "round(s)\n", texts.size(), characters, threads, rounds);
  std::printf("%-22s %14s %14s %9s\n", "operation", "native ch/s", "reference ch/s", "speed-up");
  const auto row = [&](const char* name, double native, double reference) {
    if (native_only) {
      std::printf("%-22s %14.0f %14s %9s\n", name, rate(native), "-", "-");
    } else {
      std::printf("%-22s %14.0f %14.0f %8.1fx\n", name, rate(native), rate(reference), reference / native);
    }
  };
  row("process (per text)", native_process, reference_process);
  row("process_bulk (corpus)", native_bulk, reference_bulk);
  std::printf("regular-expression features: %.4f s, %.1f%% of native process time\n", regex,
              100.0 * regex / native_process);
  std::printf("labels against the reference: %zu units, %zu differ, %zu of them not at a near-tie\n", units,
              differing, outside_ties);
  std::printf("native stages, timed apart: unit features %.3f s (regex included), label prediction with "
              "features %.3f s, whole process %.3f s\n",
              features, prediction, native_process);
  const auto count = static_cast<double>(characters);
  const double flops = count * flops_per_unit(dir / "realistic");
  bench::emit("tokenizer", "text by text", threads, "native", native_process, count, "characters", flops, gemm);
  if (!native_only) {
    bench::emit("tokenizer", "text by text", threads, "baseline", reference_process, count, "characters", flops, gemm);
  }
  bench::emit("tokenizer", "whole list", threads, "native", native_bulk, count, "characters", flops, gemm);
  if (!native_only) {
    bench::emit("tokenizer", "whole list", threads, "baseline", reference_bulk, count, "characters", flops, gemm);
  }
  return 0;
}
