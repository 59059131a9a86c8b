#pragma once

// Whether a vocabulary's ids all name rows of the table they index. A table with as many rows
// as the vocabulary has entries can still be too short: ids may skip or repeat.

#include <cstdint>

#include <ATen/ATen.h>

#include "models/string_hash.hpp"

namespace velmora::detail {

/// True when every id lies in [0, rows of `table`) and `table` has at least one dimension.
bool vocabulary_ids_fit(const StringMap<std::int64_t>& ids, const at::Tensor& table);

}  // namespace velmora::detail
