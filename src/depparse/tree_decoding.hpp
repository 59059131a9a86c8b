#pragma once

// Maximum spanning arborescence over a dense score matrix (Chu-Liu/Edmonds with recursive
// cycle contraction), and the single-root decoder that penalises attachments to the root so
// that a tree with exactly one root child wins.

#include <cstdint>
#include <vector>

namespace velmora::detail {

/// Row i the dependent, column j the candidate head; position 0 is the root; -inf marks an
/// impossible arc.
using ScoreMatrix = std::vector<std::vector<double>>;
/// Element i is the head of position i; element 0 (the root) is 0.
using HeadVector = std::vector<std::int64_t>;

/// The best tree with exactly one word attached to the root. DepparseModelError when the
/// matrix holds no finite score or the tree has no single root child.
HeadVector decode_single_root(ScoreMatrix scores);

/// The maximum spanning arborescence rooted at position 0 (any number of root children).
HeadVector chu_liu_edmonds(ScoreMatrix scores);

}  // namespace velmora::detail
