// Single-root maximum spanning tree decoding over dense arc scores.
//
// The contraction runs as a loop over one score matrix rather than as a recursion over fresh
// matrices: the node made of a contracted cycle takes over the row and column of one of its
// members, so memory stays one matrix plus a few integers per node and level however many cycles
// the greedy heads form. Node order, cycle choice and tie-breaking are those of the recursive
// formulation (contract the last cycle that Tarjan's search completes, the new node numbered after
// every remaining one), so the trees are the same.

#include "depparse/tree_decoding.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

constexpr double kImpossible = -std::numeric_limits<double>::infinity();

// The first index of the largest of `count` values read through `value(k)`; NaN never wins, so
// values without a comparable one answer 0.
template <typename Value>
std::size_t first_argmax(std::size_t count, Value value) {
  std::size_t best = 0;
  double best_value = kImpossible;
  for (std::size_t k = 0; k < count; ++k) {
    const double v = value(k);
    if (v > best_value) {
      best = k;
      best_value = v;
    }
  }
  return best;
}

// The cycle that Tarjan's strongly connected components search over the head graph (edges
// head -> dependent, dependents scanned in ascending order) completes last, in ascending
// positions; empty when the graph has none. Iterative, so long sentences cannot exhaust the stack.
class CycleFinder {
 public:
  std::vector<std::int64_t> last_cycle(const std::vector<std::int64_t>& tree) {
    const std::size_t n = tree.size();
    // Dependents of each position in ascending order, as one array cut by offsets.
    offsets_.assign(n + 1, 0);
    for (std::size_t j = 0; j < n; ++j) ++offsets_[static_cast<std::size_t>(tree[j]) + 1];
    for (std::size_t v = 0; v < n; ++v) offsets_[v + 1] += offsets_[v];
    dependents_.resize(n);
    fill_.assign(offsets_.begin(), offsets_.end() - 1);
    for (std::size_t j = 0; j < n; ++j) dependents_[fill_[static_cast<std::size_t>(tree[j])]++] = static_cast<std::int64_t>(j);

    index_.assign(n, -1);
    lowlink_.assign(n, -1);
    on_stack_.assign(n, false);
    component_stack_.clear();
    frames_.clear();
    std::vector<std::int64_t> cycle;
    std::int64_t counter = 0;
    auto enter = [&](std::int64_t v) {
      index_[v] = lowlink_[v] = counter++;
      component_stack_.push_back(v);
      on_stack_[v] = true;
      frames_.push_back({v, offsets_[static_cast<std::size_t>(v)]});
    };
    for (std::size_t start = 0; start < n; ++start) {
      if (index_[start] != -1) continue;
      enter(static_cast<std::int64_t>(start));
      while (!frames_.empty()) {
        Frame& frame = frames_.back();
        const std::int64_t v = frame.vertex;
        if (frame.next < offsets_[static_cast<std::size_t>(v) + 1]) {
          const std::int64_t j = dependents_[frame.next++];
          if (index_[j] == -1) {
            enter(j);  // `frame` may dangle from here on
          } else if (on_stack_[j]) {
            lowlink_[v] = std::min(lowlink_[v], index_[j]);
          }
          continue;
        }
        if (lowlink_[v] == index_[v]) {
          const auto top = static_cast<std::size_t>(
              std::find(component_stack_.rbegin(), component_stack_.rend(), v).base() - component_stack_.begin()) - 1;
          if (component_stack_.size() - top >= 2) cycle.assign(component_stack_.begin() + top, component_stack_.end());
          for (std::size_t k = top; k < component_stack_.size(); ++k) on_stack_[component_stack_[k]] = false;
          component_stack_.resize(top);
        }
        frames_.pop_back();
        if (!frames_.empty()) {
          const std::int64_t parent = frames_.back().vertex;
          lowlink_[parent] = std::min(lowlink_[parent], lowlink_[v]);
        }
      }
    }
    std::sort(cycle.begin(), cycle.end());
    return cycle;
  }

