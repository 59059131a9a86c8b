// Language identification and morphological segmentation throughput: one input at a time and
// the whole list in one call, on bundles and inputs written by bench/langid_morphseg.py
// (which prints the PyTorch baselines beside these figures).
//
// Usage: langid_morphseg_bench LANGID_BUNDLE TEXTS_JSON MORPHSEG_BUNDLE WORDS_JSON [THREADS]

#include <ATen/Parallel.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "support.hpp"
#include "velmora/json.hpp"
#include "velmora/langid.hpp"
#include "velmora/morphseg.hpp"

namespace {

std::vector<std::string> strings(const char* path) {
  const velmora::detail::JsonValue list = velmora::detail::load_json(path);
  std::vector<std::string> out;
  for (const auto& item : list.as_array("")) out.push_back(item.as_string(""));
  return out;
}

int threads = 1;

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Prints and emits the case timed since `start`; the processor time of every thread of this
// process beside the wall time is steadier on a busy machine.
void report(const char* label, const char* bench_name, const char* case_name, bench::Clock::time_point start,
            double cpu_start, std::size_t count, const char* unit) {
  const double seconds = bench::seconds_since(start);
  std::printf("%-38s %8.3f s  %9.0f %s/s  (cpu %.3f s)\n", label, seconds, static_cast<double>(count) / seconds,
              unit, cpu_seconds() - cpu_start);
  bench::emit(bench_name, case_name, threads, "native", seconds, static_cast<double>(count), unit);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: langid_morphseg_bench LANGID_BUNDLE TEXTS_JSON MORPHSEG_BUNDLE WORDS_JSON [THREADS]\n");
    return 2;
  }
  threads = argc > 5 ? std::stoi(argv[5]) : 1;
  at::set_num_threads(threads);
  const velmora::LangIDPlan identifier(argv[1], false);
  const std::vector<std::string> texts = strings(argv[2]);
  const velmora::MorphSegPlan segmenter(argv[3], false);
  const std::vector<std::string> words = strings(argv[4]);

  identifier.identify(texts.front(), {});  // warm-up
  auto start = bench::Clock::now();
  double cpu_start = cpu_seconds();
  for (const std::string& text : texts) identifier.identify(text, {});
  report("native langid, text by text", "langid", "one by one", start, cpu_start, texts.size(), "texts");
  start = bench::Clock::now();
  cpu_start = cpu_seconds();
  identifier.identify_many(texts, {});
  report("native langid identify_many", "langid", "whole list", start, cpu_start, texts.size(), "texts");

  segmenter.segment(words.front());  // warm-up
  start = bench::Clock::now();
  cpu_start = cpu_seconds();
  for (const std::string& word : words) segmenter.segment(word);
  report("native morphseg, word by word", "morphseg", "one by one", start, cpu_start, words.size(), "words");
  start = bench::Clock::now();
  cpu_start = cpu_seconds();
  segmenter.segment_many(words);
  report("native morphseg segment_many", "morphseg", "whole list", start, cpu_start, words.size(), "words");
  return 0;
}
