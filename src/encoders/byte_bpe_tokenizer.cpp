// Byte-level BPE: a fixed pre-tokenizer cuts the word into contraction, letter, number,
// whitespace and other runs; each run's bytes become base tokens that ranked merges join.

#include <array>
#include <functional>
#include <queue>
#include <unordered_map>

#include "encoders/subword_characters.hpp"
#include "encoders/subword_text.hpp"
#include "encoders/subword_word_cache.hpp"
#include "models/string_hash.hpp"
#include "velmora/errors.hpp"
#include "velmora/subword.hpp"
#include "velmora/unicode.hpp"

namespace velmora {

namespace {

[[noreturn]] void fail(const std::string& message) { throw SubwordError(message); }

// The byte-to-unicode table: printable Latin-1 bytes stand for themselves, the 68 others for
// U+0100 upwards in byte order.
std::array<std::string, 256> byte_base_tokens() {
  std::array<std::string, 256> tokens;
  std::uint32_t next_shifted = 0x100;
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    const bool printable = (byte >= 0x21 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xAC) || byte >= 0xAE;
    detail::append_utf8(tokens[byte], static_cast<char32_t>(printable ? byte : next_shifted++));
  }
  return tokens;
}

enum class CharacterClass { letter, number, whitespace, other };

CharacterClass class_of(std::uint32_t code_point) {
  if (detail::is_letter_or_mark(code_point)) return CharacterClass::letter;
  if (detail::is_number(code_point)) return CharacterClass::number;
  if (detail::is_subword_whitespace(code_point)) return CharacterClass::whitespace;
  return CharacterClass::other;
}

struct Merge {
  std::uint32_t rank;
  std::int64_t merged_id;
};

std::uint64_t pair_key(std::int64_t left, std::int64_t right) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(left)) << 32) |
         static_cast<std::uint32_t>(right);
}

struct ByteSpan {
  std::size_t begin;
  std::size_t end;
};

}  // namespace

struct ByteBPETokenizer::Impl {
  detail::StringMap<std::int64_t> token_ids;
  std::unordered_map<std::uint64_t, Merge> merge_ranks;
  std::array<std::int64_t, 256> byte_ids{};
  std::uint64_t vocabulary_size = 0;
  bool add_prefix_space = false;
  std::int64_t unknown_id = 0;
  std::int64_t cls_id = 0;
  std::int64_t sep_id = 0;
  detail::WordCache cache;

  std::int64_t required_id(std::string_view token) const {
    const auto found = token_ids.find(token);
    if (found == token_ids.end()) fail("byte-level BPE vocabulary is missing token: " + std::string(token));
    return found->second;
  }

  static std::vector<ByteSpan> pretokenize(std::string_view text) {
    static constexpr std::array<std::string_view, 7> kContractions = {"s", "t", "re", "ve", "m", "ll", "d"};
    const std::vector<detail::CodePointSpan> points = detail::decode_utf8_code_points(text);
    const std::size_t n = points.size();
    std::vector<ByteSpan> spans;
    std::size_t i = 0;
    while (i < n) {
      if (points[i].code_point == '\'' && i + 1 < n) {
        const std::string_view after = text.substr(points[i].end);
        bool matched = false;
        for (const std::string_view suffix : kContractions) {
          if (after.starts_with(suffix)) {
            spans.push_back({points[i].begin, points[i].end + suffix.size()});
            i += 1 + suffix.size();  // the suffixes are ASCII: one code point per byte
            matched = true;
            break;
          }
        }
        if (matched) continue;
      }
      std::size_t run = i;
      if (points[i].code_point == ' ' && i + 1 < n && !detail::is_subword_whitespace(points[i + 1].code_point)) {
        run = i + 1;
      }
      const CharacterClass kind = class_of(points[run].code_point);
      std::size_t end = run + 1;
      while (end < n && class_of(points[end].code_point) == kind) ++end;
      spans.push_back({points[i].begin, points[end - 1].end});
      i = end;
    }
    return spans;
  }

