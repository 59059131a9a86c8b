// The module functions: the processor table for Python callers and the native version.
#include <nanobind/stl/string.h>

#include <array>
#include <string>
#include <string_view>

#include "bindings.hpp"
#include "velmora/processor.hpp"
#include "velmora/version.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

// Whether native inference exists for a processor, decided by its name alone: coreference
// runs only through a loaded processor, so the table reports it as not implemented.
bool implemented_by_name(std::string_view name) {
  constexpr std::array<std::string_view, 10> kImplemented = {
      "langid", "tokenize", "mwt",       "pos",          "lemma",
      "depparse", "ner",    "sentiment", "constituency", "morphseg"};
  for (std::string_view implemented : kImplemented)
    if (name == implemented) return true;
  return false;
}

nb::list string_list(const std::vector<std::string>& values) {
  nb::list list;
  for (const std::string& value : values) list.append(nb::cast(value));
  return list;
}

nb::dict processor_specs_to_python() {
  nb::dict specs;
  for (const ProcessorSpec& spec : processor_specs()) {
    nb::dict entry;
    entry["requires"] = string_list(spec.requirements);
    entry["provides"] = string_list(spec.provides);
    entry["module"] = nb::cast(spec.module);
    entry["implemented"] = nb::bool_(implemented_by_name(spec.name));
    specs[nb::cast(spec.name)] = entry;
  }
  return specs;
}

}  // namespace

void define_functions(nb::module_ m) {
  m.def("processor_specs", &processor_specs_to_python);
  m.def("native_version", &velmora::native_version);
}

}  // namespace velmora::detail
