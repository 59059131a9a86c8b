#include "sentiment/batching.hpp"

#include <algorithm>
#include <numeric>

namespace velmora::detail {

std::vector<std::vector<std::size_t>> sentiment_batches(const std::vector<std::size_t>& lengths, std::size_t budget) {
  // Longest first keeps each batch's padded length close to its sentences' lengths.
  std::vector<std::size_t> order(lengths.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return lengths[a] > lengths[b]; });
  std::vector<std::vector<std::size_t>> batches;
  std::size_t words = 0;
  for (std::size_t index : order) {
    if (batches.empty() || words + lengths[index] > budget) {
      batches.emplace_back();
      words = 0;
    }
    batches.back().push_back(index);
    words += lengths[index];
  }
  return batches;
}

}  // namespace velmora::detail
