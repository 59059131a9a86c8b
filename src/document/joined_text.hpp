#pragma once

// Text of a run of tokens that have no usable character offsets, rebuilt from their spacing.

#include <cstdint>
#include <string>

#include "velmora/document_storage.hpp"

namespace velmora::detail {

/// The texts of tokens [first, end) as they stand in running text: between two tokens the
/// first one's spaces after, then the next one's spaces before; nothing before the first
/// token or after the last. `first` must be below `end`.
inline std::string joined_token_text(const DocumentStorage& doc, std::uint32_t first,
                                     std::uint32_t end) {
  const StringPool& pool = doc.pool;
  std::string joined = pool.get(doc.token_text[first]);
  for (std::uint32_t t = first + 1; t < end; ++t) {
    joined += pool.get(doc.token_spaces_after[t - 1]);
    joined += pool.get(doc.token_spaces_before[t]);
    joined += pool.get(doc.token_text[t]);
  }
  return joined;
}

}  // namespace velmora::detail
