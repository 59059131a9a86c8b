// Named-entity tagger throughput: NERPlan::tag sentence by sentence, `process` over one document
// and `process_bulk` over documents of ten sentences, on a bundle and sentences written by
// bench/ner.py (which prints the PyTorch reference's figure beside these).
//
// Usage: ner_bench BUNDLE SENTENCES_JSON [THREADS]

#include <ATen/Parallel.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support.hpp"
#include "velmora/document.hpp"
#include "velmora/json.hpp"
#include "velmora/ner.hpp"

namespace {

using Sentences = std::vector<std::vector<std::string>>;

velmora::Document document_of(Sentences::const_iterator begin, Sentences::const_iterator end) {
  std::vector<velmora::SentenceInput> records;
  for (auto sentence = begin; sentence != end; ++sentence) {
    velmora::SentenceInput& record = records.emplace_back();
    for (std::size_t i = 0; i < sentence->size(); ++i) {
      velmora::TokenInput& token = record.tokens.emplace_back();
      token.id_start = token.id_end = static_cast<int>(i) + 1;
      token.text = (*sentence)[i];
      velmora::WordInput& word = token.words.emplace_back();
      word.id = token.id_start;
      word.text = token.text;
    }
  }
  return velmora::Document("", std::move(records));
}

int threads = 1;

void report(const char* name, const char* case_name, double seconds, std::size_t sentences) {
  std::printf("%-40s %8.3f s  %8.0f sentences/s\n", name, seconds, static_cast<double>(sentences) / seconds);
  bench::emit("ner", case_name, threads, "native", seconds, static_cast<double>(sentences), "sentences");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ner_bench BUNDLE SENTENCES_JSON [THREADS]\n");
    return 2;
  }
  threads = argc > 3 ? std::stoi(argv[3]) : 1;
  at::set_num_threads(threads);
  const velmora::NERPlan plan(argv[1], false);
  const auto sentences = bench::read_sentences_json(argv[2]);

  plan.tag(sentences.front());  // warm-up
  auto start = bench::Clock::now();
  for (const auto& sentence : sentences) plan.tag(sentence);
  report("native tag, sentence by sentence", "sentence by sentence", bench::seconds_since(start), sentences.size());

  velmora::Document whole = document_of(sentences.begin(), sentences.end());
  start = bench::Clock::now();
  plan.process(whole);
  report("native process, one document", "one document", bench::seconds_since(start), sentences.size());

  std::vector<velmora::Document> documents;
  for (std::size_t first = 0; first < sentences.size(); first += 10) {
    const auto begin = sentences.begin() + static_cast<std::ptrdiff_t>(first);
    const auto count = static_cast<std::ptrdiff_t>(std::min<std::size_t>(10, sentences.size() - first));
    documents.push_back(document_of(begin, begin + count));
  }
  start = bench::Clock::now();
  plan.process_bulk(std::move(documents));
  report("native process_bulk, ten per document", "ten per document", bench::seconds_since(start),
         sentences.size());
  return 0;
}
