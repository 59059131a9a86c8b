// Python sequences over documents and trees: read-only views with negative indices,
// stepped and reversed slices, iteration and membership by identity. Each iterator class
// is registered just before its sequence class.
#include <nanobind/stl/string.h>

#include <climits>
#include <cstdint>
#include <string>

#include "bindings.hpp"
#include "velmora/constituency_tree.hpp"
#include "velmora/document.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

// An iterator holds its own copy of the sequence (sharing the storage or the nodes) and
// the position of the next element.
template <class Sequence, class Element>
struct ViewIterator {
  Sequence sequence;
  std::uint64_t position = 0;
};

// A Python int that does not fit a C long lies outside every sequence; saturating keeps
// the sequence's own "outside the sequence" error for it.
long sequence_index(const nb::int_& index) {
  int overflow = 0;
  long value = PyLong_AsLongAndOverflow(index.ptr(), &overflow);
  if (overflow > 0) return LONG_MAX;
  if (overflow < 0) return LONG_MIN;
  if (value == -1 && PyErr_Occurred()) throw nb::python_error();
  return value;
}

template <class Sequence, class Element>
void define_sequence(nb::module_ m, const char* iterator_name, const char* sequence_name) {
  using Iterator = ViewIterator<Sequence, Element>;
  nb::class_<Iterator>(m, iterator_name)
      .def("__iter__", [](nb::handle self) { return nb::borrow(self); })
      .def("__next__", [](Iterator& iterator) -> Element {
        if (iterator.position >= iterator.sequence.size()) throw nb::stop_iteration("");
        std::uint64_t position = iterator.position++;
        return iterator.sequence.at(static_cast<long>(position));
      });

  std::string repr_prefix = std::string("<velmora.") + sequence_name + " length=";
  nb::class_<Sequence>(m, sequence_name)
      .def("__len__", [](const Sequence& sequence) { return sequence.size(); })
      .def("__getitem__",
           [](const Sequence& sequence, const nb::int_& index) {
             return sequence.at(sequence_index(index));
           })
      .def("__getitem__",
           [](const Sequence& sequence, const nb::slice& slice) {
             auto [start, stop, step, length] = slice.compute(sequence.size());
             return sequence.slice(start, step, length);
           })
      .def("__iter__", [](const Sequence& sequence) { return Iterator{sequence, 0}; })
      .def("__reversed__",
           [](const Sequence& sequence) { return Iterator{sequence.reversed(), 0}; })
      .def("__contains__", [](const Sequence& sequence, const Element& element) {
        return sequence.contains(element);
      })
      .def("__repr__", [repr_prefix](const Sequence& sequence) {
        return repr_prefix + std::to_string(sequence.size()) + ">";
      });
}

}  // namespace

void define_sequences(nb::module_ m) {
  define_sequence<SentenceSequence, Sentence>(m, "_SentenceIterator", "SentenceSequence");
  define_sequence<TokenSequence, Token>(m, "_TokenIterator", "TokenSequence");
  define_sequence<WordSequence, Word>(m, "_WordIterator", "WordSequence");
  define_sequence<SpanSequence, Span>(m, "_SpanIterator", "SpanSequence");
  define_sequence<TreeSequence, ConstituencyTree>(m, "_TreeIterator", "TreeSequence");
}

}  // namespace velmora::detail
