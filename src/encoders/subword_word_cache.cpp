#include "encoders/subword_word_cache.hpp"

#include <mutex>

namespace velmora::detail {

WordCache::WordCache() : slots_(kSlots) {}

std::size_t WordCache::slot_of(std::string_view word) noexcept {
  return std::hash<std::string_view>{}(word) & (kSlots - 1);
}

std::size_t WordCache::append_encoding(std::string_view word, const WordEncoder& encode,
                                       std::vector<std::int64_t>& out) {
  if (word.size() > kMaxCachedWordBytes) {
    const std::vector<std::int64_t> ids = encode(word);
    out.insert(out.end(), ids.begin(), ids.end());
    return ids.size();
  }
  const std::size_t index = slot_of(word);
  {
    std::shared_lock lock(mutex_);
    const WordCacheSlot& slot = slots_[index];
    if (slot.used && slot.key == word) {
      out.insert(out.end(), slot.ids.begin(), slot.ids.end());
      return slot.ids.size();
    }
  }
  std::vector<std::int64_t> ids = encode(word);
  {
    std::unique_lock lock(mutex_);
    WordCacheSlot& slot = slots_[index];
    if (!slot.used) ++cached_words_;
    slot.key.assign(word);
    slot.ids = ids;
    slot.used = true;
  }
  out.insert(out.end(), ids.begin(), ids.end());
  return ids.size();
}

std::vector<std::int64_t> WordCache::get_or_encode(std::string_view word, const WordEncoder& encode) {
  std::vector<std::int64_t> ids;
  append_encoding(word, encode, ids);
  return ids;
}

std::int64_t WordCache::size() const {
  std::shared_lock lock(mutex_);
  return cached_words_;
}

WordPieceEncoding encode_word_list(const std::vector<std::string>& words, bool add_special_tokens, std::int64_t cls_id,
                                   std::int64_t sep_id, WordCache& cache, const WordEncoder& encode_word) {
  WordPieceEncoding encoding;
  if (add_special_tokens) {
    encoding.input_ids.push_back(cls_id);
    encoding.word_ids.push_back(-1);
  }
  for (std::size_t w = 0; w < words.size(); ++w) {
    const std::size_t count = cache.append_encoding(words[w], encode_word, encoding.input_ids);
    encoding.word_ids.insert(encoding.word_ids.end(), count, static_cast<std::int64_t>(w));
  }
  if (add_special_tokens) {
    encoding.input_ids.push_back(sep_id);
    encoding.word_ids.push_back(-1);
  }
  encoding.attention_mask.assign(encoding.input_ids.size(), 1);
  return encoding;
}

}  // namespace velmora::detail
