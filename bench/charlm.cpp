// Character LM throughput: native `encode` sentence by sentence and `encode_many` over the whole
// list, on a bundle and sentences written by bench/charlm.py (which prints the PyTorch
// baselines beside these figures). Then a pipeline's case: six documents, each document's
// sentences in one call, against the same sentences in one call as a list; the list should
// never be the slower.
//
// Usage: charlm_bench BUNDLE SENTENCES_JSON [THREADS]

#include <ATen/Parallel.h>

#include <algorithm>
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

  // Six documents shaped as the pipeline benchmark's texts, five times longer (200 sentences in
  // all, enough rows for a list to be split by rows): the best of three.
  constexpr std::size_t kDocumentSizes[] = {25, 25, 30, 25, 45, 50};
  std::vector<std::vector<std::vector<std::string>>> documents;
  std::vector<std::vector<std::string>> list;
  for (const std::size_t size : kDocumentSizes) {
    auto& document = documents.emplace_back();
    for (std::size_t s = 0; s < size && list.size() < sentences.size(); ++s) {
      document.push_back(sentences[list.size()]);
      list.push_back(document.back());
    }
  }
  double per_document = 1e30;
  double as_list = 1e30;
  for (int round = 0; round < 3; ++round) {
    start = bench::Clock::now();
    for (const auto& document : documents) model.encode_many(document);
    per_document = std::min(per_document, bench::seconds_since(start));
    start = bench::Clock::now();
    model.encode_many(list);
    as_list = std::min(as_list, bench::seconds_since(start));
  }
  std::printf("native, %zu documents one by one      %8.3f s\n", documents.size(), per_document);
  std::printf("native, the same as one list          %8.3f s\n", as_list);
  const auto listed = static_cast<double>(list.size());
  bench::emit("charlm", "documents, one by one", threads, "native", per_document, listed, "sentences");
  bench::emit("charlm", "documents, as one list", threads, "native", as_list, listed, "sentences");
  return 0;
}
