// XLM-R unigram pieces: normalisation through the precompiled character map (a double-array
// trie of byte strings and their replacements), a word-start mark before every run between
// whitespace, and the Viterbi segmentation of highest total piece score.

#include <algorithm>
#include <optional>

#include "encoders/subword_characters.hpp"
#include "encoders/subword_text.hpp"
#include "encoders/subword_word_cache.hpp"
#include "models/string_hash.hpp"
#include "velmora/errors.hpp"
#include "velmora/subword.hpp"

namespace velmora {

namespace {

[[noreturn]] void fail(const std::string& message) { throw SubwordError(message); }

constexpr std::string_view kWordStart = "\xE2\x96\x81";  // U+2581
// The character map's keys are a few characters (at most 12 bytes in sentencepiece's nmt_nfkc
// map); a damaged trie whose paths loop must not turn normalisation quadratic.
constexpr std::size_t kMaxKeyBytes = 64;

// Double-array trie units: bit 31 leaf, bits 0-7 label, bit 8 has-leaf, bit 9 offset scale.
std::uint32_t unit_offset(std::uint32_t unit) { return (unit >> 10) << ((unit & (1U << 9)) >> 6); }
bool unit_has_leaf(std::uint32_t unit) { return ((unit >> 8) & 1U) != 0; }
std::uint32_t unit_value(std::uint32_t unit) { return unit & 0x7FFFFFFFU; }
std::uint32_t unit_label(std::uint32_t unit) { return unit & 0x800000FFU; }

std::uint32_t read_le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

}  // namespace

struct XLMRobertaTokenizer::Impl {
  std::vector<std::string> pieces;
  std::vector<float> scores;
  detail::StringMap<std::int64_t> piece_ids;
  std::vector<std::uint32_t> trie_units;
  std::string normalized_blob;
  std::uint64_t max_piece_bytes = 0;
  std::int64_t unknown_id = 0;
  float unknown_score = 0.0F;  // ten below the lowest piece score
  std::int64_t cls_id = 0;
  std::int64_t sep_id = 0;
  detail::WordCache cache;

  struct TrieMatch {
    std::size_t length;
    std::string_view replacement;
  };

  // The longest key that is a prefix of `bytes` and ends on a character boundary, with its
  // replacement. Keys are whole characters or character sequences, so stopping inside a
  // character would only follow a damaged map.
  std::optional<TrieMatch> longest_prefix(std::string_view bytes) const {
    if (trie_units.empty()) return std::nullopt;
    std::optional<TrieMatch> best;
    std::uint64_t node = unit_offset(trie_units[0]);
    for (std::size_t k = 0; k < std::min(bytes.size(), kMaxKeyBytes); ++k) {
      const auto c = static_cast<std::uint8_t>(bytes[k]);
      if (c == 0) break;
      const std::uint64_t next = node ^ c;
      if (next >= trie_units.size()) break;
      const std::uint32_t unit = trie_units[next];
      if (unit_label(unit) != c) break;
      node = next ^ unit_offset(unit);
      const bool at_boundary = k + 1 == bytes.size() || (static_cast<std::uint8_t>(bytes[k + 1]) & 0xC0) != 0x80;
      if (!unit_has_leaf(unit) || !at_boundary || node >= trie_units.size()) continue;
      const std::uint64_t value = unit_value(trie_units[node]);
      if (value >= normalized_blob.size()) continue;
      const std::size_t end = normalized_blob.find('\0', value);
      const std::size_t size = end == std::string::npos ? end : end - value;
      best = TrieMatch{k + 1, std::string_view(normalized_blob).substr(value, size)};
    }
    return best;
  }

  // The character map's rule as the tokenizer the models were trained with applies it: at each
  // position the longest key that starts there is replaced and the walk goes on after it; a
  // character that starts no key is copied. Nothing else is dropped, so a combining mark after
  // a replaced base stays.
  std::string normalize(std::string_view word) const {
    const std::vector<detail::CodePointSpan> points = detail::decode_utf8_code_points(word);
    std::string out;
    out.reserve(word.size());
    std::size_t at = 0;
    for (const detail::CodePointSpan& point : points) {
      if (point.begin < at) continue;  // inside the last replaced key
      if (const auto match = longest_prefix(word.substr(point.begin))) {
        out.append(match->replacement);
        at = point.begin + match->length;
      } else {
        out.append(word.substr(point.begin, point.end - point.begin));
        at = point.end;
      }
    }
    return out;
  }

  // The best segmentation as sentencepiece finds it: a code point that starts no piece of its
  // own length is covered by the unknown piece, priced below every piece (unknown_score), and a
  // run of unknown pieces comes out as one unknown id. Candidates are visited by start, then by
  // end, and totals are float sums; of equal totals the first candidate found stays, which is
  // the one whose last piece starts earliest.
  std::vector<std::int64_t> viterbi(std::string_view text) const {
    const std::vector<detail::CodePointSpan> points = detail::decode_utf8_code_points(text);
    const std::size_t n = points.size();
    std::vector<std::size_t> boundary(n + 1, 0);
    for (std::size_t k = 0; k < n; ++k) boundary[k + 1] = points[k].end;
    std::vector<float> best(n + 1, 0.0F);
    std::vector<bool> reached(n + 1, false);
    std::vector<std::size_t> back(n + 1, 0);
    std::vector<std::int64_t> piece(n + 1, unknown_id);
    reached[0] = true;
    const auto offer = [&](std::size_t s, std::size_t e, std::int64_t id, float score) {
      const float candidate = best[s] + score;
      if (!reached[e] || candidate > best[e]) {
        best[e] = candidate;
        reached[e] = true;
        back[e] = s;
        piece[e] = id;
      }
    };
    for (std::size_t s = 0; s < n; ++s) {
      bool single = false;
      for (std::size_t e = s + 1; e <= n; ++e) {
        if (boundary[e] - boundary[s] > max_piece_bytes) break;
        const auto match = piece_ids.find(text.substr(boundary[s], boundary[e] - boundary[s]));
        if (match == piece_ids.end()) continue;
        single = single || e == s + 1;
        offer(s, e, match->second, scores[static_cast<std::size_t>(match->second)]);
      }
      if (!single) offer(s, s + 1, unknown_id, unknown_score);
    }
    std::vector<std::int64_t> ids;
    for (std::size_t k = n; k > 0; k = back[k]) {
      if (piece[k] != unknown_id || ids.empty() || ids.back() != unknown_id) ids.push_back(piece[k]);
    }
    std::reverse(ids.begin(), ids.end());
    return ids;
  }