  // Rounds of merging, as the checkpoints' tokenizer does them: each round takes the lowest
  // ranked pair present and merges every occurrence of it from left to right. A heap of
  // candidate pairs over a linked list of symbols makes this O(n log n) in the piece length;
  // pairs formed by a round's merges join the heap only when the round ends, and a popped pair
  // whose symbols changed since it was pushed is skipped.
  std::vector<std::int64_t> merge_piece(std::string_view bytes) const {
    const std::size_t n = bytes.size();
    std::vector<std::int64_t> symbols(n);
    for (std::size_t k = 0; k < n; ++k) symbols[k] = byte_ids[static_cast<unsigned char>(bytes[k])];
    if (n < 2) return symbols;
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::vector<std::size_t> previous(n);
    std::vector<std::size_t> next(n);
    for (std::size_t k = 0; k < n; ++k) {
      previous[k] = k == 0 ? kNone : k - 1;
      next[k] = k + 1 == n ? kNone : k + 1;
    }
    // The merge of the pair that starts at a linked node, if any.
    const auto merge_at = [&](std::size_t left) -> const Merge* {
      if (left == kNone || symbols[left] < 0 || next[left] == kNone) return nullptr;
      const auto found = merge_ranks.find(pair_key(symbols[left], symbols[next[left]]));
      return found == merge_ranks.end() ? nullptr : &found->second;
    };
    struct Candidate {
      std::uint32_t rank;
      std::size_t left;  // the left symbol's node; nodes keep the text order
      bool operator>(const Candidate& other) const {
        return rank != other.rank ? rank > other.rank : left > other.left;
      }
    };
    std::vector<Candidate> pending;
    const auto propose = [&](std::size_t left) {
      if (const Merge* merge = merge_at(left)) pending.push_back({merge->rank, left});
    };
    for (std::size_t k = 0; k + 1 < n; ++k) propose(k);
    std::priority_queue<Candidate, std::vector<Candidate>, std::greater<>> heap(std::greater<>{}, std::move(pending));
    pending.clear();
    std::uint32_t round = 0;
    for (;;) {
      if (!pending.empty() && (heap.empty() || heap.top().rank != round)) {
        for (const Candidate& candidate : pending) heap.push(candidate);
        pending.clear();
      }
      if (heap.empty()) break;
      const Candidate top = heap.top();
      heap.pop();
      // Stale when the pair at its node changed since: ranks are unique per pair, so an equal
      // rank means the same pair.
      const Merge* merge = merge_at(top.left);
      if (merge == nullptr || merge->rank != top.rank) continue;
      round = top.rank;
      const std::size_t right = next[top.left];
      symbols[top.left] = merge->merged_id;
      symbols[right] = -1;  // unlinked
      next[top.left] = next[right];
      if (next[right] != kNone) previous[next[right]] = top.left;
      propose(previous[top.left]);
      propose(top.left);
    }
    std::vector<std::int64_t> merged;
    for (std::size_t k = 0; k != kNone; k = next[k]) merged.push_back(symbols[k]);
    return merged;
  }

  std::vector<std::int64_t> encode_word(std::string_view word) const {
    if (word.empty()) return {};
    std::string prefixed;
    std::string_view text = word;
    if (add_prefix_space && !detail::is_subword_whitespace(detail::decode_utf8_code_points(word).front().code_point)) {
      prefixed.reserve(word.size() + 1);
      prefixed.push_back(' ');
      prefixed.append(word);
      text = prefixed;
    }
    std::vector<std::int64_t> ids;
    for (const ByteSpan& span : pretokenize(text)) {
      const std::vector<std::int64_t> piece = merge_piece(text.substr(span.begin, span.end - span.begin));
      ids.insert(ids.end(), piece.begin(), piece.end());
    }
    if (ids.empty()) ids.push_back(unknown_id);
    return ids;
  }

  detail::WordEncoder word_encoder() const {
    return [this](std::string_view text) { return encode_word(text); };
  }

  std::vector<std::int64_t> cached_encode_word(std::string_view word) {
    return cache.get_or_encode(word, word_encoder());
  }
};

ByteBPETokenizer::ByteBPETokenizer(std::vector<std::string> vocabulary,
                                   std::vector<std::pair<std::string, std::string>> merges, std::string unknown_token,
                                   std::string cls_token, std::string sep_token, bool add_prefix_space)
    : impl_(std::make_unique<Impl>()) {
  Impl& impl = *impl_;
  if (vocabulary.empty()) fail("byte-level BPE vocabulary cannot be empty");
  impl.vocabulary_size = vocabulary.size();
  impl.add_prefix_space = add_prefix_space;
  impl.token_ids.max_load_factor(1.0F);
  impl.token_ids.reserve(vocabulary.size());
  for (std::size_t i = 0; i < vocabulary.size(); ++i) {
    if (!impl.token_ids.try_emplace(std::move(vocabulary[i]), static_cast<std::int64_t>(i)).second) {
      fail("byte-level BPE vocabulary contains a duplicate token");
    }
  }
  impl.unknown_id = impl.required_id(unknown_token);
  impl.cls_id = impl.required_id(cls_token);
  impl.sep_id = impl.required_id(sep_token);
  const std::array<std::string, 256> base_tokens = byte_base_tokens();
  for (std::size_t byte = 0; byte < 256; ++byte) impl.byte_ids[byte] = impl.required_id(base_tokens[byte]);
  impl.merge_ranks.max_load_factor(1.0F);
  impl.merge_ranks.reserve(merges.size());
  for (std::size_t rank = 0; rank < merges.size(); ++rank) {
    const auto& [left, right] = merges[rank];
    const std::int64_t left_id = impl.required_id(left);
    const std::int64_t right_id = impl.required_id(right);
    const std::int64_t merged_id = impl.required_id(left + right);
    impl.merge_ranks.try_emplace(pair_key(left_id, right_id), Merge{static_cast<std::uint32_t>(rank), merged_id});
  }
}

ByteBPETokenizer::ByteBPETokenizer(ByteBPETokenizer&&) noexcept = default;
ByteBPETokenizer& ByteBPETokenizer::operator=(ByteBPETokenizer&&) noexcept = default;
ByteBPETokenizer::~ByteBPETokenizer() = default;

WordPieceEncoding ByteBPETokenizer::encode(const std::vector<std::string>& words, bool add_special_tokens) const {
  return detail::encode_word_list(words, add_special_tokens, impl_->cls_id, impl_->sep_id, impl_->cache,
                                  impl_->word_encoder());
}

std::vector<std::int64_t> ByteBPETokenizer::tokenize(const std::string& text) const {
  return impl_->cached_encode_word(text);
}

std::uint64_t ByteBPETokenizer::vocabulary_size() const { return impl_->vocabulary_size; }

std::int64_t ByteBPETokenizer::cache_size() const { return impl_->cache.size(); }

bool ByteBPETokenizer::highway_enabled() noexcept { return true; }

}  // namespace velmora
