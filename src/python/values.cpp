// Coreference values and constituency trees: immutable values that Python can build and
// hand to documents, and that documents hand back sharing their stored chains and nodes.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/shared_ptr.h>
#include <nanobind/stl/string.h>

#include <memory>
#include <string>

#include "bindings.hpp"
#include "conversions.hpp"
#include "sequence_caster.hpp"
#include "velmora/constituency_tree.hpp"
#include "velmora/coref_values.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

// A plain int is a boundary between regular words; a pair (N, M) names the empty word N.M.
CorefWordPosition word_position_from_python(nb::handle position) {
  if (PyLong_Check(position.ptr()))
    return CorefWordPosition{int32_from_python(position), std::nullopt};
  Py_ssize_t length = PyObject_Length(position.ptr());
  if (length < 0) throw nb::python_error();
  if (length != 2)
    throw std::invalid_argument("a zero-anaphora word position must contain two integers");
  nb::object word = nb::steal(PySequence_GetItem(position.ptr(), 0));
  if (!word.is_valid()) throw nb::python_error();
  nb::object empty_index = nb::steal(PySequence_GetItem(position.ptr(), 1));
  if (!empty_index.is_valid()) throw nb::python_error();
  return CorefWordPosition{int32_from_python(word), int32_from_python(empty_index)};
}

nb::object word_position_to_python(const CorefWordPosition& position) {
  if (position.empty_index) return nb::make_tuple(position.word, *position.empty_index);
  return nb::int_(position.word);
}

void define_coref_mention(nb::module_ m) {
  nb::class_<CorefMention>(m, "CorefMention")
      .def(
          "__init__",
          [](CorefMention* self, int sentence, nb::handle start_word, nb::handle end_word) {
            CorefWordPosition start = word_position_from_python(start_word);
            CorefWordPosition end = word_position_from_python(end_word);
            new (self) CorefMention(sentence, start, end);
          },
          nb::arg("sentence"), nb::arg("start_word"), nb::arg("end_word"))
      .def_prop_ro("sentence", &CorefMention::sentence)
      .def_prop_ro("start_word",
                   [](const CorefMention& mention) {
                     return word_position_to_python(mention.start_word());
                   })
      .def_prop_ro("end_word",
                   [](const CorefMention& mention) {
                     return word_position_to_python(mention.end_word());
                   })
      .def("__repr__", [](const CorefMention& mention) {
        return "<CorefMention sentence=" + std::to_string(mention.sentence()) + ">";
      });
}

void define_coref_chain(nb::module_ m) {
  nb::class_<CorefChain>(m, "CorefChain")
      .def(nb::init<int, std::vector<CorefMention>, std::string, std::optional<int>>(),
           nb::arg("index"), nb::arg("mentions"), nb::arg("representative_text"),
           nb::arg("representative_index") = nb::none())
      .def_prop_ro("index", &CorefChain::index)
      .def_prop_ro("mentions",
                   [](nb::handle self) {
                     // Each mention refers into this chain object and keeps it alive.
                     const auto& chain = nb::cast<const CorefChain&>(self);
                     nb::list mentions;
                     for (const CorefMention& mention : chain.mentions())
                       mentions.append(nb::cast(&mention, nb::rv_policy::reference_internal, self));
                     return mentions;
                   })
      .def_prop_ro("representative_text", &CorefChain::representative_text)
      .def_prop_ro("representative_index", &CorefChain::representative_index)
      .def("__repr__", [](const CorefChain& chain) {
        return "<CorefChain index=" + std::to_string(chain.index()) +
               " representative=" + chain.representative_text() + ">";
      });
}

void define_coref_attachment(nb::module_ m) {
  nb::class_<CorefAttachment>(m, "CorefAttachment")
      .def(
          "__init__",
          [](CorefAttachment* self, const CorefChain& chain, bool is_start, bool is_end,
             bool is_representative) {
            new (self) CorefAttachment(std::make_shared<const CorefChain>(chain), is_start,
                                       is_end, is_representative);
          },
          nb::arg("chain"), nb::arg("is_start"), nb::arg("is_end"), nb::arg("is_representative"))
      .def_prop_ro("chain", [](const CorefAttachment& attachment) { return attachment.chain(); })
      .def_prop_ro("is_start", &CorefAttachment::is_start)
      .def_prop_ro("is_end", &CorefAttachment::is_end)
      .def_prop_ro("is_representative", &CorefAttachment::is_representative)
      .def("to_json", &coref_attachment_to_json)
      .def("__repr__", [](const CorefAttachment& attachment) {
        return "<CorefAttachment chain=" + std::to_string(attachment.chain()->index()) + ">";
      });
}

void define_constituency_tree(nb::module_ m) {
  nb::class_<ConstituencyTree>(m, "ConstituencyTree")
      .def(nb::init<std::string, std::vector<ConstituencyTree>>(), nb::arg("label"),
           nb::arg("children") = nb::list())
      .def_prop_ro("label", &ConstituencyTree::label)
      .def_prop_ro("children", &ConstituencyTree::children)
      .def("is_leaf", &ConstituencyTree::is_leaf)
      .def("is_preterminal", &ConstituencyTree::is_preterminal)
      .def("leaf_labels", &ConstituencyTree::leaf_labels)
      .def("__len__", [](const ConstituencyTree& tree) { return tree.leaf_labels().size(); })
      .def("__str__", &ConstituencyTree::to_string)
      .def("__repr__", &ConstituencyTree::to_string)
      .def("__eq__", &ConstituencyTree::same_node)
      .def("__hash__",
           [](const ConstituencyTree& tree) { return identity_hash(tree.node().get()); });
}

}  // namespace

nb::dict coref_attachment_to_json(const CorefAttachment& attachment) {
  nb::dict json;
  json["index"] = attachment.chain()->index();
  json["representative_text"] = attachment.chain()->representative_text();
  if (attachment.is_start()) json["is_start"] = true;
  if (attachment.is_end()) json["is_end"] = true;
  if (attachment.is_representative()) json["is_representative"] = true;
  return json;
}

void define_values(nb::module_ m) {
  define_coref_mention(m);
  define_coref_chain(m);
  define_coref_attachment(m);
  define_constituency_tree(m);
}

}  // namespace velmora::detail
