#pragma once

// The per-word result cache shared by the subword tokenizers (8192 direct-mapped slots under
// one reader/writer lock), and the encoding of a word list with special tokens and word
// indices around any tokenizer's cached per-word step.

#include <cstdint>
#include <functional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "velmora/subword.hpp"

namespace velmora::detail {

struct WordCacheSlot {
  std::string key;
  std::vector<std::int64_t> ids;
  bool used = false;
};

/// A tokenizer's uncached encoding of one word.
using WordEncoder = std::function<std::vector<std::int64_t>(std::string_view)>;

class WordCache {
 public:
  static constexpr std::size_t kSlots = 8192;
  /// Longer words are encoded every time and never stored, so that one huge text cannot pin
  /// its bytes and ids in a slot for the tokenizer's lifetime.
  static constexpr std::size_t kMaxCachedWordBytes = 256;

  WordCache();

  /// The slot a word maps to: the low 13 bits of the standard string hash of its bytes.
  static std::size_t slot_of(std::string_view word) noexcept;

  /// Appends the cached ids of `word` to `out`, or `encode(word)` after storing it in the word's
  /// slot (words over kMaxCachedWordBytes are not stored); returns the number of ids appended.
  /// The encoding runs with no lock held; an exception from it leaves the cache and `out`
  /// untouched.
  std::size_t append_encoding(std::string_view word, const WordEncoder& encode, std::vector<std::int64_t>& out);

  /// The ids of `word` as append_encoding gives them.
  std::vector<std::int64_t> get_or_encode(std::string_view word, const WordEncoder& encode);

  /// Slots that have ever been filled.
  std::int64_t size() const;

 private:
  mutable std::shared_mutex mutex_;
  std::vector<WordCacheSlot> slots_;
  std::int64_t cached_words_ = 0;
};

/// Ids of every word in order through the cache, framed by the CLS and SEP ids when asked.
WordPieceEncoding encode_word_list(const std::vector<std::string>& words, bool add_special_tokens, std::int64_t cls_id,
                                   std::int64_t sep_id, WordCache& cache, const WordEncoder& encode_word);

}  // namespace velmora::detail