  std::vector<std::int64_t> encode_word(std::string_view word) const {
    const std::string text = normalize(word);
    const std::vector<detail::CodePointSpan> points = detail::decode_utf8_code_points(text);
    // One search over all runs, each behind its mark, as sentencepiece searches its whole
    // normalised text: the float sums carry over from run to run, so searching runs apart
    // rounds differently and can turn an equal-score choice the other way.
    std::string marked;
    marked.reserve(text.size() + 2 * kWordStart.size());
    for (std::size_t i = 0; i < points.size();) {
      if (detail::is_subword_whitespace(points[i].code_point)) {
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j < points.size() && !detail::is_subword_whitespace(points[j].code_point)) ++j;
      marked.append(kWordStart);
      marked.append(text, points[i].begin, points[j - 1].end - points[i].begin);
      i = j;
    }
    return viterbi(marked);
  }

  detail::WordEncoder word_encoder() const {
    return [this](std::string_view text) { return encode_word(text); };
  }

  std::vector<std::int64_t> cached_encode_word(std::string_view word) {
    return cache.get_or_encode(word, word_encoder());
  }
};

XLMRobertaTokenizer::XLMRobertaTokenizer(std::vector<std::string> vocabulary, std::vector<float> scores,
                                         std::vector<std::uint8_t> precompiled_charsmap, std::int64_t unknown_id,
                                         std::string cls_token, std::string sep_token)
    : impl_(std::make_unique<Impl>()) {
  Impl& impl = *impl_;
  if (vocabulary.empty() || vocabulary.size() != scores.size()) {
    fail("XLM-R vocabulary and score arrays must be nonempty and equal");
  }
  if (unknown_id < 0 || static_cast<std::uint64_t>(unknown_id) >= vocabulary.size()) {
    fail("XLM-R unknown id is out of range");
  }
  impl.unknown_id = unknown_id;
  impl.unknown_score = *std::min_element(scores.begin(), scores.end()) - 10.0F;
  impl.pieces = std::move(vocabulary);
  impl.scores = std::move(scores);
  impl.piece_ids.max_load_factor(1.0F);
  impl.piece_ids.reserve(impl.pieces.size());
  for (std::size_t i = 0; i < impl.pieces.size(); ++i) {
    impl.piece_ids.try_emplace(impl.pieces[i], static_cast<std::int64_t>(i));
    impl.max_piece_bytes = std::max<std::uint64_t>(impl.max_piece_bytes, impl.pieces[i].size());
  }
  for (const std::string* token : {&cls_token, &sep_token}) {
    const auto found = impl.piece_ids.find(*token);
    if (found == impl.piece_ids.end()) fail("XLM-R vocabulary is missing token: " + *token);
    (token == &cls_token ? impl.cls_id : impl.sep_id) = found->second;
  }
  if (precompiled_charsmap.size() < 4) fail("XLM-R precompiled charsmap is truncated");
  const std::uint64_t trie_bytes = read_le32(precompiled_charsmap.data());
  if (trie_bytes % 4 != 0 || trie_bytes + 4 > precompiled_charsmap.size()) {
    fail("XLM-R precompiled charsmap has invalid trie");
  }
  impl.trie_units.resize(trie_bytes / 4);
  for (std::size_t k = 0; k < impl.trie_units.size(); ++k) {
    impl.trie_units[k] = read_le32(precompiled_charsmap.data() + 4 + 4 * k);
  }
  impl.normalized_blob.assign(precompiled_charsmap.begin() + static_cast<std::ptrdiff_t>(4 + trie_bytes),
                              precompiled_charsmap.end());
}

XLMRobertaTokenizer::XLMRobertaTokenizer(XLMRobertaTokenizer&&) noexcept = default;
XLMRobertaTokenizer& XLMRobertaTokenizer::operator=(XLMRobertaTokenizer&&) noexcept = default;
XLMRobertaTokenizer::~XLMRobertaTokenizer() = default;

WordPieceEncoding XLMRobertaTokenizer::encode(const std::vector<std::string>& words, bool add_special_tokens) const {
  return detail::encode_word_list(words, add_special_tokens, impl_->cls_id, impl_->sep_id, impl_->cache,
                                  impl_->word_encoder());
}

std::vector<std::int64_t> XLMRobertaTokenizer::tokenize(const std::string& text) const {
  return impl_->cached_encode_word(text);
}

std::uint64_t XLMRobertaTokenizer::vocabulary_size() const { return impl_->pieces.size(); }

std::int64_t XLMRobertaTokenizer::cache_size() const { return impl_->cache.size(); }

bool XLMRobertaTokenizer::highway_enabled() noexcept { return true; }

}  // namespace velmora
