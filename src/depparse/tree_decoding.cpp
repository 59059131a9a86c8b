// Single-root maximum spanning tree decoding over dense arc scores.
//
// The contraction runs as a loop over one score matrix rather than as a recursion over fresh
// matrices: the node made of a contracted cycle takes over the row and column of one of its
// members, so memory stays one matrix plus a few integers per node and level however many cycles
// the greedy heads form. Node order, cycle choice and tie-breaking are those of the recursive
// formulation (contract the last cycle that Tarjan's search over the head graph completes, the new
// node numbered after every remaining one), so the trees are the same.
//
// Long sentences contract thousands of cycles, so only the new node's row and column cost a scan
// per level:
// - The cycle Tarjan's search completes last is the one whose first member comes latest in node
//   order: in a graph where every node has one head, a cycle is only reached from its own members,
//   so it completes while the search runs from its first member. Cycles are found once, by
//   following heads from the nodes whose head changed, and kept in a heap by first member.
// - A node whose best head is the only node holding its row's maximum keeps that maximum through
//   every contraction (the contracted node's column is the largest of its members'), so when its
//   head is contracted its new head is the contracted node without a rescan.
// - Expansion finds a node's dependents through lists and its place in a level's node order
//   through a Fenwick tree over creation ranks, instead of scanning the order.
//
// The repair search decodes many matrices that share all rows but a few: SingleRootDecoder reads
// such rows in place, with the greedy step's and the root penalty's scans done once per row.

#include "depparse/tree_decoding.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

constexpr double kImpossible = -std::numeric_limits<double>::infinity();

// The first index of the largest of `count` values read through `value(k)`, that value and how
// many values equal it; NaN never wins, so values without a comparable one answer index 0.
struct Argmax {
  std::size_t index = 0;
  double value = kImpossible;
  std::size_t count = 0;
  void offer(std::size_t k, double v) {
    if (v > value) {
      *this = {k, v, 1};
    } else if (v == value) {
      ++count;
    }
  }
};

template <typename Value>
Argmax first_argmax(std::size_t count, Value value) {
  Argmax best;
  for (std::size_t k = 0; k < count; ++k) best.offer(k, value(k));
  return best;
}

