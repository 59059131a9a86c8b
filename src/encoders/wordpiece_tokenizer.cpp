// WordPiece: BERT's basic pre-splitting of one word, then greedy longest-match segmentation of
// each piece against the vocabulary.

#include <string>
#include <vector>

#include "encoders/subword_characters.hpp"
#include "encoders/subword_text.hpp"
#include "encoders/subword_word_cache.hpp"
#include "models/string_hash.hpp"
#include "velmora/errors.hpp"
#include "velmora/subword.hpp"
#include "velmora/unicode.hpp"

namespace velmora {

namespace {

using CodePoints = std::vector<std::uint32_t>;

[[noreturn]] void fail(const std::string& message) { throw WordPieceError(message); }

// The word's code points after the optional lower-casing; malformed UTF-8 is a WordPieceError
// whether or not the word is lower-cased.
CodePoints decode_word(std::string_view word, bool lowercase) {
  std::vector<detail::CodePointSpan> spans;
  std::uint64_t error_offset = 0;
  if (!detail::try_decode_utf8_code_points(word, spans, error_offset)) fail(detail::invalid_utf8_message(error_offset));
  if (lowercase) {
    const std::string lowered = detail::is_ascii(word) ? detail::ascii_lower(word) : detail::unicode_lower(word);
    detail::try_decode_utf8_code_points(lowered, spans, error_offset);
  }
  CodePoints code_points;
  code_points.reserve(spans.size());
  for (const auto& span : spans) code_points.push_back(span.code_point);
  return code_points;
}

// BERT's punctuation: general category P, and every ASCII character that is neither a letter,
// a digit, a space nor a control ("$", "+", "<", "=", ">", "^", "`", "|", "~" are symbols in
// Unicode, yet the checkpoints' tokenizer splits them off like punctuation).
bool is_bert_punctuation(std::uint32_t c) {
  if (c >= 0x21 && c <= 0x7E) return !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
  return detail::is_punctuation(c);
}

// Splits at whitespace (dropped), punctuation and CJK ideographs (kept as one-code-point
// pieces); drops NUL, U+FFFD and control characters other than tab, line feed and return.
std::vector<CodePoints> split_pieces(const CodePoints& code_points) {
  std::vector<CodePoints> pieces;
  CodePoints current;
  const auto finish = [&] {
    if (!current.empty()) pieces.push_back(std::move(current));
    current.clear();
  };
  for (const std::uint32_t c : code_points) {
    if (c == 0 || c == 0xFFFD) continue;
    if (detail::is_control(c) && c != 0x09 && c != 0x0A && c != 0x0D) continue;
    if (detail::is_subword_whitespace(c)) {
      finish();
    } else if (is_bert_punctuation(c) || detail::is_cjk_ideograph(c)) {
      finish();
      pieces.push_back({c});
    } else {
      current.push_back(c);
    }
  }
  finish();
  return pieces;
}

}  // namespace

struct WordPieceTokenizer::Impl {
  detail::StringMap<std::int64_t> token_ids;
  bool lowercase = true;
  bool strip_accents = true;
  std::string continuing_subword_prefix;
  std::uint64_t max_input_characters_per_word = 0;
  std::int64_t unknown_id = 0;
  std::int64_t cls_id = 0;
  std::int64_t sep_id = 0;
  detail::WordCache cache;

  std::int64_t required_id(const std::string& token) const {
    const auto found = token_ids.find(token);
    if (found == token_ids.end()) fail("WordPiece vocabulary is missing required token: " + token);
    return found->second;
  }

