#include <nanobind/stl/string.h>

#include "bindings.hpp"
#include "velmora/version.hpp"

namespace nb = nanobind;

namespace velmora::detail {

void define_functions(nb::module_ m) { m.def("native_version", &velmora::native_version); }

}  // namespace velmora::detail
