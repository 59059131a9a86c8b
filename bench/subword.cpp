// Subword tokenizer throughput on the English dev corpus: every sentence encoded with special
// tokens by a fresh tokenizer (word-cache misses first), then again (hits), from one thread and
// from four threads sharing one tokenizer, beside the plain-Python reference doing the same work
// with the same vocabularies (learned from the corpus by tests/support/subword_test_data.py).
//
// Usage: subword_bench [CONLLU] [--tiny] [--native-only]   (default: shared/data/en_ewt-ud-dev.conllu
// found above the source tree; --tiny: its first 50 sentences; --native-only: the reference does
// not run)

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "flags.hpp"
#include "support.hpp"
#include "velmora/json.hpp"
#include "velmora/subword.hpp"

namespace {

using Sentences = std::vector<std::vector<std::string>>;
using velmora::detail::JsonValue;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::filesystem::path find_corpus() {
  for (auto dir = std::filesystem::path(VELMORA_SOURCE_DIR);; dir = dir.parent_path()) {
    const auto candidate = dir / "shared" / "data" / "en_ewt-ud-dev.conllu";
    if (std::filesystem::exists(candidate)) return candidate;
    if (dir == dir.parent_path()) return {};
  }
}

// The word forms of each sentence (lines whose first field is a plain number).
Sentences read_sentences(const std::filesystem::path& path) {
  std::ifstream stream(path);
  Sentences sentences(1);
  for (std::string line; std::getline(stream, line);) {
    if (line.empty()) {
      if (!sentences.back().empty()) sentences.emplace_back();
      continue;
    }
    if (line[0] == '#') continue;
    const auto tab = line.find('\t');
    const std::string id = line.substr(0, tab);
    if (id.find_first_not_of("0123456789") != std::string::npos) continue;
    const auto next = line.find('\t', tab + 1);
    sentences.back().push_back(line.substr(tab + 1, next - tab - 1));
  }
  if (sentences.back().empty()) sentences.pop_back();
  return sentences;
}

std::vector<std::string> strings(const JsonValue& array) {
  std::vector<std::string> out;
  for (const auto& value : array.as_array("")) out.push_back(value.as_string(""));
  return out;
}

template <class Tokenizer>
std::int64_t encode_all(const Tokenizer& tokenizer, const Sentences& sentences) {
  std::int64_t ids = 0;
  for (const auto& words : sentences) ids += static_cast<std::int64_t>(tokenizer.encode(words, true).input_ids.size());
  return ids;
}

struct Figures {
  double cold = 0;
  double warm = 0;
  double threads = 0;
  std::int64_t ids = 0;
};

template <class Tokenizer, class Make>
Figures measure(Make&& make, const Sentences& sentences) {
  Figures figures;
  const Tokenizer tokenizer = make();
  auto start = bench::Clock::now();
  figures.ids = encode_all(tokenizer, sentences);
  figures.cold = bench::seconds_since(start);
  start = bench::Clock::now();
  encode_all(tokenizer, sentences);
  figures.warm = bench::seconds_since(start);
  const Tokenizer shared = make();
  start = bench::Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&] { encode_all(shared, sentences); });
  for (auto& thread : threads) thread.join();
  figures.threads = bench::seconds_since(start) / 4;
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  const bool tiny = bench::take_tiny(argc, argv);
  const bool native_only = bench::take_native_only(argc, argv);
  const std::filesystem::path corpus = argc > 1 ? std::filesystem::path(argv[1]) : find_corpus();
  if (corpus.empty() || !std::filesystem::exists(corpus)) {
    std::cerr << "corpus not found; pass a CoNLL-U file\n";
    return 1;
  }
  Sentences sentences = read_sentences(corpus);
  if (tiny && sentences.size() > 50) sentences.resize(50);
  std::random_device seed;
  const auto data = std::filesystem::temp_directory_path() / ("velmora-subword-bench-" + std::to_string(seed()));
  const auto root = std::filesystem::path(VELMORA_SOURCE_DIR);
  const std::string python = quoted(VELMORA_PYTHON);
  if (std::system((python + " " + quoted((root / "tests/support/write_cpp_test_data.py").string()) + " " +
                   quoted(data.string()) + " subword > /dev/null")
                      .c_str()) != 0) {
    std::cerr << "could not write the vocabularies\n";
    return 1;
  }
  const auto arguments = [&](const std::string& name) {
    return velmora::detail::load_json(data / "subword" / (name + ".json")).at("arguments", "");
  };

  std::map<std::string, Figures> native;
  native["wordpiece_medium"] = measure<velmora::WordPieceTokenizer>(
      [&] {
        const JsonValue a = arguments("wordpiece_medium");
        return velmora::WordPieceTokenizer(
            strings(a.at("vocabulary", "")), a.at("lowercase", "").as_bool(""), a.at("strip_accents", "").as_bool(""),
            "[UNK]", "[CLS]", "[SEP]", "##",
            static_cast<std::uint64_t>(a.at("max_input_characters_per_word", "").as_integer("")));
      },
      sentences);
  native["bpe_medium"] = measure<velmora::ByteBPETokenizer>(
      [&] {
        const JsonValue a = arguments("bpe_medium");
        std::vector<std::pair<std::string, std::string>> merges;
        for (const auto& m : a.at("merges", "").as_array("")) {
          merges.emplace_back(m.as_array("")[0].as_string(""), m.as_array("")[1].as_string(""));
        }
        return velmora::ByteBPETokenizer(strings(a.at("vocabulary", "")), std::move(merges), "<unk>", "<s>", "</s>",
                                         a.at("add_prefix_space", "").as_bool(""));
      },
      sentences);
  native["unigram_medium"] = measure<velmora::XLMRobertaTokenizer>(
      [&] {
        const JsonValue a = arguments("unigram_medium");
        std::vector<float> scores;
        for (const auto& s : a.at("scores", "").as_array("")) scores.push_back(static_cast<float>(s.as_number("")));
        std::vector<std::uint8_t> map;
        for (const auto& b : a.at("precompiled_charsmap", "").as_array("")) {
          map.push_back(static_cast<std::uint8_t>(b.as_integer("")));
        }
        return velmora::XLMRobertaTokenizer(strings(a.at("vocabulary", "")), std::move(scores), std::move(map),
                                            a.at("unknown_id", "").as_integer(""), "<s>", "</s>");
      },
      sentences);

  std::map<std::string, double> reference;
  const std::string command = python + " " + quoted((root / "bench/subword.py").string()) + " " +
                              quoted((data / "subword").string()) + " " + quoted(corpus.string()) +
                              (tiny ? " 50" : "");
  if (FILE* pipe = native_only ? nullptr : popen(command.c_str(), "r")) {
    char name[64];
    double seconds = 0;
    long long ids = 0;
    while (std::fscanf(pipe, "%63s %lf %lld", name, &seconds, &ids) == 3) reference[name] = seconds;
    pclose(pipe);
  }
  std::filesystem::remove_all(data);

  std::printf("%zu sentences; subword ids per second (millions)\n", sentences.size());
  std::printf("%-18s %12s %12s %14s %12s %10s\n", "tokenizer", "native cold", "native warm", "4 threads total",
              "python ref", "cold/ref");
  for (const auto& [name, f] : native) {
    const double ids = static_cast<double>(f.ids) / 1e6;
    const double ref = reference.count(name) ? ids / reference[name] : 0.0;
    std::printf("%-18s %12.2f %12.2f %14.2f %12.3f %9.0fx\n", name.c_str(), ids / f.cold, ids / f.warm,
                ids / f.threads, ref, ref > 0 ? (ids / f.cold) / ref : 0.0);
  }
  // The four-thread figure is the time per pass of four threads encoding with one fresh tokenizer.
  for (const auto& [name, f] : native) {
    const auto ids = static_cast<double>(f.ids);
    bench::emit("subword", name + ", cold cache", 1, "native", f.cold, ids, "ids");
    if (reference.count(name) != 0) {
      bench::emit("subword", name + ", cold cache", 1, "baseline", reference[name], ids, "ids");
    }
    bench::emit("subword", name + ", warm cache", 1, "native", f.warm, ids, "ids");
    bench::emit("subword", name + ", cold cache", 4, "native", f.threads, ids, "ids");
  }
  return 0;
}
