// The Document class: a shared handle on one document storage, read and edited from
// Python, built from and written as the dictionary form, printed as CoNLL-U or JSON text.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/shared_ptr.h>
#include <nanobind/stl/string.h>

#include <string>

#include "bindings.hpp"
#include "conversions.hpp"
#include "dict_form.hpp"
#include "sequence_caster.hpp"
#include "views.hpp"
#include "velmora/document.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace velmora::detail {

namespace {

nb::object json_text(const Document& document, bool indented) {
  nb::object dumps = nb::module_::import_("json").attr("dumps");
  if (indented) return dumps(document_to_dict(document), "ensure_ascii"_a = false, "indent"_a = 2);
  return dumps(document_to_dict(document), "ensure_ascii"_a = false);
}

void define_document(nb::module_ m) {
  nb::class_<Document>(m, "Document")
      .def(nb::init<std::string>(), nb::arg("text") = "")
      .def_static(
          "from_dict",
          [](nb::sequence sentences, nb::object text) {
            return document_from_dict(sentences, text);
          },
          nb::arg("sentences"), nb::arg("text") = nb::none())
      .def_prop_ro("text", &Document::text)
      .def_prop_ro("codepoint_count", &Document::codepoint_count)
      .def("byte_offset", &Document::byte_offset, nb::arg("codepoint_index"))
      .def_prop_rw("lang", &Document::lang, &Document::set_lang, nb::arg("lang").none())
      .def_prop_ro("sentences", &Document::sentences)
      .def_prop_ro("ents", &Document::ents)
      .def_prop_ro("entities", &Document::ents)
      .def_prop_ro("num_tokens", &Document::num_tokens)
      .def_prop_ro("num_words", &Document::num_words)
      .def_prop_rw(
          "coref",
          [](const Document& document) {
            // Each chain object shares the stored chain and keeps it alive on its own.
            nb::list chains;
            for (const auto& chain : document.coref()) chains.append(nb::cast(chain));
            return chains;
          },
          [](Document& document, const std::vector<CorefChain>& chains) {
            document.set_coref(chains);
          })
      .def("iter_words", &Document::words)
      .def("iter_tokens", &Document::tokens)
      .def("rebuild_entities", &Document::rebuild_entities)
      .def("to_dict", &document_to_dict)
      .def("to_conll", &Document::to_conll)
      .def("__format__",
           [](const Document& document, const std::string& spec) -> nb::object {
             if (selects_conll(spec)) return nb::cast(document.to_conll());
             return json_text(document, false);
           })
      .def("__repr__", [](const Document& document) { return json_text(document, true); })
      .def("__eq__", &Document::same_storage)
      .def("__hash__",
           [](const Document& document) { return identity_hash(document.storage().get()); });
}

}  // namespace

void define_documents(nb::module_ m) {
  define_document(m);
  define_sentence(m);
  define_token(m);
  define_word(m);
  define_span(m);
}

}  // namespace velmora::detail
