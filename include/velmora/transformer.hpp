#pragma once

// A pretrained transformer encoder compiled ahead of time into an AOTInductor package, with its
// subword tokenizer: words in, one vector per word out (the vector of the word's last subword).
// Sequences longer than the model's maximum length run as overlapping windows.

#include <ATen/core/Tensor.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "velmora/errors.hpp"
#include "velmora/subword.hpp"

namespace velmora {

class TransformerEncoder {
 public:
  /// With a WordPiece tokenizer.
  TransformerEncoder(std::filesystem::path model_path, std::vector<std::string> vocabulary, bool lowercase,
                     bool strip_accents, std::uint64_t intra_op_threads, std::uint64_t model_max_length,
                     std::string unknown_token, std::string cls_token, std::string sep_token,
                     std::string continuing_subword_prefix, std::uint64_t max_input_characters_per_word);
  /// With a byte-level BPE tokenizer.
  TransformerEncoder(std::filesystem::path model_path, std::vector<std::string> vocabulary,
                     std::vector<std::pair<std::string, std::string>> merges, bool add_prefix_space,
                     std::uint64_t intra_op_threads, std::uint64_t model_max_length, std::string unknown_token,
                     std::string cls_token, std::string sep_token);
  /// With an XLM-R unigram tokenizer.
  TransformerEncoder(std::filesystem::path model_path, std::vector<std::string> vocabulary, std::vector<float> scores,
                     std::vector<std::uint8_t> precompiled_charsmap, std::int64_t unknown_id,
                     std::uint64_t intra_op_threads, std::uint64_t model_max_length, std::string cls_token,
                     std::string sep_token);
  ~TransformerEncoder();
  TransformerEncoder(TransformerEncoder&&) noexcept;
  TransformerEncoder& operator=(TransformerEncoder&&) noexcept;
  TransformerEncoder(const TransformerEncoder&) = delete;
  TransformerEncoder& operator=(const TransformerEncoder&) = delete;

  /// One row per word; with `keep_endpoints` also the leading and trailing special tokens'.
  std::vector<std::vector<float>> encode(const std::vector<std::string>& words, bool keep_endpoints) const;
  /// The same rows as a float32 tensor [words (+2), hidden].
  at::Tensor encode_words_tensor(const std::vector<std::string>& words, bool keep_endpoints) const;
  /// The tokenizer's subword ids for the words; the model does not run.
  WordPieceEncoding tokenize(const std::vector<std::string>& words, bool add_special_tokens) const;
  /// One row per subword id, in a single model run (an empty mask means all ones).
  std::vector<std::vector<float>> encode_ids(const std::vector<std::int64_t>& input_ids,
                                             const std::vector<std::int64_t>& attention_mask) const;
  /// The same rows as a float32 tensor [subwords, hidden].
  at::Tensor encode_ids_tensor(const std::vector<std::int64_t>& input_ids,
                               const std::vector<std::int64_t>& attention_mask) const;
  const std::filesystem::path& model_path() const;
  /// The version of the tensor library the packages are compiled for.
  static std::string runtime_version();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
