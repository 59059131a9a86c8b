#pragma once

// Maximum spanning arborescence over a dense score matrix (Chu-Liu/Edmonds with recursive
// cycle contraction), and the single-root decoder that penalises attachments to the root so
// that a tree with exactly one root child wins.

#include <cstdint>
#include <limits>
#include <memory>
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

/// DepparseModelError unless every row of the matrix is as long as the matrix is tall.
void check_square_scores(const ScoreMatrix& scores);

/// What the single-root decoder reads of one row before it contracts anything, so that a row
/// shared by many decodings is scanned once.
struct ScoreRowSummary {
  bool any_finite = false;
  double smallest = 0.0;  // the first smallest finite value of the row as given
  /// The largest value over the columns other than 0 (the root, whose penalty differs between
  /// decodings) and the row's own position, its first column (-1 when no value is above -inf)
  /// and how many of those columns hold it.
  double best = -std::numeric_limits<double>::infinity();
  std::int64_t best_column = -1;
  std::int64_t best_count = 0;
};

/// The summary of row `position` of an n-column score matrix.
ScoreRowSummary summarize_score_row(const double* row, std::size_t n, std::size_t position);

class ArborescenceSearch;

/// Storage for a working matrix, reused while large enough; from one huge page up, in huge pages
/// where the system offers them on request: each contraction reads and writes one column across
/// all rows, which with small pages costs an address translation miss per row.
class WorkingMemory {
 public:
  WorkingMemory() = default;
  ~WorkingMemory();
  WorkingMemory(const WorkingMemory&) = delete;
  WorkingMemory& operator=(const WorkingMemory&) = delete;
  /// Room for `count` doubles (contents unspecified); std::bad_alloc when none is left.
  double* reserve(std::size_t count);

 private:
  void release();
  void* data_ = nullptr;
  std::size_t bytes_ = 0;
  bool mapped_ = false;  // a huge-page mapping rather than a heap block
};

/// Decodes single-root trees of matrices assembled from rows that many decodings share, one
/// after another, in one working matrix kept between calls. Each result, failures included, is
/// that of decode_single_root on the assembled matrix. Not for use by several threads at once.
class SingleRootDecoder {
 public:
  SingleRootDecoder();
  ~SingleRootDecoder();
  SingleRootDecoder(const SingleRootDecoder&) = delete;
  SingleRootDecoder& operator=(const SingleRootDecoder&) = delete;

  /// rows[i] points at the n scores of row i and summaries[i] at its summary (n = rows.size()).
  HeadVector decode(const std::vector<const double*>& rows, const std::vector<const ScoreRowSummary*>& summaries);

 private:
  WorkingMemory matrix_;
  std::vector<double*> row_pointers_;
  std::unique_ptr<ArborescenceSearch> search_;
};

}  // namespace velmora::detail
