#include <Python.h>

#include "bindings.hpp"

namespace nb = nanobind;

namespace velmora::detail {

void define_attributes(nb::module_ m) {
  m.attr("__doc__") = "Native components of Velmora.";
  m.attr("__version__") = VELMORA_VERSION;
  // True only when this module was compiled for an interpreter without the GIL.
#ifdef Py_GIL_DISABLED
  m.attr("free_threaded_build") = true;
#else
  m.attr("free_threaded_build") = false;
#endif
}

}  // namespace velmora::detail
