// Writing documents, sentences, tokens, words and spans as the dictionary form. Keys go in
// a fixed order and absent values are left out; a token's spacing is folded into the MISC
// text of the entry that stands for it.
#include <Python.h>

#include <nanobind/stl/string.h>

#include <optional>
#include <string>
#include <vector>

#include "conversions.hpp"
#include "dict_form.hpp"
#include "misc_spacing.hpp"
#include "velmora/document.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

nb::str to_python(const std::string& text) { return nb::str(text.data(), text.size()); }

void set(nb::dict& entry, const char* key, nb::handle value) { entry[key] = value; }

void set_optional(nb::dict& entry, const char* key, const std::optional<std::string>& value) {
  if (value) set(entry, key, to_python(*value));
}

void set_list(nb::dict& entry, const char* key, const std::vector<std::string>& values) {
  if (values.empty()) return;
  nb::list list;
  for (const std::string& value : values) list.append(to_python(value));
  set(entry, key, list);
}

template <class Number>
void set_optional_number(nb::dict& entry, const char* key, const std::optional<Number>& value) {
  if (value) set(entry, key, nb::int_(*value));
}

// The word entry; the tag and tag list are those of a single-word token, passed in.
nb::dict word_entry(const Word& word, const std::optional<std::string>& ner,
                    const std::vector<std::string>& multi_ner) {
  nb::dict entry;
  std::optional<std::int32_t> empty_index = word.empty_index();
  if (empty_index)
    set(entry, "id", nb::make_tuple(word.id(), *empty_index));
  else
    set(entry, "id", nb::int_(word.id()));
  set(entry, "text", to_python(word.text()));
  set_optional(entry, "lemma", word.lemma());
  set_optional(entry, "upos", word.upos());
  set_optional(entry, "xpos", word.xpos());
  set_optional(entry, "feats", word.feats());
  set_optional_number(entry, "head", word.head());
  set_optional(entry, "deprel", word.deprel());
  set_optional(entry, "deps", word.deps());
  set_optional(entry, "misc", word.misc());
  set_optional_number(entry, "start_char", word.start_char());
  set_optional_number(entry, "end_char", word.end_char());
  if (std::optional<bool> flag = word.manual_expansion()) set(entry, "manual_expansion", nb::bool_(*flag));
  set_optional(entry, "ner", ner);
  set_list(entry, "multi_ner", multi_ner);
  set_list(entry, "morphemes", word.morphemes());
  std::vector<CorefAttachment> attachments = word.coref_chains();
  if (!attachments.empty()) {
    nb::list chains;
    for (const CorefAttachment& attachment : attachments) chains.append(coref_attachment_to_json(attachment));
    set(entry, "coref_chains", chains);
  }
  return entry;
}

nb::dict multi_word_token_entry(const Token& token, const std::optional<std::string>& misc) {
  nb::dict entry;
  auto [first, last] = token.id_range();
  set(entry, "id", nb::make_tuple(first, last));
  set(entry, "text", to_python(token.text()));
  set_optional(entry, "misc", misc);
  set_optional(entry, "ner", token.ner());
  set_list(entry, "multi_ner", token.multi_ner());
  set_optional_number(entry, "start_char", token.start_char());
  set_optional_number(entry, "end_char", token.end_char());
  if (std::optional<bool> flag = token.manual_expansion()) set(entry, "manual_expansion", nb::bool_(*flag));
  return entry;
}

void append_token_entries(nb::list& entries, const Token& token) {
  auto [first, last] = token.id_range();
  const std::string spaces_before = token.spaces_before();
  const std::string spaces_after = token.spaces_after();
  const bool single_word = first == last;
  if (!single_word) entries.append(multi_word_token_entry(token, rebuild_token_misc(token.misc(), spaces_before, spaces_after)));

  WordSequence words = token.words();
  for (std::uint64_t i = 0; i < words.size(); ++i) {
    Word word = words.at(static_cast<long>(i));
    nb::dict entry = single_word ? word_entry(word, token.ner(), token.multi_ner()) : word_entry(word, std::nullopt, {});
    // The words of a multi-word token carry no spacing of their own: nothing before, one space after.
    std::optional<std::string> misc = single_word ? rebuild_token_misc(word.misc(), spaces_before, spaces_after)
                                                  : rebuild_token_misc(word.misc(), "", " ");
    // Assigning keeps the place of an existing "misc" key and adds a new one last.
    if (misc) set(entry, "misc", to_python(*misc));
    entries.append(entry);
  }
}

}  // namespace

nb::list token_to_dict(const Token& token) {
  nb::list entries;
  append_token_entries(entries, token);
  return entries;
}

nb::list sentence_to_dict(const Sentence& sentence) {
  nb::list entries;
  WordSequence empty_words = sentence.empty_words();
  TokenSequence tokens = sentence.tokens();
  std::uint64_t k = 0;
  auto append_empty_word = [&](std::uint64_t position) {
    entries.append(word_entry(empty_words.at(static_cast<long>(position)), std::nullopt, {}));
  };
  for (std::uint64_t t = 0; t < tokens.size(); ++t) {
    Token token = tokens.at(static_cast<long>(t));
    const std::int32_t first = token.id_range().first;
    // Empty word N.M goes after the token holding word N and before the one starting at N + 1.
    while (k < empty_words.size() && empty_words.at(static_cast<long>(k)).id() < first) append_empty_word(k++);
    append_token_entries(entries, token);
  }
  while (k < empty_words.size()) append_empty_word(k++);
  return entries;
}

nb::list document_to_dict(const Document& document) {
  nb::list sentences;
  SentenceSequence all = document.sentences();
  for (std::uint64_t s = 0; s < all.size(); ++s) sentences.append(sentence_to_dict(all.at(static_cast<long>(s))));
  return sentences;
}

nb::dict word_to_dict(const Word& word) { return word_entry(word, std::nullopt, {}); }

nb::dict span_to_dict(const Span& span) {
  nb::dict entry;
  set(entry, "text", to_python(span.text()));
  set(entry, "type", to_python(span.type()));
  std::optional<std::uint32_t> start = span.start_char();
  std::optional<std::uint32_t> end = span.end_char();
  set(entry, "start_char", start ? nb::object(nb::int_(*start)) : nb::none());
  set(entry, "end_char", end ? nb::object(nb::int_(*end)) : nb::none());
  return entry;
}

}  // namespace velmora::detail
