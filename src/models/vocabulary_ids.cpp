// Vocabulary ids against the rows of the tables they index.

#include "models/vocabulary_ids.hpp"

namespace velmora::detail {

bool vocabulary_ids_fit(const StringMap<std::int64_t>& ids, const at::Tensor& table) {
  if (table.dim() < 1) return false;
  const std::int64_t rows = table.size(0);
  for (const auto& [unit, id] : ids) {
    if (id < 0 || id >= rows) return false;
  }
  return true;
}

}  // namespace velmora::detail
