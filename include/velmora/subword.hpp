#pragma once

// The subword tokenizers of the transformer encoders: WordPiece (BERT family), byte-level
// BPE (GPT-2 / RoBERTa family) and the XLM-R unigram piece model. Each turns words that the
// pipeline has already split into subword ids, keeps a per-word result cache guarded by a
// reader/writer lock, and may be used from many threads at once.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

/// Subword ids of a list of words. The three vectors always have equal lengths.
struct WordPieceEncoding {
  std::vector<std::int64_t> input_ids;
  /// One 1 per input id.
  std::vector<std::int64_t> attention_mask;
  /// The 0-based index of the word each id came from, -1 for a special token.
  std::vector<std::int64_t> word_ids;
};

/// Greedy longest-match WordPiece segmentation with BERT's basic pre-splitting (optional
/// lower-casing and accent stripping, splits at whitespace, punctuation and CJK ideographs).
/// Failures are WordPieceError.
class WordPieceTokenizer {
 public:
  WordPieceTokenizer(std::vector<std::string> vocabulary, bool lowercase, bool strip_accents,
                     std::string unknown_token, std::string cls_token, std::string sep_token,
                     std::string continuing_subword_prefix, std::uint64_t max_input_characters_per_word);
  WordPieceTokenizer(WordPieceTokenizer&&) noexcept;
  WordPieceTokenizer& operator=(WordPieceTokenizer&&) noexcept;
  ~WordPieceTokenizer();

  WordPieceEncoding encode(const std::vector<std::string>& words, bool add_special_tokens) const;
  std::uint64_t vocabulary_size() const;
  /// Number of word-cache slots that have ever been filled (at most 8192).
  std::int64_t cache_size() const;
  /// True: the byte scans run as 16-byte vector operations.
  static bool highway_enabled() noexcept;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

/// Byte-level BPE: a fixed pre-tokenizer (contractions, letter, number, whitespace and other
/// runs), bytes mapped to base tokens, ranked merges. Failures are SubwordError.
class ByteBPETokenizer {
 public:
  ByteBPETokenizer(std::vector<std::string> vocabulary, std::vector<std::pair<std::string, std::string>> merges,
                   std::string unknown_token, std::string cls_token, std::string sep_token, bool add_prefix_space);
  ByteBPETokenizer(ByteBPETokenizer&&) noexcept;
  ByteBPETokenizer& operator=(ByteBPETokenizer&&) noexcept;
  ~ByteBPETokenizer();

  WordPieceEncoding encode(const std::vector<std::string>& words, bool add_special_tokens) const;
  /// The whole text as one word, without special tokens.
  std::vector<std::int64_t> tokenize(const std::string& text) const;
  std::uint64_t vocabulary_size() const;
  std::int64_t cache_size() const;
  static bool highway_enabled() noexcept;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

/// XLM-R unigram pieces: normalisation through a precompiled character map, a word-start mark
/// before every whitespace-separated run, and the Viterbi segmentation of highest total score.
/// Failures are SubwordError.
class XLMRobertaTokenizer {
 public:
  XLMRobertaTokenizer(std::vector<std::string> vocabulary, std::vector<float> scores,
                      std::vector<std::uint8_t> precompiled_charsmap, std::int64_t unknown_id, std::string cls_token,
                      std::string sep_token);
  XLMRobertaTokenizer(XLMRobertaTokenizer&&) noexcept;
  XLMRobertaTokenizer& operator=(XLMRobertaTokenizer&&) noexcept;
  ~XLMRobertaTokenizer();

  WordPieceEncoding encode(const std::vector<std::string>& words, bool add_special_tokens) const;
  /// The whole text as one word, without special tokens.
  std::vector<std::int64_t> tokenize(const std::string& text) const;
  std::uint64_t vocabulary_size() const;
  std::int64_t cache_size() const;
  static bool highway_enabled() noexcept;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
