#include "velmora/constituency_tree.hpp"

#include <stdexcept>
#include <utility>

#include "velmora/sequence_range.hpp"

namespace velmora {

TreeNode::TreeNode(std::string label, std::vector<Child> children)
    : label_(std::move(label)), children_(std::move(children)) {
  for (const Child& child : children_) {
    if (!child) throw std::invalid_argument("a constituency tree child cannot be null");
  }
}

// Releasing a node releases every node below it that nobody else holds. Doing that by
// the default member-wise destruction would nest one destructor call per tree level and
// overflow the stack on deep trees, so the subtree is taken apart here with an explicit
// stack: a node whose last reference we hold gives up its children to the stack before
// it is destroyed, so its own destructor finds nothing to do.
TreeNode::~TreeNode() {
  if (children_.empty()) return;
  std::vector<Child> pending = std::move(children_);
  while (!pending.empty()) {
    Child node = std::move(pending.back());
    pending.pop_back();
    // use_count() of 1 is exact here: we hold the only reference, so no other thread
    // can copy it (nodes hand out no weak references).
    if (node.use_count() == 1 && !node->children_.empty()) {
      for (Child& child : node->children_) pending.push_back(std::move(child));
      node->children_.clear();
    }
  }
}

// ---------------------------------------------------------------- TreeSequence

namespace {

SequenceRange range_of(std::int64_t start, std::int64_t step, std::uint64_t length) {
  return {static_cast<std::uint64_t>(start), step, length};
}

}  // namespace

TreeSequence::TreeSequence(std::vector<TreeNode::Child> nodes)
    : nodes_(std::move(nodes)), length_(nodes_.size()) {}

TreeSequence::TreeSequence(std::vector<TreeNode::Child> nodes, long start, long step,
                           unsigned long length)
    : nodes_(std::move(nodes)), start_(start), step_(step), length_(length) {}

ConstituencyTree TreeSequence::at(long index) const {
  const SequenceRange range = range_of(start_, step_, length_);
  const auto position = range.position_of(index);
  // A range given to the public constructor may reach past the node list; such
  // positions are refused like any other index outside the sequence.
  const std::uint64_t offset = position ? range.offset_of(*position) : nodes_.size();
  if (offset >= nodes_.size()) throw std::out_of_range("tree index is outside the sequence");
  return ConstituencyTree(nodes_[offset]);
}

TreeSequence TreeSequence::slice(long start, long step, unsigned long length) const {
  const SequenceRange range = range_of(start_, step_, length_).slice(start, step, length);
  return TreeSequence(nodes_, static_cast<std::int64_t>(range.start), range.step, range.length);
}

TreeSequence TreeSequence::reversed() const {
  const SequenceRange range = range_of(start_, step_, length_).reversed();
  return TreeSequence(nodes_, static_cast<std::int64_t>(range.start), range.step, range.length);
}

bool TreeSequence::contains(const ConstituencyTree& tree) const {
  const SequenceRange range = range_of(start_, step_, length_);
  for (std::uint64_t position = 0; position < length_; ++position) {
    const std::uint64_t offset = range.offset_of(position);
    if (offset < nodes_.size() && nodes_[offset] == tree.node()) return true;
  }
  return false;
}

// ---------------------------------------------------------------- ConstituencyTree

ConstituencyTree::ConstituencyTree(std::shared_ptr<const TreeNode> node) : node_(std::move(node)) {
  if (!node_) throw std::invalid_argument("a constituency tree node cannot be null");
}

namespace {

std::vector<TreeNode::Child> nodes_of(const std::vector<ConstituencyTree>& trees) {
  std::vector<TreeNode::Child> nodes;
  nodes.reserve(trees.size());
  for (const ConstituencyTree& tree : trees) nodes.push_back(tree.node());
  return nodes;
}

}  // namespace

ConstituencyTree::ConstituencyTree(std::string label, std::vector<ConstituencyTree> children)
    : node_(std::make_shared<const TreeNode>(std::move(label), nodes_of(children))) {}

TreeSequence ConstituencyTree::children() const { return TreeSequence(node_->children()); }

bool ConstituencyTree::is_leaf() const noexcept { return node_->children().empty(); }

bool ConstituencyTree::is_preterminal() const noexcept {
  const auto& children = node_->children();
  return children.size() == 1 && children.front()->children().empty();
}

std::vector<std::string> ConstituencyTree::leaf_labels() const {
  std::vector<std::string> labels;
  std::vector<const TreeNode*> stack{node_.get()};
  while (!stack.empty()) {
    const TreeNode* node = stack.back();
    stack.pop_back();
    const auto& children = node->children();
    if (children.empty()) {
      labels.push_back(node->label());
      continue;
    }
    // Last child first, so that the first child is taken next.
    for (auto child = children.rbegin(); child != children.rend(); ++child) stack.push_back(child->get());
  }
  return labels;
}

std::string ConstituencyTree::to_string() const {
  struct Frame {
    const TreeNode* node;
    std::size_t next_child;
  };
  std::string text;
  std::vector<Frame> open;
  // Prints a leaf whole, or the opening of an inner node whose children follow.
  const auto begin = [&](const TreeNode* node) {
    if (node->children().empty()) {
      text += node->label();
      return;
    }
    text += '(';
    text += node->label();
    open.push_back({node, 0});
  };
  begin(node_.get());
  while (!open.empty()) {
    Frame& top = open.back();
    if (top.next_child == top.node->children().size()) {
      text += ')';
      open.pop_back();
      continue;
    }
    const TreeNode* child = top.node->children()[top.next_child++].get();
    text += ' ';
    begin(child);
  }
  return text;
}

}  // namespace velmora
