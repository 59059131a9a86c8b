#pragma once

// Conversions from stored cells to the values that views hand out.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "velmora/document_storage.hpp"

namespace velmora::detail {

/// The strings of a stored id list, in order; every id must be valid.
inline std::vector<std::string> read_strings(const StringPool& pool,
                                             const std::vector<std::uint32_t>& ids) {
  std::vector<std::string> out;
  out.reserve(ids.size());
  for (const std::uint32_t id : ids) out.push_back(pool.get(id));
  return out;
}

inline std::optional<std::uint32_t> read_offset(std::uint32_t value) {
  if (value == kNoOffset) return std::nullopt;
  return value;
}

inline std::optional<bool> read_flag(std::int8_t value) {
  if (value < 0) return std::nullopt;
  return value > 0;
}

inline std::optional<std::int32_t> read_int(std::int32_t value) {
  if (value == kNoInt) return std::nullopt;
  return value;
}

}  // namespace velmora::detail
