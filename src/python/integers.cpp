// Integer arguments read by hand rather than through the binding layer's caster, which
// clears any Python error the conversion raises and reports a bare cast failure instead.
#include <Python.h>

#include <cstdint>
#include <limits>

#include "conversions.hpp"

namespace nb = nanobind;

namespace velmora::detail {

std::int64_t int64_from_python(nb::handle value) {
  nb::object number;
  if (PyLong_Check(value.ptr())) {
    number = nb::borrow(value);
  } else {
    if (PyFloat_Check(value.ptr())) throw nb::cast_error();
    number = nb::steal(PyNumber_Long(value.ptr()));
    if (!number.is_valid()) throw nb::python_error();
  }
  int overflow = 0;
  long long result = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0) throw nb::cast_error();
  if (result == -1 && PyErr_Occurred()) throw nb::python_error();
  return static_cast<std::int64_t>(result);
}

std::int32_t int32_from_python(nb::handle value) {
  std::int64_t number = int64_from_python(value);
  if (number < std::numeric_limits<std::int32_t>::min() ||
      number > std::numeric_limits<std::int32_t>::max())
    throw nb::cast_error();
  return static_cast<std::int32_t>(number);
}

}  // namespace velmora::detail
