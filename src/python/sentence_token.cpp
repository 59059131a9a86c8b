// The Sentence and Token views: thin wrappers over the document model's views, plus the
// dependency triples and roots of a sentence.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <string>

#include "conversions.hpp"
#include "dict_form.hpp"
#include "sequence_caster.hpp"
#include "views.hpp"
#include "velmora/document.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

// The word a head id names: the sentence's ROOT for 0, otherwise regular word head - 1. A
// negative head names no word; asking for the position past the end lets the sequence
// refuse it instead of counting from the end.
Word head_word(const Sentence& sentence, const WordSequence& words, std::int32_t head) {
  if (head == 0) return Word(sentence.storage(), kNoRow, sentence.index());
  long position = head > 0 ? static_cast<long>(head) - 1 : static_cast<long>(words.size());
  return words.at(position);
}

nb::list dependencies(const Sentence& sentence) {
  nb::list triples;
  WordSequence words = sentence.words();
  for (std::uint64_t i = 0; i < words.size(); ++i) {
    Word word = words.at(static_cast<long>(i));
    std::optional<std::int32_t> head = word.head();
    std::optional<std::string> relation = word.deprel();
    if (!head || !relation) continue;
    triples.append(nb::make_tuple(head_word(sentence, words, *head), *relation, word));
  }
  return triples;
}

nb::list roots(const Sentence& sentence) {
  nb::list result;
  WordSequence words = sentence.words();
  for (std::uint64_t i = 0; i < words.size(); ++i) {
    Word word = words.at(static_cast<long>(i));
    if (word.head() == 0) result.append(word);
  }
  return result;
}

nb::object token_id(const Token& token) {
  auto [first, last] = token.id_range();
  if (first != last) return nb::make_tuple(first, last);
  return nb::make_tuple(first);
}

}  // namespace

void define_sentence(nb::module_ m) {
  nb::class_<Sentence>(m, "Sentence")
      .def_prop_ro("index", &Sentence::index)
      .def_prop_ro("id", &Sentence::index)
      .def_prop_ro("sent_id", &Sentence::sent_id)
      .def_prop_ro("speaker", &Sentence::speaker)
      .def_prop_ro("doc_id", &Sentence::doc_id)
      .def_prop_ro("text", &Sentence::text)
      .def_prop_ro("doc", &Sentence::doc)
      .def_prop_ro("tokens", &Sentence::tokens)
      .def_prop_ro("words", &Sentence::words)
      .def_prop_ro("empty_words", &Sentence::empty_words)
      .def_prop_ro("all_words", &Sentence::all_words)
      .def_prop_ro("ents", &Sentence::ents)
      .def_prop_ro("entities", &Sentence::ents)
      .def_prop_rw("sentiment", &Sentence::sentiment, &Sentence::set_sentiment,
                   nb::arg("sentiment").none())
      .def_prop_rw("constituency", &Sentence::constituency, &Sentence::set_constituency,
                   nb::arg("constituency").none())
      .def_prop_ro("comments", &Sentence::comments)
      .def_prop_ro("dependencies", &dependencies)
      .def("get_roots", &roots)
      .def("to_dict", &sentence_to_dict)
      .def("to_conll", &Sentence::to_conll)
      .def("__format__",
           [](const Sentence& sentence, const std::string& spec) -> nb::object {
             if (selects_conll(spec)) return nb::cast(sentence.to_conll());
             return nb::repr(sentence_to_dict(sentence));
           })
      .def("__repr__",
           [](const Sentence& sentence) { return nb::repr(sentence_to_dict(sentence)); })
      .def("__eq__", &Sentence::same_view)
      .def("__hash__", [](const Sentence& sentence) {
        return identity_hash(sentence.storage().get(), sentence.index());
      });
}

void define_token(nb::module_ m) {
  nb::class_<Token>(m, "Token")
      .def_prop_ro("id", &token_id)
      .def_prop_rw("text", &Token::text, &Token::set_text)
      .def_prop_rw("misc", &Token::misc, &Token::set_misc, nb::arg("misc").none())
      .def_prop_rw("ner", &Token::ner, &Token::set_ner, nb::arg("ner").none())
      .def_prop_rw("multi_ner", &Token::multi_ner, &Token::set_multi_ner)
      .def_prop_ro("start_char", &Token::start_char)
      .def_prop_ro("end_char", &Token::end_char)
      .def_prop_rw("manual_expansion", &Token::manual_expansion, &Token::set_manual_expansion,
                   nb::arg("manual_expansion").none())
      .def_prop_rw("spaces_before", &Token::spaces_before, &Token::set_spaces_before)
      .def_prop_rw("spaces_after", &Token::spaces_after, &Token::set_spaces_after)
      .def_prop_ro("words", &Token::words)
      .def_prop_ro("sent", &Token::sent)
      .def("is_mwt", &Token::is_mwt)
      .def("to_dict", &token_to_dict)
      .def("__repr__", [](const Token& token) { return nb::repr(token_to_dict(token)); })
      .def("__eq__", &Token::same_view)
      .def("__hash__",
           [](const Token& token) { return identity_hash(token.storage().get(), token.index()); });
}

}  // namespace velmora::detail
