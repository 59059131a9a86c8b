#pragma once

// Conversions shared by several families of bindings.

#include <nanobind/nanobind.h>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "velmora/coref_values.hpp"

namespace velmora::detail {

/// An integer argument: an `int` (or subclass), or any object but a float that `int()`
/// accepts. A Python error raised while converting (by `__index__`, `__int__` or the string
/// parser) propagates as that error; a value outside the target type is a cast failure.
std::int64_t int64_from_python(nanobind::handle value);
std::int32_t int32_from_python(nanobind::handle value);

/// The dictionary of one coreference attachment: "index", "representative_text", then
/// each of "is_start", "is_end" and "is_representative" only when its flag is set.
nanobind::dict coref_attachment_to_json(const CorefAttachment& attachment);

/// A hash that agrees with identity-based equality: the shared object a handle points to,
/// combined with the row (and sentence) of a view.
inline std::size_t identity_hash(const void* object, std::uint64_t row = 0,
                                 std::uint64_t sentence = 0) {
  std::size_t hash = std::hash<const void*>{}(object);
  for (std::uint64_t part : {row, sentence})
    hash ^= std::hash<std::uint64_t>{}(part) + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
  return hash;
}

}  // namespace velmora::detail
