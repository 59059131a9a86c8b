// The Word and Span views: thin wrappers over the document model's views. Every check (the
// immutable synthetic ROOT word, rows that no longer exist) belongs to the views themselves.
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

nb::object word_id(const Word& word) {
  std::optional<std::int32_t> empty_index = word.empty_index();
  if (empty_index) return nb::make_tuple(word.id(), *empty_index);
  return nb::int_(word.id());
}

std::string pretty_print(const Span& span) {
  return "<Span text=" + span.text() + ";type=" + span.type() + ">";
}

}  // namespace

void define_word(nb::module_ m) {
  nb::class_<Word>(m, "Word")
      .def_prop_ro("id", &word_id)
      .def_prop_rw("text", &Word::text, &Word::set_text)
      .def_prop_rw("lemma", &Word::lemma, &Word::set_lemma, nb::arg("lemma").none())
      .def_prop_rw("upos", &Word::upos, &Word::set_upos, nb::arg("upos").none())
      .def_prop_rw("pos", &Word::upos, &Word::set_upos, nb::arg("pos").none())
      .def_prop_rw("xpos", &Word::xpos, &Word::set_xpos, nb::arg("xpos").none())
      .def_prop_rw("feats", &Word::feats, &Word::set_feats, nb::arg("feats").none())
      .def_prop_rw("head", &Word::head, &Word::set_head, nb::arg("head").none())
      .def_prop_rw("deprel", &Word::deprel, &Word::set_deprel, nb::arg("deprel").none())
      .def_prop_rw("deps", &Word::deps, &Word::set_deps, nb::arg("deps").none())
      .def_prop_rw("misc", &Word::misc, &Word::set_misc, nb::arg("misc").none())
      .def_prop_ro("start_char", &Word::start_char)
      .def_prop_ro("end_char", &Word::end_char)
      .def_prop_ro("manual_expansion", &Word::manual_expansion)
      .def_prop_rw("morphemes", &Word::morphemes, &Word::set_morphemes)
      .def_prop_ro("coref_chains", &Word::coref_chains)
      .def_prop_ro("parent", &Word::parent)
      .def_prop_ro("sent", &Word::sent)
      .def("to_dict", &word_to_dict)
      .def("__repr__", [](const Word& word) { return nb::repr(word_to_dict(word)); })
      .def("__eq__", &Word::same_view)
      .def("__hash__",
           [](const Word& word) { return identity_hash(word.storage().get(), word.index()); });
}

void define_span(nb::module_ m) {
  nb::class_<Span>(m, "Span")
      .def_prop_ro("text", &Span::text)
      .def_prop_ro("type", &Span::type)
      .def_prop_ro("start_char", &Span::start_char)
      .def_prop_ro("end_char", &Span::end_char)
      .def_prop_ro("tokens", &Span::tokens)
      .def_prop_ro("words", &Span::words)
      .def_prop_ro("sent", &Span::sent)
      .def_prop_ro("doc", &Span::doc)
      .def("to_dict", &span_to_dict)
      .def("pretty_print", &pretty_print)
      .def("__repr__", [](const Span& span) { return nb::repr(span_to_dict(span)); })
      .def("__eq__", &Span::same_view)
      .def("__hash__",
           [](const Span& span) { return identity_hash(span.storage().get(), span.index()); });
}

}  // namespace velmora::detail
