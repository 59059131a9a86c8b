#pragma once

// Expected tensor sizes computed from configuration values that a bundle supplies: a product
// that does not fit 64 bits cannot be the size of a real tensor, so it becomes -1, which never
// matches one, instead of overflowing.

#include <cstdint>

namespace velmora::detail {

inline std::int64_t scaled_size(std::int64_t value, std::int64_t factor) noexcept {
  std::int64_t product = 0;
  return __builtin_mul_overflow(value, factor, &product) ? -1 : product;
}

}  // namespace velmora::detail
