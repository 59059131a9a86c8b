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
#include "velmora/document.hpp"
#include "velmora/misc_spacing.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

nb::str to_python(const std::string& text) { return nb::str(text.data(), text.size()); }

// Builds entries; the key strings are made once per conversion, not once per entry.
class EntryWriter {
 public:
  // The word entry; the tag and tag list are those of a single-word token, passed in.
  nb::dict word(const Word& word, const std::optional<std::string>& ner,
                const std::vector<std::string>& multi_ner) const {
    nb::dict entry;
    std::optional<std::int32_t> empty_index = word.empty_index();
    if (empty_index)
      set(entry, id_, nb::make_tuple(word.id(), *empty_index));
    else
      set(entry, id_, nb::int_(word.id()));
    set(entry, text_, to_python(word.text()));
    set_optional(entry, lemma_, word.lemma());
    set_optional(entry, upos_, word.upos());
    set_optional(entry, xpos_, word.xpos());
    set_optional(entry, feats_, word.feats());
    set_optional_number(entry, head_, word.head());
    set_optional(entry, deprel_, word.deprel());
    set_optional(entry, deps_, word.deps());
    set_optional(entry, misc_, word.misc());
    set_optional_number(entry, start_char_, word.start_char());
    set_optional_number(entry, end_char_, word.end_char());
    set_flag(entry, word.manual_expansion());
    set_optional(entry, ner_, ner);
    set_list(entry, multi_ner_, multi_ner);
    set_list(entry, morphemes_, word.morphemes());
    std::vector<CorefAttachment> attachments = word.coref_chains();
    if (!attachments.empty()) {
      nb::list chains;
      for (const CorefAttachment& attachment : attachments)
        chains.append(coref_attachment_to_json(attachment));
      set(entry, coref_chains_, chains);
    }
    return entry;
  }

  nb::dict multi_word_token(const Token& token, const std::optional<std::string>& misc) const {
    nb::dict entry;
    auto [first, last] = token.id_range();
    set(entry, id_, nb::make_tuple(first, last));
    set(entry, text_, to_python(token.text()));
    set_optional(entry, misc_, misc);
    set_optional(entry, ner_, token.ner());
    set_list(entry, multi_ner_, token.multi_ner());
    set_optional_number(entry, start_char_, token.start_char());
    set_optional_number(entry, end_char_, token.end_char());
    set_flag(entry, token.manual_expansion());
    return entry;
  }

  // `after_word(id)` appends the empty words that follow word `id`, so that inside a multi-word
  // token they stand where CoNLL-U and `Sentence.all_words` put them.
  template <class AfterWord>
  void append_token(nb::list& entries, const Token& token, AfterWord&& after_word) const {
    auto [first, last] = token.id_range();
    const std::string spaces_before = token.spaces_before();
    const std::string spaces_after = token.spaces_after();
    const bool single_word = first == last;
    if (!single_word)
      entries.append(
          multi_word_token(token, rebuild_token_misc(token.misc(), spaces_before, spaces_after)));

    WordSequence words = token.words();
    for (std::uint64_t i = 0; i < words.size(); ++i) {
      Word member = words.at(static_cast<long>(i));
      nb::dict entry = single_word ? word(member, token.ner(), token.multi_ner())
                                   : word(member, std::nullopt, {});
      // The words of a multi-word token have no spacing of their own: none before, one after.
      std::optional<std::string> misc =
          single_word ? rebuild_token_misc(member.misc(), spaces_before, spaces_after)
                      : rebuild_token_misc(member.misc(), "", " ");
      // Assigning keeps the place of an existing "misc" key and adds a new one last.
      if (misc) set(entry, misc_, to_python(*misc));
      entries.append(entry);
      after_word(member.id());
    }
  }

  nb::list sentence(const Sentence& sentence) const {
    nb::list entries;
    WordSequence empty_words = sentence.empty_words();
    TokenSequence tokens = sentence.tokens();
    std::uint64_t k = 0;
    auto empty_word_id = [&](std::uint64_t position) {
      return empty_words.at(static_cast<long>(position)).id();
    };
    auto append_empty_word = [&](std::uint64_t position) {
      entries.append(word(empty_words.at(static_cast<long>(position)), std::nullopt, {}));
    };
    for (std::uint64_t t = 0; t < tokens.size(); ++t) {
      Token token = tokens.at(static_cast<long>(t));
      // Empty word N.M goes right after word N (0.M before the first token).
      while (k < empty_words.size() && empty_word_id(k) < token.id_range().first)
        append_empty_word(k++);
      append_token(entries, token, [&](std::int64_t word_id) {
        while (k < empty_words.size() && empty_word_id(k) <= word_id) append_empty_word(k++);
      });
    }
    while (k < empty_words.size()) append_empty_word(k++);
    return entries;
  }

 private:
  static void set(nb::dict& entry, const nb::str& key, nb::handle value) {
    if (PyDict_SetItem(entry.ptr(), key.ptr(), value.ptr()) != 0) throw nb::python_error();
  }

  static void set_optional(nb::dict& entry, const nb::str& key,
                           const std::optional<std::string>& value) {
    if (value) set(entry, key, to_python(*value));
  }

  static void set_list(nb::dict& entry, const nb::str& key,
                       const std::vector<std::string>& values) {
    if (values.empty()) return;
    nb::list list;
    for (const std::string& value : values) list.append(to_python(value));
    set(entry, key, list);
  }

  template <class Number>
  static void set_optional_number(nb::dict& entry, const nb::str& key,
                                  const std::optional<Number>& value) {
    if (value) set(entry, key, nb::int_(*value));
  }

  void set_flag(nb::dict& entry, std::optional<bool> flag) const {
    if (flag) set(entry, manual_expansion_, nb::bool_(*flag));
  }

  nb::str id_{"id"}, text_{"text"}, lemma_{"lemma"}, upos_{"upos"}, xpos_{"xpos"}, feats_{"feats"};
  nb::str head_{"head"}, deprel_{"deprel"}, deps_{"deps"}, misc_{"misc"}, start_char_{"start_char"};
  nb::str end_char_{"end_char"}, manual_expansion_{"manual_expansion"}, ner_{"ner"};
  nb::str multi_ner_{"multi_ner"}, morphemes_{"morphemes"}, coref_chains_{"coref_chains"};
};

}  // namespace

nb::list token_to_dict(const Token& token) {
  nb::list entries;
  // A token's entries are its own words; the sentence's empty words are not part of it.
  EntryWriter().append_token(entries, token, [](std::int64_t) {});
  return entries;
}

nb::list sentence_to_dict(const Sentence& sentence) { return EntryWriter().sentence(sentence); }

nb::list document_to_dict(const Document& document) {
  EntryWriter writer;
  nb::list sentences;
  SentenceSequence all = document.sentences();
  for (std::uint64_t s = 0; s < all.size(); ++s)
    sentences.append(writer.sentence(all.at(static_cast<long>(s))));
  return sentences;
}

nb::dict word_to_dict(const Word& word) { return EntryWriter().word(word, std::nullopt, {}); }

nb::dict span_to_dict(const Span& span) {
  nb::dict entry;
  std::optional<std::uint32_t> start = span.start_char();
  std::optional<std::uint32_t> end = span.end_char();
  entry["text"] = to_python(span.text());
  entry["type"] = to_python(span.type());
  entry["start_char"] = start ? nb::object(nb::int_(*start)) : nb::none();
  entry["end_char"] = end ? nb::object(nb::int_(*end)) : nb::none();
  return entry;
}

}  // namespace velmora::detail
