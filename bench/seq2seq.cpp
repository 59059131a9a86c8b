// Seq2seq decoding throughput with a lemma bundle of realistic dimensions (copy, edit classes,
// POS tags) on words of the English dev corpus: native single-word greedy decoding, batched
// decoding, and the lemmatizer's `process` of documents of 100 words one by one beside its
// `process_bulk` of them all, each beside the PyTorch reference doing the same work on the same
// thread count (batched decoding of each document's words, or of every word).
//
// Usage: seq2seq_bench [THREADS] [native REPEATS] [--tiny] [--native-only]   (default 1 thread;
// --tiny: a small bundle and 20 words). With --native-only the reference is not timed: only the
// native cases run, and only their result lines are printed. With "native" only the native
// batched operations run, REPEATS times each, with their processor time: steadier than wall time
// on a busy machine, and fit for a profiler (the reference is not timed either).

#include <ATen/Parallel.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "flags.hpp"
#include "support.hpp"
#include "velmora/document.hpp"
#include "velmora/lemma.hpp"
#include "velmora/seq2seq.hpp"

namespace {

constexpr std::size_t kDocumentWords = 100;  // as DOCUMENT_WORDS in bench/seq2seq.py

// The words in documents of kDocumentWords words, one sentence each, every word a token.
std::vector<velmora::Document> documents_of(const std::vector<std::string>& words,
                                            const std::vector<std::optional<std::string>>& tags) {
  std::vector<velmora::Document> documents;
  for (std::size_t first = 0; first < words.size(); first += kDocumentWords) {
    velmora::SentenceInput sentence;
    for (std::size_t i = first; i < std::min(words.size(), first + kDocumentWords); ++i) {
      velmora::TokenInput token;
      token.id_start = token.id_end = static_cast<std::int32_t>(i - first + 1);
      token.text = words[i];
      velmora::WordInput word;
      word.id = token.id_start;
      word.text = words[i];
      word.upos = tags[i];
      token.words.push_back(std::move(word));
      sentence.tokens.push_back(std::move(token));
    }
    documents.emplace_back("", std::vector<velmora::SentenceInput>{std::move(sentence)});
  }
  return documents;
}

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
  const bool tiny = bench::take_tiny(argc, argv);
  const bool skip_reference = bench::take_native_only(argc, argv);
  const bool profile = argc > 3 && std::string(argv[2]) == "native";
  const bool native_only = skip_reference || profile;
  const int threads = argc > 1 ? std::atoi(argv[1]) : 1;
  const int repeats = profile ? std::max(1, std::atoi(argv[3])) : 1;
  at::set_num_threads(threads);
  const double gemm = bench::gemm_rate();
  std::random_device seed;
  const auto dir = std::filesystem::temp_directory_path() / ("velmora-seq2seq-bench-" + std::to_string(seed()));
  std::filesystem::create_directories(dir);
  const std::string command = "'" + std::string(VELMORA_PYTHON) + "' '" VELMORA_SOURCE_DIR "/bench/seq2seq.py' '" +
                              dir.string() + "' " + std::to_string(threads) + (tiny ? " --tiny" : "") +
                              (native_only ? " --native-only" : "");
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
  double reference_documents = 0.0;
  std::ifstream(dir / "reference.txt") >> reference_single >> reference_batched >> reference_documents;
  double flops = 0.0;
  std::ifstream(dir / "flops.txt") >> flops;

  const velmora::Seq2SeqPlan plan(dir / "bundle", false);
  const velmora::LemmaPlan lemmatizer(dir / "bundle", false);
  std::filesystem::remove_all(dir);
  plan.predict_many({words.front()}, {tags.front()}, std::nullopt, false);  // warm-up

  if (profile) {
    auto start = bench::Clock::now();
    double cpu_start = cpu_seconds();
    for (int r = 0; r < repeats; ++r) plan.predict_many(words, tags, std::nullopt, false);
    std::printf("native only, %d repeats: predict_many %.3f s (cpu %.3f s)", repeats, bench::seconds_since(start),
                cpu_seconds() - cpu_start);
    start = bench::Clock::now();
    cpu_start = cpu_seconds();
    for (int r = 0; r < repeats; ++r) {
      for (velmora::Document& document : documents_of(words, tags)) lemmatizer.process(std::move(document));
    }
    std::printf(", lemma process %.3f s (cpu %.3f s)", bench::seconds_since(start), cpu_seconds() - cpu_start);
    start = bench::Clock::now();
    cpu_start = cpu_seconds();
    for (int r = 0; r < repeats; ++r) lemmatizer.process_bulk(documents_of(words, tags));
    std::printf(", lemma process_bulk %.3f s (cpu %.3f s); FLOP bound of one pass %.3f s\n",
                bench::seconds_since(start), cpu_seconds() - cpu_start, flops / gemm);
    return 0;
  }

  auto start = bench::Clock::now();
  for (std::size_t i = 0; i < words.size(); ++i) plan.predict(words[i], tags[i], std::nullopt, false);
  const double native_single = bench::seconds_since(start);
  start = bench::Clock::now();
  plan.predict_many(words, tags, std::nullopt, false);
  const double native_batched = bench::seconds_since(start);
  std::vector<velmora::Document> documents = documents_of(words, tags);
  start = bench::Clock::now();
  for (velmora::Document& document : documents) document = lemmatizer.process(std::move(document));
  const double native_documents = bench::seconds_since(start);
  documents = documents_of(words, tags);
  start = bench::Clock::now();
  lemmatizer.process_bulk(std::move(documents));
  const double native_bulk = bench::seconds_since(start);

  std::printf("seq2seq decoding of %zu words, %d thread(s)\n", words.size(), threads);
  std::printf("%-32s %12s %12s\n", "", "native s", "reference s");
  // Without the reference its column shows "-".
  const auto row = [&](const char* name, double native, double reference) {
    if (native_only) {
      std::printf("%-32s %12.3f %12s\n", name, native, "-");
    } else {
      std::printf("%-32s %12.3f %12.3f\n", name, native, reference);
    }
  };
  row("single-word greedy", native_single, reference_single);
  row("batched greedy", native_batched, reference_batched);
  row("lemma process, document by document", native_documents, reference_documents);
  row("lemma process_bulk", native_bulk, reference_batched);
  const auto count = static_cast<double>(words.size());
  const auto emit = [&](const char* bench, const char* case_name, double native, double reference) {
    bench::emit(bench, case_name, threads, "native", native, count, "words", flops, gemm);
    if (!native_only) bench::emit(bench, case_name, threads, "baseline", reference, count, "words", flops, gemm);
  };
  emit("seq2seq", "word by word", native_single, reference_single);
  emit("seq2seq", "whole list", native_batched, reference_batched);
  emit("lemma", "document by document", native_documents, reference_documents);
  emit("lemma", "whole list", native_bulk, reference_batched);
  return 0;
}
