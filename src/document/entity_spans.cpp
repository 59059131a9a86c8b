// Entity spans derived from the tokens' entity tags (BIOES and BILOU, mixed freely).

#include <string_view>

#include "document/joined_text.hpp"
#include "velmora/document_storage.hpp"

namespace velmora {
namespace {

// A tag of the shape prefix letter, hyphen, type.
struct Tag {
  char prefix = 0;
  std::string_view type;
};

std::optional<Tag> read_tag(const StringPool& pool, std::uint32_t id) {
  if (id == kNoString) return std::nullopt;
  const std::string& text = pool.get(id);
  if (text.size() < 3 || text[1] != '-') return std::nullopt;
  return Tag{text[0], std::string_view(text).substr(2)};
}

// The span columns, filled aside and swapped in only when the whole rebuild succeeded.
struct SpanColumns {
  std::vector<std::uint32_t> offsets{0};
  std::vector<std::uint32_t> sentence, first_token, end_token, first_word, end_word;
  std::vector<std::uint32_t> text, type, start_char, end_char;
};

void make_span(DocumentStorage& doc, SpanColumns& spans, std::uint32_t sentence,
               std::uint32_t first, std::uint32_t end, std::string_view type) {
  // Copy the type first: interning may reallocate the pool strings the view points into.
  const std::string type_text(type);
  const std::uint32_t start_char = doc.token_start_char[first];
  const std::uint32_t end_char = doc.token_end_char[end - 1];
  std::uint32_t text_id;
  if (start_char != kNoOffset && end_char != kNoOffset && start_char <= end_char &&
      end_char <= doc.text.codepoint_count()) {
    text_id = doc.pool.intern(doc.text.slice_view(start_char, end_char));
  } else {
    text_id = doc.pool.intern(detail::joined_token_text(doc, first, end));
  }
  const std::uint32_t type_id = doc.pool.intern(type_text);
  spans.sentence.push_back(sentence);
  spans.first_token.push_back(first);
  spans.end_token.push_back(end);
  spans.first_word.push_back(doc.token_first_word[first]);
  spans.end_word.push_back(doc.token_end_word[end - 1]);
  spans.text.push_back(text_id);
  spans.type.push_back(type_id);
  spans.start_char.push_back(start_char);
  spans.end_char.push_back(end_char);
}

}  // namespace

void DocumentStorage::rebuild_entities() {
  SpanColumns spans;
  for (std::uint32_t s = 0; s < sentence_text.size(); ++s) {
    const std::uint32_t end_token = sentence_token_offsets[s + 1];
    std::uint32_t t = sentence_token_offsets[s];
    while (t < end_token) {
      const std::optional<Tag> tag = read_tag(pool, token_ner[t]);
      if (!tag || tag->prefix == 'O') {
        ++t;
        continue;
      }
      if (tag->prefix != 'B') {
        // 'S' and 'U' mark one-token entities; a stray 'I', 'E', 'L' or any other letter
        // also stands alone.
        make_span(*this, spans, s, t, t + 1, tag->type);
        ++t;
        continue;
      }
      std::uint32_t e = t + 1;
      while (e < end_token) {
        const std::optional<Tag> next = read_tag(pool, token_ner[e]);
        if (!next || next->type != tag->type) break;
        if (next->prefix == 'I') {
          ++e;
        } else {
          if (next->prefix == 'E' || next->prefix == 'L') ++e;
          break;
        }
      }
      make_span(*this, spans, s, t, e, tag->type);
      t = e;
    }
    spans.offsets.push_back(static_cast<std::uint32_t>(spans.sentence.size()));
  }
  sentence_span_offsets.swap(spans.offsets);
  span_sentence.swap(spans.sentence);
  span_first_token.swap(spans.first_token);
  span_end_token.swap(spans.end_token);
  span_first_word.swap(spans.first_word);
  span_end_word.swap(spans.end_word);
  span_text.swap(spans.text);
  span_type.swap(spans.type);
  span_start_char.swap(spans.start_char);
  span_end_char.swap(spans.end_char);
}

}  // namespace velmora