  // Greedy longest match; a piece with an unmatched position becomes one unknown id.
  void segment(const CodePoints& piece, std::vector<std::int64_t>& out) const {
    if (piece.size() > max_input_characters_per_word) {
      out.push_back(unknown_id);
      return;
    }
    std::string bytes;
    std::vector<std::size_t> offsets{0};
    for (const std::uint32_t c : piece) {
      detail::append_utf8(bytes, static_cast<char32_t>(c));
      offsets.push_back(bytes.size());
    }
    std::vector<std::int64_t> local;
    std::string candidate;
    std::size_t start = 0;
    while (start < piece.size()) {
      bool found = false;
      for (std::size_t end = piece.size(); end > start; --end) {
        const std::string_view part(bytes.data() + offsets[start], offsets[end] - offsets[start]);
        candidate.assign(start > 0 ? continuing_subword_prefix : std::string());
        candidate.append(part);
        const auto match = token_ids.find(candidate);
        if (match != token_ids.end()) {
          local.push_back(match->second);
          start = end;
          found = true;
          break;
        }
      }
      if (!found) {
        out.push_back(unknown_id);
        return;
      }
    }
    out.insert(out.end(), local.begin(), local.end());
  }

  std::vector<std::int64_t> encode_word(std::string_view word) const {
    CodePoints code_points = decode_word(word, lowercase);
    if (strip_accents) {
      CodePoints stripped;
      stripped.reserve(code_points.size());
      for (const std::uint32_t c : code_points) detail::append_without_accents(c, stripped);
      code_points = std::move(stripped);
    }
    std::vector<std::int64_t> ids;
    for (const CodePoints& piece : split_pieces(code_points)) segment(piece, ids);
    return ids;
  }

  // What the cache stores for a word: a word that yields nothing stands as a hyphen, so every
  // word keeps at least one subword.
  detail::WordEncoder word_encoder() const {
    return [this](std::string_view text) {
      std::vector<std::int64_t> ids = encode_word(text);
      if (ids.empty()) ids = encode_word("-");
      if (ids.empty()) ids.push_back(unknown_id);
      return ids;
    };
  }
};

WordPieceTokenizer::WordPieceTokenizer(std::vector<std::string> vocabulary, bool lowercase, bool strip_accents,
                                       std::string unknown_token, std::string cls_token, std::string sep_token,
                                       std::string continuing_subword_prefix,
                                       std::uint64_t max_input_characters_per_word)
    : impl_(std::make_unique<Impl>()) {
  impl_->lowercase = lowercase;
  impl_->strip_accents = strip_accents;
  impl_->continuing_subword_prefix = std::move(continuing_subword_prefix);
  impl_->max_input_characters_per_word = max_input_characters_per_word;
  if (vocabulary.empty()) fail("WordPiece vocabulary cannot be empty");
  if (max_input_characters_per_word == 0) fail("max_input_characters_per_word must be positive");
  impl_->token_ids.max_load_factor(1.0F);
  impl_->token_ids.reserve(vocabulary.size());
  for (std::size_t i = 0; i < vocabulary.size(); ++i) {
    if (!impl_->token_ids.try_emplace(std::move(vocabulary[i]), static_cast<std::int64_t>(i)).second) {
      fail("WordPiece vocabulary contains duplicate token: " + vocabulary[i]);
    }
  }
  impl_->unknown_id = impl_->required_id(unknown_token);
  impl_->cls_id = impl_->required_id(cls_token);
  impl_->sep_id = impl_->required_id(sep_token);
}

WordPieceTokenizer::WordPieceTokenizer(WordPieceTokenizer&&) noexcept = default;
WordPieceTokenizer& WordPieceTokenizer::operator=(WordPieceTokenizer&&) noexcept = default;
WordPieceTokenizer::~WordPieceTokenizer() = default;

WordPieceEncoding WordPieceTokenizer::encode(const std::vector<std::string>& words, bool add_special_tokens) const {
  return detail::encode_word_list(words, add_special_tokens, impl_->cls_id, impl_->sep_id, impl_->cache,
                                  impl_->word_encoder());
}

std::uint64_t WordPieceTokenizer::vocabulary_size() const { return impl_->token_ids.size(); }

std::int64_t WordPieceTokenizer::cache_size() const { return impl_->cache.size(); }

bool WordPieceTokenizer::highway_enabled() noexcept { return true; }

}  // namespace velmora
