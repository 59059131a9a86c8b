#pragma once

// Sequence arguments convert to std::vector through a tuple. Converting an item may run Python
// code (an item's __index__ or __float__, a nested sequence's __len__) that changes a list being
// read, while the binding layer reads a list's item array in place; a tuple copy owns its items
// and cannot change. Every binding file includes this header instead of nanobind's vector
// caster, so that all of them use this one.

#include <Python.h>

#include <nanobind/stl/vector.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace nanobind::detail {

template <typename Type>
struct type_caster<std::vector<Type, std::allocator<Type>>>
    : list_caster<std::vector<Type, std::allocator<Type>>, Type> {
  using Base = list_caster<std::vector<Type, std::allocator<Type>>, Type>;

  bool from_python(handle src, std::uint8_t flags, cleanup_list* cleanup) noexcept {
    if (!PyList_CheckExact(src.ptr())) return Base::from_python(src, flags, cleanup);
    object items = steal(PyList_AsTuple(src.ptr()));
    if (!items.is_valid()) {
      PyErr_Clear();
      return false;
    }
    return Base::from_python(items, flags, cleanup);
  }
};

}  // namespace nanobind::detail
