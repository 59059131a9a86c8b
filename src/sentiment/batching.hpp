#pragma once

// How the classifier groups sentences into network runs.

#include <cstddef>
#include <vector>

namespace velmora::detail {

/// Sentence indices in batches, given each sentence's word count: ordered longest first (equal
/// lengths keep input order) and cut greedily so that a batch holds at most `budget` words; a
/// sentence longer than the budget forms a batch of its own. The budget must be positive.
std::vector<std::vector<std::size_t>> sentiment_batches(const std::vector<std::size_t>& lengths, std::size_t budget);

}  // namespace velmora::detail
