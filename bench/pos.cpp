// Tagger throughput: `tag` sentence by sentence, `process` over one document and `process_bulk`
// over documents of ten sentences, on a bundle and sentences written by bench/pos.py (which
// prints the PyTorch reference's figure beside these).
//
// Usage: pos_bench BUNDLE SENTENCES_JSON [THREADS [batched]]

#include <ATen/Parallel.h>

#include <cstdio>
#include <string>

#include "support.hpp"
#include "velmora/pos.hpp"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: pos_bench BUNDLE SENTENCES_JSON [THREADS [batched]]\n");
    return 2;
  }
  const int threads = argc > 3 ? std::stoi(argv[3]) : 1;
  at::set_num_threads(threads);
  const velmora::POSPlan plan(argv[1], false);
  // A fourth argument "batched" skips the sentence-by-sentence pass.
  const bool by_sentence = argc < 5 || std::string(argv[4]) != "batched";
  bench::time_tagger_passes(plan, "pos", threads, bench::read_sentences_json(argv[2]), by_sentence);
  return 0;
}
