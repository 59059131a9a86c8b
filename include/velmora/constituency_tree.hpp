#pragma once

// Constituency trees as immutable shared nodes. Nodes never change after construction,
// so subtrees are shared freely between trees, sentences and Python handles. Every walk
// over a tree (printing, leaf collection, teardown) uses an explicit stack, so a tree
// of any depth is safe to print and to release.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

class ConstituencyTree;

/// One node: the constituent label of an inner node, or the word of a leaf.
class TreeNode {
 public:
  using Child = std::shared_ptr<const TreeNode>;

  /// Takes the label and the children (left to right; none for a leaf) over. A null
  /// child throws std::invalid_argument.
  TreeNode(std::string label, std::vector<Child> children);
  ~TreeNode();

  TreeNode(const TreeNode&) = delete;
  TreeNode& operator=(const TreeNode&) = delete;

  const std::string& label() const noexcept { return label_; }
  const std::vector<Child>& children() const noexcept { return children_; }

 private:
  std::string label_;
  // Mutable only so that the destructor can detach the children of nodes it releases
  // last (see ~TreeNode); no other code changes it after construction.
  mutable std::vector<Child> children_;
};

/// The children of a node as a Python-style sequence: negative indices, stepped slices
/// and reversal over a private copy of the child list (the nodes themselves are shared).
class TreeSequence {
 public:
  TreeSequence() = default;
  explicit TreeSequence(std::vector<TreeNode::Child> nodes);
  TreeSequence(std::vector<TreeNode::Child> nodes, long start, long step, unsigned long length);

  std::uint64_t size() const noexcept { return length_; }
  /// Throws std::out_of_range when the index lies outside [-size, size).
  ConstituencyTree at(long index) const;
  TreeSequence slice(long start, long step, unsigned long length) const;
  TreeSequence reversed() const;
  /// Whether the tree's node object is one of the elements (identity, not structure).
  bool contains(const ConstituencyTree& tree) const;

 private:
  std::vector<TreeNode::Child> nodes_;
  std::int64_t start_ = 0;
  std::int64_t step_ = 1;
  std::uint64_t length_ = 0;
};

/// A light handle on one node, never null.
class ConstituencyTree {
 public:
  /// Throws std::invalid_argument for a null node.
  explicit ConstituencyTree(std::shared_ptr<const TreeNode> node);
  /// A new node over the children's nodes (shared, not copied); no children makes a leaf.
  explicit ConstituencyTree(std::string label, std::vector<ConstituencyTree> children = {});

  const std::shared_ptr<const TreeNode>& node() const noexcept { return node_; }
  const std::string& label() const noexcept { return node_->label(); }
  TreeSequence children() const;
  bool is_leaf() const noexcept;
  /// Exactly one child, and that child is a leaf.
  bool is_preterminal() const noexcept;
  /// The labels of all leaves below the node, left to right.
  std::vector<std::string> leaf_labels() const;
  /// Bracketed text: a leaf prints its label; an inner node "(" label, then " " and the
  /// text of each child, then ")". Labels are printed as they are.
  std::string to_string() const;
  bool same_node(const ConstituencyTree& other) const noexcept { return node_ == other.node_; }

 private:
  std::shared_ptr<const TreeNode> node_;
};

}  // namespace velmora
