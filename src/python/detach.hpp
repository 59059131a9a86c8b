#pragma once

// Runs model inference, subword tokenization and the pipeline with the calling thread
// detached from the interpreter. Callers convert every argument to a native value first
// and the result after, so no Python object is touched while detached; the thread
// re-attaches before any exception travels on.

#include <nanobind/nanobind.h>

#include <utility>

namespace velmora::detail {

template <class Call>
auto detached(Call&& call) {
  nanobind::gil_scoped_release release;
  return std::forward<Call>(call)();
}

}  // namespace velmora::detail
