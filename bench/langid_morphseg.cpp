// Language identification and morphological segmentation throughput: one input at a time and
// the whole list in one call, on bundles and inputs written by bench/langid_morphseg.py
// (which prints the PyTorch baselines beside these figures).
//
// Usage: langid_morphseg_bench LANGID_BUNDLE TEXTS_JSON MORPHSEG_BUNDLE WORDS_JSON [THREADS]

#include <ATen/Parallel.h>

#include <chrono>
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

void report(const char* label, const char* bench_name, const char* case_name, double seconds, std::size_t count,
            const char* unit) {
  std::printf("%-38s %8.3f s  %9.0f %s/s\n", label, seconds, static_cast<double>(count) / seconds, unit);
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
  for (const std::string& text : texts) identifier.identify(text, {});
  report("native langid, text by text", "langid", "one by one", bench::seconds_since(start), texts.size(), "texts");
  start = bench::Clock::now();
  identifier.identify_many(texts, {});
  report("native langid identify_many", "langid", "whole list", bench::seconds_since(start), texts.size(), "texts");

  segmenter.segment(words.front());  // warm-up
  start = bench::Clock::now();
  for (const std::string& word : words) segmenter.segment(word);
  report("native morphseg, word by word", "morphseg", "one by one", bench::seconds_since(start), words.size(), "words");
  start = bench::Clock::now();
  segmenter.segment_many(words);
  report("native morphseg segment_many", "morphseg", "whole list", bench::seconds_since(start), words.size(), "words");
  return 0;
}
