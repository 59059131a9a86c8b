// Throughput of the document storage: building documents from input records, and writing
// them as CoNLL-U. Usage: document_bench FILE.conllu [ROUNDS] [--tiny] [--native-only]
// (--tiny: one round; --native-only: the baselines are not timed)
//
// The CoNLL-U file is parsed into input records (one document per "# newdoc", with a document
// text and token offsets rebuilt from SpaceAfter=No), then each phase runs ROUNDS times over
// all documents. Baselines from the same run: copying the file's bytes, and parsing the lines
// into records. Bytes per word counts the heap the built storages hold.

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "flags.hpp"
#include "support.hpp"
#include "velmora/document.hpp"

// ---- heap accounting: live bytes of every allocation of this process ----

// Counting is switched on only around the untimed memory measurement.
static bool g_counting = false;
static std::size_t g_live_bytes = 0;

static void* counted_alloc(std::size_t size) noexcept {
  void* p = std::malloc(size ? size : 1);
  if (p && g_counting) g_live_bytes += malloc_usable_size(p);
  return p;
}
static void counted_free(void* p) noexcept {
  if (!p) return;
  if (g_counting) g_live_bytes -= malloc_usable_size(p);
  std::free(p);
}

void* operator new(std::size_t size) {
  void* p = counted_alloc(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted_alloc(size); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { counted_free(p); }

namespace {

using velmora::SentenceInput;
using velmora::TokenInput;
using velmora::WordInput;
struct ParsedDocument {
  std::string text;
  std::vector<SentenceInput> sentences;
  std::size_t words = 0;
};

std::optional<std::string> field(std::string_view value) {
  if (value == "_") return std::nullopt;
  return std::string(value);
}

std::size_t codepoints(std::string_view text) {
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

int to_int(std::string_view text) { return std::atoi(std::string(text).c_str()); }

// A deliberately plain CoNLL-U reader: enough to turn every line of a treebank into records.
class Reader {
 public:
  /// With `split_documents` false the whole file becomes one document.
  explicit Reader(bool split_documents = true) : split_documents_(split_documents) {}

  std::vector<ParsedDocument> read(const std::string& data) {
    std::size_t pos = 0;
    while (pos < data.size()) {
      std::size_t end = data.find('\n', pos);
      if (end == std::string::npos) end = data.size();
      line(std::string_view(data).substr(pos, end - pos));
      pos = end + 1;
    }
    finish_sentence();
    finish_document();
    return std::move(documents_);
  }

 private:
  void line(std::string_view line) {
    if (line.empty()) return finish_sentence();
    if (line[0] == '#') {
      if (split_documents_ && line.starts_with("# newdoc")) {
        finish_sentence();
        finish_document();
      }
      if (line.starts_with("# sent_id = ")) sentence_.sent_id = std::string(line.substr(12));
      sentence_.comments.emplace_back(line);
      return;
    }
    std::string_view cols[10];
    std::size_t start = 0;
    for (int i = 0; i < 10; ++i) {
      const std::size_t tab = i < 9 ? line.find('\t', start) : line.size();
      cols[i] = line.substr(start, tab - start);
      start = tab + 1;
    }
    const std::string_view id = cols[0];
    if (const auto dash = id.find('-'); dash != std::string_view::npos) {
      TokenInput token;
      token.id_start = to_int(id.substr(0, dash));
      token.id_end = to_int(id.substr(dash + 1));
      token.text = cols[1];
      token.misc = field(cols[9]);
      place(token, cols[9]);
      sentence_.tokens.push_back(std::move(token));
      range_end_ = sentence_.tokens.back().id_end;
      return;
    }
    WordInput word;
    word.text = cols[1];
    word.lemma = field(cols[2]);
    word.upos = field(cols[3]);
    word.xpos = field(cols[4]);
    word.feats = field(cols[5]);
    if (cols[6] != "_") word.head = to_int(cols[6]);
    word.deprel = field(cols[7]);
    word.deps = field(cols[8]);
    word.misc = field(cols[9]);
    if (const auto dot = id.find('.'); dot != std::string_view::npos) {
      word.id = to_int(id.substr(0, dot));
      word.empty_index = to_int(id.substr(dot + 1));
      sentence_.empty_words.push_back(std::move(word));
      return;
    }
    word.id = to_int(id);
    ++document_.words;
    if (word.id <= range_end_) {
      sentence_.tokens.back().words.push_back(std::move(word));
      return;
    }
    TokenInput token;
    token.id_start = token.id_end = word.id;
    token.text = word.text;
    place(token, cols[9]);
    token.words.push_back(std::move(word));
    sentence_.tokens.push_back(std::move(token));
  }

  // Lays the token out in the document text, with its spacing from MISC.
  void place(TokenInput& token, std::string_view misc) {
    const bool space_after = misc.find("SpaceAfter=No") == std::string_view::npos;
    token.start_char = static_cast<int>(cursor_);
    cursor_ += codepoints(token.text);
    token.end_char = static_cast<int>(cursor_);
    document_.text += token.text;
    if (space_after) {
      document_.text += ' ';
      ++cursor_;
    }
  }

  void finish_sentence() {
    if (sentence_.tokens.empty() && sentence_.comments.empty()) return;
    document_.sentences.push_back(std::move(sentence_));
    sentence_ = SentenceInput{};
    range_end_ = 0;
  }

  void finish_document() {
    if (document_.sentences.empty()) return;
    documents_.push_back(std::move(document_));
    document_ = ParsedDocument{};
    cursor_ = 0;
  }

  bool split_documents_;
  std::vector<ParsedDocument> documents_;
  ParsedDocument document_;
  SentenceInput sentence_;
  int range_end_ = 0;
  std::size_t cursor_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const bool tiny = bench::take_tiny(argc, argv);
  const bool native_only = bench::take_native_only(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.conllu [ROUNDS]\n", argv[0]);
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : tiny ? 1 : 20;
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string data = buffer.str();
  const double file_mb = data.size() / 1e6;

  // Baseline 1: copying the file's bytes.
  // Every phase reports its best round: the machine may be shared, and the best round is the
  // one least disturbed by other work.
  bench::Clock::time_point start;
  std::size_t sink = 0;
  double copy_s = 1e30;
  for (int r = 0; !native_only && r < rounds; ++r) {
    start = bench::Clock::now();
    std::string copy = data;
    sink += copy[r % copy.size()];
    copy_s = std::min(copy_s, bench::seconds_since(start));
  }

  // Baseline 2: parsing the lines into input records (once, untimed, without the baselines:
  // the records are the native phases' input).
  std::vector<ParsedDocument> documents;
  double parse_s = 1e30;
  for (int r = 0; r < (native_only ? 1 : rounds); ++r) {
    documents.clear();
    start = bench::Clock::now();
    documents = Reader().read(data);
    parse_s = std::min(parse_s, bench::seconds_since(start));
  }
  std::size_t words = 0;
  std::size_t sentences = 0;
  for (const auto& d : documents) {
    words += d.words;
    sentences += d.sentences.size();
  }

  // Building storages from the records.
  std::vector<std::shared_ptr<velmora::DocumentStorage>> built;
  auto build_all = [&] {
    built.clear();
    built.reserve(documents.size());
    for (const auto& d : documents) {
      auto storage = std::make_shared<velmora::DocumentStorage>(d.text);
      storage->build(d.sentences);
      built.push_back(std::move(storage));
    }
  };
  double build_s = 1e30;
  for (int r = 0; r < rounds; ++r) {
    built.clear();
    start = bench::Clock::now();
    build_all();
    build_s = std::min(build_s, bench::seconds_since(start));
  }
  built.clear();
  g_counting = true;
  build_all();
  g_counting = false;
  const std::size_t storage_bytes = g_live_bytes;
  std::size_t pooled = 0;
  for (const auto& storage : built) pooled += storage->pool.size();
  built.clear();

  // The same measurement with the whole file as one document: the string pool is shared by
  // more words.
  const std::vector<ParsedDocument> whole = Reader(false).read(data);
  const std::size_t live_before = g_live_bytes;
  g_counting = true;
  velmora::DocumentStorage one(whole[0].text);
  one.build(whole[0].sentences);
  g_counting = false;
  const std::size_t one_bytes = g_live_bytes - live_before;

  // Writing CoNLL-U.
  std::size_t written = 0;
  double write_s = 1e30;
  build_all();
  for (int r = 0; r < rounds; ++r) {
    written = 0;
    start = bench::Clock::now();
    for (const auto& storage : built) written += velmora::Document(storage).to_conll().size();
    write_s = std::min(write_s, bench::seconds_since(start));
  }

  // The writer must give back the treebank: every line of it is kept in the records.
  std::string round_trip;
  for (const auto& storage : built) {
    round_trip += velmora::Document(storage).to_conll();
    round_trip += "\n\n";
  }
  const auto mismatch =
      std::mismatch(round_trip.begin(), round_trip.end(), data.begin(), data.end());
  const bool identical = round_trip.size() == data.size() && mismatch.first == round_trip.end();

  std::printf("input: %s, %.2f MB, %zu documents, %zu sentences, %zu words, best of %d rounds\n",
              argv[1], file_mb, documents.size(), sentences, words, rounds);
  if (!native_only) {
    std::printf("baseline  copy file bytes       %10.1f MB/s\n", file_mb / copy_s);
    std::printf("baseline  parse lines->records  %10.2f M words/s  (%.1f MB/s of input)\n",
                words / parse_s / 1e6, file_mb / parse_s);
  }
  std::printf("build     records->storage      %10.2f M words/s\n", words / build_s / 1e6);
  std::printf("write     storage->CoNLL-U      %10.1f MB/s  (%.2f MB per round)\n",
              written / write_s / 1e6, written / 1e6);
  std::printf("storage   heap per word         %10.1f bytes  (%zu bytes for all documents)\n",
              static_cast<double>(storage_bytes) / words, storage_bytes);
  std::printf("storage   heap per word         %10.1f bytes  (whole file as one document)\n",
              static_cast<double>(one_bytes) / words);
  std::printf("storage   pooled strings        %10.2f per word (%.2f as one document)\n",
              static_cast<double>(pooled) / words, static_cast<double>(one.pool.size()) / words);
  const auto word_count = static_cast<double>(words);
  if (!native_only) {
    bench::emit("document", "copy file bytes", 1, "baseline", copy_s, static_cast<double>(data.size()), "bytes");
    bench::emit("document", "parse lines into records", 1, "baseline", parse_s, word_count, "words");
  }
  bench::emit("document", "build storage from records", 1, "native", build_s, word_count, "words");
  bench::emit("document", "write CoNLL-U", 1, "native", write_s, static_cast<double>(written), "bytes");
  if (identical) {
    std::printf("check     CoNLL-U round trip    identical to the input\n");
  } else {
    std::printf("check     CoNLL-U round trip    DIFFERS from the input at byte %zu\n",
                static_cast<std::size_t>(mismatch.first - round_trip.begin()));
  }
  return identical && sink != 0xFFFFFFFF ? 0 : 1;
}