 private:
  struct Frame {
    std::int64_t vertex;
    std::size_t next;  // position in dependents_ to scan next
  };
  std::vector<std::size_t> offsets_;
  std::vector<std::size_t> fill_;
  std::vector<std::int64_t> dependents_;
  std::vector<std::int64_t> index_;
  std::vector<std::int64_t> lowlink_;
  std::vector<bool> on_stack_;
  std::vector<std::int64_t> component_stack_;
  std::vector<Frame> frames_;
};

// What expanding one contraction needs: the cycle's members (slots, in node order), where they
// stood in the node order, their cycle heads, and per remaining node (in node order) the member
// it best enters the cycle through and the member it best takes as its head.
struct Contraction {
  std::vector<std::int64_t> members;
  std::vector<std::size_t> positions;
  std::vector<std::int64_t> member_heads;
  std::vector<std::int32_t> best_member;
  std::vector<std::int32_t> best_head_in_cycle;
};

}  // namespace

HeadVector chu_liu_edmonds(ScoreMatrix s) {
  const std::size_t n = s.size();
  for (const auto& row : s) {
    if (row.empty()) throw DepparseModelError("cannot decode an empty score row");
    // Anything but a square matrix would be read out of bounds below.
    if (row.size() != n) throw DepparseModelError("dependency score rows must match the matrix size");
  }
  if (n == 0) return {};
  for (std::size_t i = 0; i < n; ++i) s[i][i] = kImpossible;
  std::fill(s[0].begin(), s[0].end(), kImpossible);
  s[0][0] = 0.0;

  // order: the slots (rows and columns of s) of the current nodes, in node order. head: the
  // greedy head slot of every current node.
  std::vector<std::int64_t> order(n);
  HeadVector head(n);
  for (std::size_t i = 0; i < n; ++i) {
    order[i] = static_cast<std::int64_t>(i);
    head[i] = static_cast<std::int64_t>(first_argmax(n, [&](std::size_t j) { return s[i][j]; }));
  }
  std::vector<std::size_t> position(n);
  std::vector<std::int64_t> tree;
  std::vector<bool> in_cycle(n, false);
  std::vector<std::int64_t> rest;
  std::vector<double> own;
  std::vector<double> enter_score;
  std::vector<double> leave_score;
  std::vector<Contraction> contractions;
  CycleFinder finder;

  while (true) {
    const std::size_t count = order.size();
    for (std::size_t q = 0; q < count; ++q) position[static_cast<std::size_t>(order[q])] = q;
    tree.resize(count);
    for (std::size_t q = 0; q < count; ++q) {
      tree[q] = static_cast<std::int64_t>(position[static_cast<std::size_t>(head[static_cast<std::size_t>(order[q])])]);
    }
    const std::vector<std::int64_t> cycle = finder.last_cycle(tree);
    if (cycle.empty()) break;

    Contraction& level = contractions.emplace_back();
    const std::size_t c = cycle.size();
    for (std::int64_t q : cycle) {
      const std::int64_t member = order[static_cast<std::size_t>(q)];
      level.members.push_back(member);
      level.positions.push_back(static_cast<std::size_t>(q));
      level.member_heads.push_back(head[static_cast<std::size_t>(member)]);
      in_cycle[static_cast<std::size_t>(member)] = true;
    }
    rest.clear();
    for (std::int64_t slot : order) {
      if (!in_cycle[static_cast<std::size_t>(slot)]) rest.push_back(slot);
    }
    const std::size_t r = rest.size();

    own.resize(c);
    double total = 0.0;
    for (std::size_t k = 0; k < c; ++k) {
      own[k] = s[level.members[k]][level.member_heads[k]];
      total += own[k];
    }
    enter_score.resize(r);
    leave_score.resize(r);
    level.best_member.resize(r);
    level.best_head_in_cycle.resize(r);
    for (std::size_t q = 0; q < r; ++q) {
      const auto outside = static_cast<std::size_t>(rest[q]);
      const auto score_entering = [&](std::size_t k) { return total + (s[level.members[k]][outside] - own[k]); };
      const std::size_t entering = first_argmax(c, score_entering);
      level.best_member[q] = static_cast<std::int32_t>(entering);
      enter_score[q] = score_entering(entering);
      const auto score_leaving = [&](std::size_t k) { return s[outside][level.members[k]]; };
      const std::size_t leaving = first_argmax(c, score_leaving);
      level.best_head_in_cycle[q] = static_cast<std::int32_t>(leaving);
      leave_score[q] = score_leaving(leaving);
    }

    // The cycle becomes one node, last in the order, in the first member's row and column.
    const auto node = static_cast<std::size_t>(level.members.front());
    for (std::size_t q = 0; q < r; ++q) {
      const auto outside = static_cast<std::size_t>(rest[q]);
      s[node][outside] = enter_score[q];
      s[outside][node] = leave_score[q];
    }
    s[node][node] = kImpossible;
    s[0][node] = kImpossible;  // the root takes no head
    order = rest;
    order.push_back(static_cast<std::int64_t>(node));
    // Greedy heads change only for the new node and for nodes that took a member as their head:
    // every other node's best column keeps its value and stays ahead of the appended one.
    head[node] = rest[first_argmax(r, [&](std::size_t q) { return enter_score[q]; })];
    for (std::size_t q = 1; q < r; ++q) {
      const auto outside = static_cast<std::size_t>(rest[q]);
      if (!in_cycle[static_cast<std::size_t>(head[outside])]) continue;
      head[outside] = order[first_argmax(r + 1, [&](std::size_t p) { return s[outside][order[p]]; })];
    }
    for (std::int64_t member : level.members) in_cycle[static_cast<std::size_t>(member)] = false;
  }

  // Expand the contractions from the last one back: a node that took the cycle node as its head
  // takes the member it best leaves to, the members keep their cycle heads, and the member through
  // which the cycle is best entered from the cycle node's head takes that head.
  while (!contractions.empty()) {
    const Contraction& level = contractions.back();
    const std::int64_t node = level.members.front();
    order.pop_back();  // now the remaining nodes of that level, in order
    const std::int64_t entered_from = head[static_cast<std::size_t>(node)];
    for (std::size_t q = 0; q < order.size(); ++q) {
      auto& h = head[static_cast<std::size_t>(order[q])];
      if (h == node) h = level.members[static_cast<std::size_t>(level.best_head_in_cycle[q])];
    }
    for (std::size_t k = 0; k < level.members.size(); ++k) head[level.members[k]] = level.member_heads[k];
    const auto entered_position = static_cast<std::size_t>(
        std::find(order.begin(), order.end(), entered_from) - order.begin());
    head[level.members[static_cast<std::size_t>(level.best_member[entered_position])]] = entered_from;
    // Back to that level's node order: the members return to their positions.
    for (std::size_t k = 0; k < level.members.size(); ++k) {
      order.insert(order.begin() + static_cast<std::ptrdiff_t>(level.positions[k]), level.members[k]);
    }
    contractions.pop_back();
  }
  return head;
}

HeadVector decode_single_root(ScoreMatrix scores) {
  double smallest = std::numeric_limits<double>::infinity();
  bool any_finite = false;
  for (const auto& row : scores) {
    for (double value : row) {
      if (std::isfinite(value)) {
        smallest = any_finite ? std::min(smallest, value) : value;
        any_finite = true;
      }
    }
  }
  if (!any_finite) throw DepparseModelError("dependency scores contain no finite value");

  // Lower every attachment to the root by more than any other arc can differ, so that the
  // best tree has as few root children as the scores allow.
  const auto n = static_cast<double>(scores.size());
  for (auto& row : scores) {
    if (!row.empty()) row[0] = std::fma(smallest, n, row[0]);
  }
  HeadVector heads = chu_liu_edmonds(std::move(scores));
  const auto roots = std::count(heads.begin() + (heads.empty() ? 0 : 1), heads.end(), 0);
  if (roots != 1) throw DepparseModelError("single-root dependency decoding did not produce one root");
  return heads;
}

}  // namespace velmora::detail
