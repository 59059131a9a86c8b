// Single-root maximum spanning tree decoding over dense arc scores.

#include "depparse/tree_decoding.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

constexpr double kImpossible = -std::numeric_limits<double>::infinity();

// The first index of the largest value; NaN never wins, so a row without a comparable value
// answers 0.
std::size_t first_argmax(const std::vector<double>& values) {
  std::size_t best = 0;
  double best_value = kImpossible;
  for (std::size_t j = 0; j < values.size(); ++j) {
    if (values[j] > best_value) {
      best = j;
      best_value = values[j];
    }
  }
  return best;
}

// Every cycle of the head graph (edges head -> dependent), in the order Tarjan's algorithm
// completes their strongly connected components. Iterative, so long sentences cannot exhaust
// the stack.
std::vector<std::vector<std::int64_t>> find_cycles(const HeadVector& tree) {
  const auto n = static_cast<std::int64_t>(tree.size());
  std::vector<std::vector<std::int64_t>> dependents(static_cast<std::size_t>(n));
  for (std::int64_t j = 0; j < n; ++j) dependents[static_cast<std::size_t>(tree[j])].push_back(j);

  std::vector<std::int64_t> index(tree.size(), -1);
  std::vector<std::int64_t> lowlink(tree.size(), -1);
  std::vector<bool> on_stack(tree.size(), false);
  std::vector<std::int64_t> component_stack;
  std::vector<std::vector<std::int64_t>> cycles;
  std::int64_t counter = 0;

  struct Frame {
    std::int64_t vertex;
    std::size_t next;  // position in the vertex's dependents to scan next
  };
  std::vector<Frame> frames;
  auto enter = [&](std::int64_t v) {
    index[v] = lowlink[v] = counter++;
    component_stack.push_back(v);
    on_stack[v] = true;
    frames.push_back({v, 0});
  };

  for (std::int64_t start = 0; start < n; ++start) {
    if (index[start] != -1) continue;
    enter(start);
    while (!frames.empty()) {
      Frame& frame = frames.back();
      const std::int64_t v = frame.vertex;
      const auto& children = dependents[static_cast<std::size_t>(v)];
      if (frame.next < children.size()) {
        const std::int64_t j = children[frame.next++];
        if (index[j] == -1) {
          enter(j);  // `frame` may dangle from here on
        } else if (on_stack[j]) {
          lowlink[v] = std::min(lowlink[v], index[j]);
        }
        continue;
      }
      if (lowlink[v] == index[v]) {
        std::vector<std::int64_t> component;
        std::int64_t popped = -1;
        while (popped != v) {
          popped = component_stack.back();
          component_stack.pop_back();
          on_stack[popped] = false;
          component.push_back(popped);
        }
        if (component.size() >= 2) cycles.push_back(std::move(component));
      }
      frames.pop_back();
      if (!frames.empty()) {
        const std::int64_t parent = frames.back().vertex;
        lowlink[parent] = std::min(lowlink[parent], lowlink[v]);
      }
    }
  }
  return cycles;
}

}  // namespace

HeadVector chu_liu_edmonds(ScoreMatrix s) {
  const std::size_t n = s.size();
  for (const auto& row : s) {
    if (row.empty()) throw DepparseModelError("cannot decode an empty score row");
    // Anything but a square matrix would be read out of bounds below.
    if (row.size() != n) throw DepparseModelError("dependency score rows must match the matrix size");
  }
  for (std::size_t i = 0; i < n; ++i) s[i][i] = kImpossible;
  std::fill(s[0].begin(), s[0].end(), kImpossible);
  s[0][0] = 0.0;

  HeadVector tree(n);
  for (std::size_t i = 0; i < n; ++i) tree[i] = static_cast<std::int64_t>(first_argmax(s[i]));

  const std::vector<std::vector<std::int64_t>> cycles = find_cycles(tree);
  if (cycles.empty()) return tree;

  std::vector<std::int64_t> cycle = cycles.back();
  std::sort(cycle.begin(), cycle.end());
  std::vector<bool> in_cycle(n, false);
  for (std::int64_t member : cycle) in_cycle[static_cast<std::size_t>(member)] = true;
  std::vector<std::int64_t> rest;
  for (std::size_t i = 0; i < n; ++i) {
    if (!in_cycle[i]) rest.push_back(static_cast<std::int64_t>(i));
  }
  const std::size_t c = cycle.size();
  const std::size_t r = rest.size();

  std::vector<double> own(c);
  double total = 0.0;
  for (std::size_t k = 0; k < c; ++k) {
    own[k] = s[cycle[k]][tree[cycle[k]]];
    total += own[k];
  }

  // For each outside position q: which member best takes q as its head (entering), and which
  // member q best takes as its head (leaving).
  std::vector<std::size_t> best_member(r);
  std::vector<std::size_t> best_head_in_cycle(r);
  std::vector<double> enter_score(r);
  std::vector<double> leave_score(r);
  std::vector<double> scratch(c);
  for (std::size_t q = 0; q < r; ++q) {
    for (std::size_t k = 0; k < c; ++k) scratch[k] = total + (s[cycle[k]][rest[q]] - own[k]);
    best_member[q] = first_argmax(scratch);
    enter_score[q] = scratch[best_member[q]];
    for (std::size_t k = 0; k < c; ++k) scratch[k] = s[rest[q]][cycle[k]];
    best_head_in_cycle[q] = first_argmax(scratch);
    leave_score[q] = scratch[best_head_in_cycle[q]];
  }

  ScoreMatrix z(r + 1, std::vector<double>(r + 1, 0.0));
  for (std::size_t q = 0; q < r; ++q) {
    for (std::size_t p = 0; p < r; ++p) z[q][p] = s[rest[q]][rest[p]];
    z[q][r] = leave_score[q];
    z[r][q] = enter_score[q];
  }
  const HeadVector contracted = chu_liu_edmonds(std::move(z));

  HeadVector heads(n, -1);
  for (std::size_t q = 0; q < r; ++q) {
    const auto head = static_cast<std::size_t>(contracted[q]);
    heads[rest[q]] = head < r ? rest[head] : cycle[best_head_in_cycle[q]];
  }
  for (std::int64_t member : cycle) heads[member] = tree[member];
  const auto entered_from = static_cast<std::size_t>(contracted[r]);
  heads[cycle[best_member[entered_from]]] = rest[entered_from];
  return heads;
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
