// Named-entity tagger throughput: NERPlan::tag sentence by sentence, `process` over one document
// and `process_bulk` over documents of ten sentences, on a bundle and sentences written by
// bench/ner.py (which prints the PyTorch reference's figure beside these).
//
// Usage: ner_bench BUNDLE SENTENCES_JSON [THREADS]

#include <ATen/Parallel.h>

#include <cstdio>
#include <string>

#include "support.hpp"
#include "velmora/ner.hpp"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ner_bench BUNDLE SENTENCES_JSON [THREADS]\n");
    return 2;
  }
  const int threads = argc > 3 ? std::stoi(argv[3]) : 1;
  at::set_num_threads(threads);
  const velmora::NERPlan plan(argv[1], false);
  bench::time_tagger_passes(plan, "ner", threads, bench::read_sentences_json(argv[2]));
  return 0;
}
