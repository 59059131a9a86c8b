#pragma once

// What the benchmarks share: a wall clock, the sentence lists their Python halves write, the
// "--tiny" switch, the float32 GEMM rate that bounds the models, the machine-readable result
// lines that bench/run.py collects (their fields are described in bench/report.py), and the three
// timed passes of a word tagger.

#include <ATen/core/Tensor.h>
#include <ATen/ops/mm.h>
#include <ATen/ops/randn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "flags.hpp"
#include "velmora/document.hpp"
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
inline bool take_tiny(int& argc, char** argv) { return take_flag(argc, argv, "--tiny"); }

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

/// A document of word-only sentences, each word its own token.
inline velmora::Document word_document(std::span<const std::vector<std::string>> sentences) {
  std::vector<velmora::SentenceInput> records;
  records.reserve(sentences.size());
  for (const auto& sentence : sentences) {
    velmora::SentenceInput& record = records.emplace_back();
    for (std::size_t i = 0; i < sentence.size(); ++i) {
      velmora::TokenInput& token = record.tokens.emplace_back();
      token.id_start = token.id_end = static_cast<int>(i) + 1;
      token.text = sentence[i];
      velmora::WordInput& word = token.words.emplace_back();
      word.id = token.id_start;
      word.text = token.text;
    }
  }
  return velmora::Document("", std::move(records));
}

/// Times a word tagger's plan (`tag`, `process`, `process_bulk`) on `sentences`: `tag` sentence by
/// sentence (unless `by_sentence` is false), `process` over one document of them all and
/// `process_bulk` over documents of ten; prints each pass and emits its result line under `name`.
template <class Plan>
void time_tagger_passes(const Plan& plan, const std::string& name, int threads,
                        const std::vector<std::vector<std::string>>& sentences, bool by_sentence = true) {
  const auto report = [&](const char* label, const char* case_name, double seconds) {
    std::printf("%-40s %8.3f s  %8.0f sentences/s\n", label, seconds, static_cast<double>(sentences.size()) / seconds);
    emit(name, case_name, threads, "native", seconds, static_cast<double>(sentences.size()), "sentences");
  };
  plan.tag(sentences.front());  // warm-up
  auto start = Clock::now();
  if (by_sentence) {
    for (const auto& words : sentences) plan.tag(words);
    report("native tag, sentence by sentence", "sentence by sentence", seconds_since(start));
  }

  velmora::Document whole = word_document(sentences);
  start = Clock::now();
  plan.process(whole);
  report("native process, one document", "one document", seconds_since(start));

  std::vector<velmora::Document> documents;
  const std::span<const std::vector<std::string>> all(sentences);
  for (std::size_t first = 0; first < all.size(); first += 10) {
    documents.push_back(word_document(all.subspan(first, std::min<std::size_t>(10, all.size() - first))));
  }
  start = Clock::now();
  plan.process_bulk(std::move(documents));
  report("native process_bulk, ten per document", "ten per document", seconds_since(start));
}

}  // namespace bench