// Indices below a cycle's size, one per remaining node of a level, stored in the fewest bytes
// that hold them (cycles of two are the common case).
class PackedIndices {
 public:
  struct Span {
    std::size_t offset;
    std::size_t width;
  };
  Span allocate(std::size_t count, std::size_t bound) {
    const std::size_t width = bound <= 0x100 ? 1 : bound <= 0x10000 ? 2 : 4;
    const Span span{bytes_.size(), width};
    bytes_.resize(bytes_.size() + count * width);
    return span;
  }
  void set(Span span, std::size_t i, std::uint32_t value) {
    std::uint8_t* at = bytes_.data() + span.offset + i * span.width;
    if (span.width == 1) {
      *at = static_cast<std::uint8_t>(value);
    } else {
      std::memcpy(at, &value, span.width);  // the low bytes on little-endian machines
    }
  }
  std::uint32_t get(Span span, std::size_t i) const {
    const std::uint8_t* at = bytes_.data() + span.offset + i * span.width;
    if (span.width == 1) return *at;
    std::uint32_t value = 0;
    std::memcpy(&value, at, span.width);
    return value;
  }
  void clear() { bytes_.clear(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Counts of present ranks below a rank.
class RankCounts {
 public:
  void reset(std::size_t size) { tree_.assign(size + 1, 0); }
  void add(std::int64_t rank, std::int32_t delta) {
    for (auto i = static_cast<std::size_t>(rank) + 1; i < tree_.size(); i += i & (~i + 1)) tree_[i] += delta;
  }
  std::size_t below(std::int64_t rank) const {
    std::int64_t sum = 0;
    for (auto i = static_cast<std::size_t>(rank); i > 0; i -= i & (~i + 1)) sum += tree_[i];
    return static_cast<std::size_t>(sum);
  }

 private:
  std::vector<std::int32_t> tree_;
};

void refuse_without_one_root(const HeadVector& heads) {
  const auto roots = std::count(heads.begin() + (heads.empty() ? 0 : 1), heads.end(), 0);
  if (roots != 1) throw DepparseModelError("single-root dependency decoding did not produce one root");
}

// The smallest finite value of the whole matrix, folded row after row as one scan would.
struct SmallestFinite {
  bool any = false;
  double value = 0.0;
  void add(double v) {
    value = any ? std::min(value, v) : v;
    any = true;
  }
};

}  // namespace

// The contraction loop and the expansion over a prepared matrix: self-arcs and the root's row
// already set, greedy heads and their uniqueness known.
class ArborescenceSearch {
 public:
  HeadVector run(double* const* s, std::size_t n, HeadVector head, std::vector<std::uint8_t> unique) {
    contract_all(s, n, std::move(head), std::move(unique));
    return expand(std::move(final_heads_));
  }

 private:
  struct Contraction {
    std::size_t first_member;  // range of the member pools
    std::size_t members;
    std::int64_t node;            // the member whose slot the node takes
    std::int64_t node_slot_rank;  // the rank that slot held before
    PackedIndices::Span best_member;
    PackedIndices::Span best_head_in_cycle;
  };

  void contract_all(double* const* s, std::size_t n, HeadVector head, std::vector<std::uint8_t> unique) {
    n_ = n;
    order_.resize(n);
    rank_.resize(n);
    for (std::size_t i = 0; i < n; ++i) order_[i] = rank_[i] = static_cast<std::int64_t>(i);
    next_rank_ = static_cast<std::int64_t>(n);
    in_cycle_.assign(n, 0);
    pending_.assign(n, 0);
    reaches_root_.assign(n, 0);
    stamp_.assign(n, 0);
    walk_ = 0;
    heap_.clear();
    contractions_.clear();
    member_slots_.clear();
    member_heads_.clear();
    indices_.clear();

    level_first_walk_ = walk_ + 1;
    for (std::size_t v = 0; v < n; ++v) follow_heads(static_cast<std::int64_t>(v), head);

    while (!heap_.empty()) {
      std::pop_heap(heap_.begin(), heap_.end());
      const std::int64_t start = heap_.back().second;
      heap_.pop_back();
      cycle_.clear();
      std::int64_t at = start;
      do {
        cycle_.push_back(at);
        at = head[static_cast<std::size_t>(at)];
      } while (at != start);
      std::sort(cycle_.begin(), cycle_.end(), [&](std::int64_t a, std::int64_t b) { return rank_[a] < rank_[b]; });
      contract(s, head, unique);
      rank_[static_cast<std::size_t>(order_.back())] = next_rank_++;
      level_first_walk_ = walk_ + 1;
      follow_heads(order_.back(), head);
      for (std::int64_t node : changed_) follow_heads(node, head);
    }
    final_heads_ = std::move(head);
  }

  // Follows heads from `start` until the root, a known cycle, or a node already reached on this
  // level; a node met twice on the way closes a new cycle. Nodes that lead to the root keep
  // doing so: their heads are never in a cycle, so they never change.
  void follow_heads(std::int64_t start, const HeadVector& head) {
    const std::uint64_t walk = ++walk_;
    path_.clear();
    std::int64_t at = start;
    while (true) {
      const auto slot = static_cast<std::size_t>(at);
      if (at == 0 || reaches_root_[slot]) {
        for (std::int64_t p : path_) reaches_root_[static_cast<std::size_t>(p)] = 1;
        return;
      }
      if (pending_[slot]) return;
      if (stamp_[slot] == walk) {
        std::int64_t first = at;
        std::int64_t member = at;
        do {
          pending_[static_cast<std::size_t>(member)] = 1;
          if (rank_[static_cast<std::size_t>(member)] < rank_[static_cast<std::size_t>(first)]) first = member;
          member = head[static_cast<std::size_t>(member)];
        } while (member != at);
        heap_.emplace_back(rank_[static_cast<std::size_t>(first)], at);
        std::push_heap(heap_.begin(), heap_.end());
        return;
      }
      if (stamp_[slot] >= level_first_walk_) return;
      stamp_[slot] = walk;
      path_.push_back(at);
      at = head[slot];
    }
  }

  // Contracts cycle_ (members in node order) into one node in its first member's slot, placed
  // last in the node order; changed_ receives the nodes whose head moved to it.
  void contract(double* const* s, HeadVector& head, std::vector<std::uint8_t>& unique) {
    const std::size_t c = cycle_.size();
    const auto node = static_cast<std::size_t>(cycle_.front());
    Contraction& level = contractions_.emplace_back();
    level.first_member = member_slots_.size();
    level.members = c;
    level.node = static_cast<std::int64_t>(node);
    level.node_slot_rank = rank_[node];
    for (std::int64_t member : cycle_) {
      in_cycle_[static_cast<std::size_t>(member)] = 1;
      pending_[static_cast<std::size_t>(member)] = 0;
      member_slots_.push_back(member);
      member_heads_.push_back(head[static_cast<std::size_t>(member)]);
    }
    rest_.clear();
    for (std::int64_t slot : order_) {
      if (!in_cycle_[static_cast<std::size_t>(slot)]) rest_.push_back(slot);
    }
    const std::size_t r = rest_.size();

    own_.resize(c);
    member_rows_.resize(c);
    double total = 0.0;
    for (std::size_t k = 0; k < c; ++k) {
      const auto member = static_cast<std::size_t>(cycle_[k]);
      member_rows_[k] = s[member];
      own_[k] = s[member][static_cast<std::size_t>(head[member])];
      total += own_[k];
    }
    level.best_member = indices_.allocate(r, c);
    level.best_head_in_cycle = indices_.allocate(r, c);

    // The cycle becomes one node, last in the order, in the first member's row and column. Each
    // remaining node's cells of that row and column are read only while that node is handled, so
    // they are written at once.
    double* const node_row = s[node];
    const auto column_of = [&](std::size_t p) { return p < r ? static_cast<std::size_t>(rest_[p]) : node; };
    Argmax node_head;
    changed_.clear();
    // Each row is read and written at the node's column: a cache miss per row, fetched this many
    // rows ahead.
    constexpr std::size_t kAhead = 24;
    for (std::size_t q = 0; q < r; ++q) {
      const auto outside = static_cast<std::size_t>(rest_[q]);
      if (q + kAhead < r) __builtin_prefetch(s[static_cast<std::size_t>(rest_[q + kAhead])] + node, 1);
      const auto score_entering = [&](std::size_t k) { return total + (member_rows_[k][outside] - own_[k]); };
      const Argmax entering = first_argmax(c, score_entering);
      const double enter_score = score_entering(entering.index);
      double* const outside_row = s[outside];
      const Argmax leaving = first_argmax(c, [&](std::size_t k) { return outside_row[cycle_[k]]; });
      const double leave_score = outside_row[cycle_[leaving.index]];
      indices_.set(level.best_member, q, static_cast<std::uint32_t>(entering.index));
      indices_.set(level.best_head_in_cycle, q, static_cast<std::uint32_t>(leaving.index));
      node_row[outside] = enter_score;
      outside_row[node] = leave_score;
      node_head.offer(q, enter_score);
      // Greedy heads change only for nodes that took a member as their head: every other node's
      // best column keeps its value and stays ahead of the appended one.
      if (q == 0 || !in_cycle_[static_cast<std::size_t>(head[outside])]) continue;
      if (unique[outside]) {
        head[outside] = static_cast<std::int64_t>(node);
      } else {
        const Argmax best = first_argmax(r + 1, [&](std::size_t p) { return outside_row[column_of(p)]; });
        head[outside] = static_cast<std::int64_t>(column_of(best.index));
        unique[outside] = best.count == 1;
      }
      changed_.push_back(static_cast<std::int64_t>(outside));
    }
    node_row[node] = kImpossible;
    s[0][node] = kImpossible;  // the root takes no head
    head[node] = rest_[node_head.index];
    unique[node] = node_head.count == 1;
    for (std::int64_t member : cycle_) in_cycle_[static_cast<std::size_t>(member)] = 0;
    order_.swap(rest_);
    order_.push_back(static_cast<std::int64_t>(node));
  }

  // Expands the contractions from the last one back: a node that took the cycle node as its head
  // takes the member it best leaves to, the members keep their cycle heads, and the member through
  // which the cycle is best entered from the cycle node's head takes that head. A node's place in
  // a level's order is the number of that level's nodes created before it.
  HeadVector expand(HeadVector head) {
    const std::size_t n = n_;
    slot_rank_ = rank_;
    counts_.reset(static_cast<std::size_t>(next_rank_));
    first_dependent_.assign(n, -1);
    next_dependent_.assign(n, -1);
    previous_dependent_.assign(n, -1);
    // Only the nodes of the level being expanded are in the dependent lists: a cycle member
    // joins its head's list when its cycle is expanded, so no list is scanned past members of
    // cycles still contracted.
    for (std::int64_t slot : order_) {
      counts_.add(rank_[static_cast<std::size_t>(slot)], 1);
      if (slot != 0) link(slot, head[static_cast<std::size_t>(slot)]);
    }
    const auto set_head = [&](std::int64_t x, std::int64_t h) {
      auto& current = head[static_cast<std::size_t>(x)];
      if (current == h) return;
      unlink(x, current);
      current = h;
      link(x, h);
    };

    for (std::size_t t = contractions_.size(); t-- > 0;) {
      const Contraction& level = contractions_[t];
      const std::int64_t* members = member_slots_.data() + level.first_member;
      const std::int64_t node = level.node;
      const auto node_slot = static_cast<std::size_t>(node);
      counts_.add(slot_rank_[node_slot], -1);
      const std::int64_t entered_from = head[node_slot];
      dependents_.clear();
      for (std::int64_t x = first_dependent_[node_slot]; x != -1; x = next_dependent_[static_cast<std::size_t>(x)]) {
        dependents_.push_back(x);
      }
      for (std::int64_t x : dependents_) {
        set_head(x, members[indices_.get(level.best_head_in_cycle, counts_.below(slot_rank_[static_cast<std::size_t>(x)]))]);
      }
      const std::size_t entered_position = counts_.below(slot_rank_[static_cast<std::size_t>(entered_from)]);
      slot_rank_[node_slot] = level.node_slot_rank;
      for (std::size_t k = 0; k < level.members; ++k) {
        const std::int64_t member = members[k];
        const std::int64_t cycle_head = member_heads_[level.first_member + k];
        if (member == node) {
          set_head(member, cycle_head);
        } else {
          head[static_cast<std::size_t>(member)] = cycle_head;
          link(member, cycle_head);
        }
        counts_.add(slot_rank_[static_cast<std::size_t>(member)], 1);
      }
      set_head(members[indices_.get(level.best_member, entered_position)], entered_from);
    }
    return head;
  }

  void link(std::int64_t x, std::int64_t h) {
    const auto xs = static_cast<std::size_t>(x);
    const auto hs = static_cast<std::size_t>(h);
    previous_dependent_[xs] = -1;
    next_dependent_[xs] = first_dependent_[hs];
    if (first_dependent_[hs] != -1) previous_dependent_[static_cast<std::size_t>(first_dependent_[hs])] = x;
    first_dependent_[hs] = x;
  }
  void unlink(std::int64_t x, std::int64_t h) {
    const auto xs = static_cast<std::size_t>(x);
    if (previous_dependent_[xs] != -1) {
      next_dependent_[static_cast<std::size_t>(previous_dependent_[xs])] = next_dependent_[xs];
    } else {
      first_dependent_[static_cast<std::size_t>(h)] = next_dependent_[xs];
    }
    if (next_dependent_[xs] != -1) previous_dependent_[static_cast<std::size_t>(next_dependent_[xs])] = previous_dependent_[xs];
  }

  std::size_t n_ = 0;
  std::vector<std::int64_t> order_;  // slots of the current nodes, in node order
  std::vector<std::int64_t> rank_;   // per slot, its node's place in the order of creation
  std::int64_t next_rank_ = 0;
  std::vector<std::uint8_t> in_cycle_;
  std::vector<std::uint8_t> pending_;  // member of a cycle found and not yet contracted
  std::vector<std::uint8_t> reaches_root_;
  std::vector<std::uint64_t> stamp_;  // the last walk that reached the slot
  std::uint64_t walk_ = 0;
  std::uint64_t level_first_walk_ = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> heap_;  // (rank of first member, a member)
  std::vector<std::int64_t> path_;
  std::vector<std::int64_t> cycle_;
  std::vector<std::int64_t> rest_;
  std::vector<std::int64_t> changed_;
  std::vector<double> own_;
  std::vector<const double*> member_rows_;
  std::vector<Contraction> contractions_;
  std::vector<std::int64_t> member_slots_;
  std::vector<std::int64_t> member_heads_;
  PackedIndices indices_;
  HeadVector final_heads_;
  // Expansion.
  std::vector<std::int64_t> slot_rank_;
  RankCounts counts_;
  std::vector<std::int64_t> first_dependent_;
  std::vector<std::int64_t> next_dependent_;
  std::vector<std::int64_t> previous_dependent_;
  std::vector<std::int64_t> dependents_;
};

void check_square_scores(const ScoreMatrix& scores) {
  for (const auto& row : scores) {
    if (row.empty()) throw DepparseModelError("cannot decode an empty score row");
    // Anything but a square matrix would be read out of bounds.
    if (row.size() != scores.size()) throw DepparseModelError("dependency score rows must match the matrix size");
  }
}

HeadVector chu_liu_edmonds(ScoreMatrix s) {
  check_square_scores(s);
  const std::size_t n = s.size();
  if (n == 0) return {};
  for (std::size_t i = 0; i < n; ++i) s[i][i] = kImpossible;
  std::fill(s[0].begin(), s[0].end(), kImpossible);
  s[0][0] = 0.0;
  HeadVector head(n);
  std::vector<std::uint8_t> unique(n);
  std::vector<double*> rows(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Argmax best = first_argmax(n, [&](std::size_t j) { return s[i][j]; });
    head[i] = static_cast<std::int64_t>(best.index);
    unique[i] = best.count == 1;
    rows[i] = s[i].data();
  }
  return ArborescenceSearch().run(rows.data(), n, std::move(head), std::move(unique));
}

HeadVector decode_single_root(ScoreMatrix scores) {
  SmallestFinite smallest;
  for (const auto& row : scores) {
    for (double value : row) {
      if (std::isfinite(value)) smallest.add(value);
    }
  }
  if (!smallest.any) throw DepparseModelError("dependency scores contain no finite value");

  // Lower every attachment to the root by more than any other arc can differ, so that the
  // best tree has as few root children as the scores allow.
  const auto n = static_cast<double>(scores.size());
  for (auto& row : scores) {
    if (!row.empty()) row[0] = std::fma(smallest.value, n, row[0]);
  }
  HeadVector heads = chu_liu_edmonds(std::move(scores));
  refuse_without_one_root(heads);
  return heads;
}

ScoreRowSummary summarize_score_row(const double* row, std::size_t n, std::size_t position) {
  ScoreRowSummary summary;
  SmallestFinite smallest;
  for (std::size_t j = 0; j < n; ++j) {
    if (std::isfinite(row[j])) smallest.add(row[j]);
  }
  summary.any_finite = smallest.any;
  summary.smallest = smallest.value;
  for (std::size_t j = 1; j < n; ++j) {
    if (j == position) continue;
    if (row[j] > summary.best) {
      summary.best = row[j];
      summary.best_column = static_cast<std::int64_t>(j);
      summary.best_count = 1;
    } else if (row[j] == summary.best && summary.best_column >= 0) {
      ++summary.best_count;
    }
  }
  return summary;
}

WorkingMemory::~WorkingMemory() { release(); }

void WorkingMemory::release() {
  if (data_ == nullptr) return;
#ifdef __linux__
  if (mapped_) munmap(data_, bytes_);
#endif
  if (!mapped_) ::operator delete(data_);
  data_ = nullptr;
  bytes_ = 0;
  mapped_ = false;
}

double* WorkingMemory::reserve(std::size_t count) {
  const std::size_t needed = std::max<std::size_t>(count, 1) * sizeof(double);
  if (needed <= bytes_) return static_cast<double*>(data_);
  release();
#ifdef __linux__
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  // A matrix smaller than one huge page fits the translation cache anyway: the heap serves it
  // without a mapping, and without zeroing a whole huge page, for the short sentences of most calls.
  if (needed < kHugePage) {
    data_ = ::operator new(needed);
    bytes_ = needed;
    return static_cast<double*>(data_);
  }
  const std::size_t bytes = (needed + kHugePage - 1) / kHugePage * kHugePage;
  // One huge page more than needed, so that an aligned part can be kept and the rest returned.
  void* mapped = mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto address = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (address + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > address) munmap(mapped, aligned - address);
  munmap(reinterpret_cast<void*>(aligned + bytes), address + kHugePage - aligned);
  data_ = reinterpret_cast<void*>(aligned);
  bytes_ = bytes;
  mapped_ = true;
  madvise(data_, bytes_, MADV_HUGEPAGE);  // a hint: the matrix works in small pages too
#else
  data_ = ::operator new(needed);
  bytes_ = needed;
#endif
  return static_cast<double*>(data_);
}

SingleRootDecoder::SingleRootDecoder() : search_(std::make_unique<ArborescenceSearch>()) {}
SingleRootDecoder::~SingleRootDecoder() = default;

HeadVector SingleRootDecoder::decode(const std::vector<const double*>& rows,
                                     const std::vector<const ScoreRowSummary*>& summaries) {
  const std::size_t n = rows.size();
  SmallestFinite smallest;
  for (const ScoreRowSummary* summary : summaries) {
    if (summary->any_finite) smallest.add(summary->smallest);
  }
  if (!smallest.any) throw DepparseModelError("dependency scores contain no finite value");

  // The matrix decode_single_root would hand to chu_liu_edmonds: root column penalised, no
  // self-attachment, the root's own row fixed.
  double* const matrix = matrix_.reserve(n * n);
  row_pointers_.resize(n);
  const double penalty_rows = static_cast<double>(n);
  HeadVector head(n, 0);
  std::vector<std::uint8_t> unique(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    double* row = matrix + i * n;
    row_pointers_[i] = row;
    if (i == 0) {
      std::fill(row, row + n, kImpossible);
      row[0] = 0.0;
      unique[0] = 1;
      continue;
    }
    std::copy(rows[i], rows[i] + n, row);
    row[0] = std::fma(smallest.value, penalty_rows, row[0]);
    row[i] = kImpossible;
    // The greedy head is the first column of the row's largest value: the root when its penalised
    // score is at least the best of the other columns.
    const ScoreRowSummary& summary = *summaries[i];
    const double root = row[0];
    if (summary.best_column >= 0 && !(root > kImpossible && root >= summary.best)) {
      head[i] = summary.best_column;
      unique[i] = summary.best_count == 1;
    } else if (root > kImpossible) {
      unique[i] = summary.best_column >= 0 && root == summary.best ? 0 : 1;
    }
  }
  HeadVector heads = search_->run(row_pointers_.data(), n, std::move(head), std::move(unique));
  refuse_without_one_root(heads);
  return heads;
}

}  // namespace velmora::detail
