// The Pipeline class: converts the Python arguments into one of the two native
// constructors, shows what the pipeline was built with, and runs text, documents or lists
// of either through it with the calling thread detached from the interpreter.
#include <nanobind/stl/filesystem.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/shared_ptr.h>
#include <nanobind/stl/string.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bindings.hpp"
#include "detach.hpp"
#include "sequence_caster.hpp"
#include "velmora/document.hpp"
#include "velmora/pipeline.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

using Packages = std::map<std::string, std::string>;

// The ASCII white space of the C locale, whatever the process locale says.
bool is_ascii_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trim_ascii_space(std::string_view piece) {
  while (!piece.empty() && is_ascii_space(piece.front())) piece.remove_prefix(1);
  while (!piece.empty() && is_ascii_space(piece.back())) piece.remove_suffix(1);
  return piece;
}

// A comma-separated text becomes its trimmed, non-empty names; a sequence of names passes
// unchanged. None matches no signature.
std::vector<std::string> processor_names(nb::handle processors) {
  if (processors.is_none()) throw nb::next_overload();
  if (!PyUnicode_Check(processors.ptr())) return nb::cast<std::vector<std::string>>(processors);
  std::string text = nb::cast<std::string>(processors);
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string_view name = trim_ascii_space(std::string_view(text).substr(start, comma - start));
    if (!name.empty()) names.emplace_back(name);
    start = comma + 1;
  }
  return names;
}

Packages package_mapping(nb::handle mapping) {
  const char* message = "package mapping processor names and package names must be strings";
  nb::object items = nb::steal(PyMapping_Items(mapping.ptr()));
  if (!items.is_valid()) {
    PyErr_Clear();
    throw nb::type_error(message);
  }
  Packages packages;
  for (nb::handle item : items) {
    // Anything but a (key, value) pair is refused like a non-string name.
    if (!PyTuple_Check(item.ptr()) || PyTuple_GET_SIZE(item.ptr()) != 2)
      throw nb::type_error(message);
    nb::handle key = PyTuple_GET_ITEM(item.ptr(), 0);
    nb::handle value = PyTuple_GET_ITEM(item.ptr(), 1);
    std::string name, package;
    if (!PyUnicode_Check(key.ptr()) || !PyUnicode_Check(value.ptr()) || !nb::try_cast(key, name) ||
        !nb::try_cast(value, package))
      throw nb::type_error(message);
    packages.emplace(std::move(name), std::move(package));  // a repeated key keeps its first value
  }
  return packages;
}

void construct_pipeline(Pipeline* self, std::string lang, nb::handle processors,
                        nb::handle package, std::optional<std::filesystem::path> model_dir,
                        std::string resources_version, bool verify_model_checksums,
                        std::vector<std::string> langid_lang_subset) {
  std::vector<std::string> names = processor_names(processors);
  if (package.is_none()) throw nb::next_overload();
  if (PyUnicode_Check(package.ptr())) {
    new (self) Pipeline(std::move(lang), std::move(names), nb::cast<std::string>(package),
                        std::move(model_dir), std::move(resources_version), verify_model_checksums,
                        std::move(langid_lang_subset));
    return;
  }
  nb::object mapping_type = nb::module_::import_("collections.abc").attr("Mapping");
  int is_mapping = PyObject_IsInstance(package.ptr(), mapping_type.ptr());
  if (is_mapping < 0) throw nb::python_error();
  if (is_mapping == 0)
    throw nb::type_error(
        "package must be a string or mapping from processor names to package names");
  new (self) Pipeline(std::move(lang), std::move(names), package_mapping(package),
                      std::move(model_dir), std::move(resources_version), verify_model_checksums,
                      std::move(langid_lang_subset));
}

nb::object package_of(const Pipeline& pipeline) {
  if (!pipeline.package_is_mapping()) return nb::cast(pipeline.package());
  nb::dict packages;
  for (const auto& [name, package] : pipeline.processor_packages())
    packages[nb::cast(name)] = nb::cast(package);
  return packages;
}

std::string pipeline_repr(const Pipeline& pipeline) {
  return "<Pipeline lang=" + pipeline.language() +
         " processors=" + std::to_string(pipeline.processors().size()) + ">";
}

// The four processing forms; documents are passed as copies of their handle.
Document process_text(const Pipeline& pipeline, std::string text) {
  return detached([&] { return pipeline.process(std::move(text)); });
}
Document process_document(const Pipeline& pipeline, const Document& document) {
  Document handle = document;
  return detached([&] { return pipeline.process(std::move(handle)); });
}
std::vector<Document> process_texts(const Pipeline& pipeline, std::vector<std::string> texts) {
  return detached([&] { return pipeline.process_bulk(std::move(texts)); });
}
std::vector<Document> process_documents(const Pipeline& pipeline, std::vector<Document> documents) {
  return detached([&] { return pipeline.process_bulk(std::move(documents)); });
}

}  // namespace

void define_pipeline(nb::module_ m) {
  nb::class_<Pipeline>(m, "Pipeline")
      .def("__init__", &construct_pipeline, nb::arg("lang"),
           nb::arg("processors") = "tokenize,mwt,pos,lemma,depparse",
           nb::arg("package") = "default", nb::arg("model_dir") = nb::none(),
           nb::arg("resources_version") = "1.14.0", nb::arg("verify_model_checksums") = false,
           nb::arg("langid_lang_subset") = std::vector<std::string>())
      .def_prop_ro("lang", &Pipeline::language)
      .def_prop_ro("package", &package_of)
      .def_prop_ro("model_dir", &Pipeline::model_dir)
      .def_prop_ro("resources_version", &Pipeline::resources_version)
      .def_prop_ro("processors", &Pipeline::processors)
      .def("process", &process_text)
      .def("process", &process_document)
      .def("process", &process_texts)
      .def("process", &process_documents)
      .def("__call__", &process_text)
      .def("bulk_process", &process_texts)
      .def("bulk_process", &process_documents)
      .def("process_many", &process_texts)
      .def("process_many", &process_documents)
      .def("__call__", &process_document)
      .def("__call__", &process_texts)
      .def("__call__", &process_documents)
      .def("__repr__", &pipeline_repr);
}

}  // namespace velmora::detail
