// Building, walking, printing and releasing constituency trees of shared nodes.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "velmora/constituency_tree.hpp"

namespace {

using velmora::ConstituencyTree;
using velmora::TreeNode;
using velmora::TreeSequence;

ConstituencyTree leaf(const std::string& word) { return ConstituencyTree(word); }
ConstituencyTree pre(const std::string& tag, const std::string& word) { return ConstituencyTree(tag, {leaf(word)}); }

ConstituencyTree sample_sentence() {
  return ConstituencyTree("S", {ConstituencyTree("NP", {pre("PRP", "I")}),  //
                                ConstituencyTree("VP", {pre("VBP", "run")})});
}

template <class Fn>
std::string error_of(Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "no error";
}

std::vector<std::string> labels_of(const TreeSequence& sequence) {
  std::vector<std::string> labels;
  for (std::uint64_t i = 0; i < sequence.size(); ++i) labels.push_back(sequence.at(static_cast<long>(i)).label());
  return labels;
}

TEST(ConstituencyTree, PreterminalNeedsExactlyOneLeafChild) {
  EXPECT_TRUE(leaf("dog").is_leaf());
  EXPECT_FALSE(leaf("dog").is_preterminal());
  EXPECT_TRUE(pre("NN", "dog").is_preterminal());
  EXPECT_FALSE(ConstituencyTree("NP", {pre("NN", "dog")}).is_preterminal());
  EXPECT_FALSE(ConstituencyTree("NP", {leaf("a"), leaf("b")}).is_preterminal());
}

TEST(ConstituencyTree, PrintsBracketsWithOneSpaceBeforeEachChild) {
  EXPECT_EQ(sample_sentence().to_string(), "(S (NP (PRP I)) (VP (VBP run)))");
  EXPECT_EQ(pre("NN", "dog").to_string(), "(NN dog)");
  // Labels are printed as they are: an empty inner label leaves "(" right before the space.
  EXPECT_EQ(ConstituencyTree("", {leaf("x"), leaf("")}).to_string(), "( x )");
  EXPECT_EQ(ConstituencyTree("A (B)", {leaf("y z")}).to_string(), "(A (B) y z)");
}

TEST(ConstituencyTree, LeafLabelsAreLeftToRight) {
  const ConstituencyTree tree("ROOT",
                              {sample_sentence(), ConstituencyTree("X", {leaf("a"), pre("P", "b"), leaf("c")})});
  EXPECT_EQ(tree.leaf_labels(), (std::vector<std::string>{"I", "run", "a", "b", "c"}));
}

TEST(ConstituencyTree, NullNodeIsRefused) {
  EXPECT_EQ(error_of([] { ConstituencyTree tree(std::shared_ptr<const TreeNode>{}); }),
            "a constituency tree node cannot be null");
  EXPECT_THROW(TreeNode("X", {nullptr}), std::invalid_argument);
}

TEST(ConstituencyTree, ReleasingOneParentKeepsASharedSubtree) {
  const ConstituencyTree shared("NP", {pre("DT", "the"), pre("NN", "dog")});
  const ConstituencyTree kept("S", {shared});
  { const ConstituencyTree dropped("S", {ConstituencyTree("X", {shared}), pre("VB", "ran")}); }
  EXPECT_EQ(kept.to_string(), "(S (NP (DT the) (NN dog)))");
  EXPECT_EQ(shared.leaf_labels(), (std::vector<std::string>{"the", "dog"}));
}

TEST(TreeSequence, IndexingFollowsPythonRules) {
  const ConstituencyTree tree("X", {leaf("a"), leaf("b"), leaf("c")});
  const TreeSequence children = tree.children();
  EXPECT_EQ(children.at(-1).label(), "c");
  EXPECT_EQ(children.at(-3).label(), "a");
  for (long index : {3L, -4L}) {
    EXPECT_EQ(error_of([&] { children.at(index); }), "tree index is outside the sequence");
  }
  EXPECT_THROW(leaf("a").children().at(0), std::out_of_range);
  EXPECT_EQ(error_of([] { TreeSequence().at(0); }), "tree index is outside the sequence");
}

// The row arithmetic is the sequence range's, tested with it; this checks the wiring.
TEST(TreeSequence, SlicesAndReversalCompose) {
  const ConstituencyTree tree("X", {leaf("a"), leaf("b"), leaf("c"), leaf("d"), leaf("e")});
  const TreeSequence children = tree.children();
  EXPECT_EQ(labels_of(children.reversed()), (std::vector<std::string>{"e", "d", "c", "b", "a"}));
  EXPECT_EQ(labels_of(children.slice(1, 2, 2).reversed()), (std::vector<std::string>{"d", "b"}));
}

TEST(TreeSequence, ContainsComparesNodeIdentity) {
  const ConstituencyTree child = pre("NN", "dog");
  const ConstituencyTree tree("NP", {leaf("the"), child});
  EXPECT_TRUE(tree.children().contains(child));
  EXPECT_TRUE(tree.children().contains(tree.children().at(1)));
  EXPECT_FALSE(tree.children().contains(pre("NN", "dog")));
  EXPECT_FALSE(tree.children().slice(0, 1, 1).contains(child));
  EXPECT_FALSE(TreeSequence().contains(child));
}

TEST(TreeSequence, RangeBeyondTheNodeListIsRefused) {
  // A range given by hand may name positions past the node list; they must not be read.
  const TreeSequence sequence(pre("NN", "dog").node()->children(), 0, 5, 3);
  EXPECT_EQ(sequence.at(0).label(), "dog");
  EXPECT_EQ(error_of([&] { sequence.at(1); }), "tree index is outside the sequence");
  EXPECT_EQ(error_of([&] { TreeSequence({}, -1, 1, 1).at(0); }), "tree index is outside the sequence");
  EXPECT_FALSE(sequence.contains(leaf("dog")));
}

TEST(TreeSequence, OutlivesTheTreeItCameFrom) {
  TreeSequence children;
  {
    const ConstituencyTree tree("X", {leaf("a"), leaf("b")});
    children = tree.children();
  }
  EXPECT_EQ(labels_of(children), (std::vector<std::string>{"a", "b"}));
}

// A chain of nodes one million levels deep, built bottom-up.
ConstituencyTree deep_chain(std::size_t depth) {
  ConstituencyTree tree = leaf("w");
  for (std::size_t i = 0; i < depth; ++i) tree = ConstituencyTree("X", {tree});
  return tree;
}

constexpr std::size_t kDeep = 1'000'000;

TEST(ConstituencyTree, VeryDeepTreePrintsWithoutRecursion) {
  const ConstituencyTree tree = deep_chain(kDeep);
  const std::string text = tree.to_string();
  ASSERT_EQ(text.size(), kDeep * 4 + 1);  // "(X " per level, "w", ")" per level
  EXPECT_EQ(text.substr(0, 6), "(X (X ");
  EXPECT_EQ(text.substr(kDeep * 3 - 3, 6), "(X w))");
  EXPECT_EQ(tree.leaf_labels(), std::vector<std::string>{"w"});
}

TEST(ConstituencyTree, VeryDeepTreeIsReleasedWithoutRecursion) {
  { const ConstituencyTree tree = deep_chain(kDeep); }
  // A deep tree whose inner levels are also held elsewhere: releasing the root must stop
  // at the shared node, which stays intact, and releasing that later must also be flat.
  ConstituencyTree middle = deep_chain(kDeep / 2);
  {
    ConstituencyTree top = middle;
    for (std::size_t i = 0; i < kDeep / 2; ++i) top = ConstituencyTree("Y", {top});
  }
  EXPECT_EQ(middle.children().at(0).children().at(0).label(), "X");
  EXPECT_EQ(middle.leaf_labels(), std::vector<std::string>{"w"});
  middle = leaf("done");
  SUCCEED();
}

TEST(ConstituencyTree, WideTreeIsReleasedAndPrinted) {
  std::vector<ConstituencyTree> children;
  for (int i = 0; i < 100000; ++i) children.push_back(pre("T", "w"));
  const ConstituencyTree tree("S", children);
  EXPECT_EQ(tree.leaf_labels().size(), 100000u);
  EXPECT_EQ(tree.to_string().size(), 3 + 100000u * 6);  // "(S" + " (T w)" per child + ")"
}

}  // namespace
