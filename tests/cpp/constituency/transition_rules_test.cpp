// The in-order transition system on hand-made sequences, without a network: which transitions
// are legal in each state, what Shift, Open and Close do to the stacks, and the trees they build.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "constituency/transition_system.hpp"
#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

// Vectors are one-element tensors that name where they came from, so tests can follow them.
class RecordingEncoder final : public StackEncoder {
 public:
  at::Tensor word_constituent(const at::Tensor& word_vector) const override { return word_vector.unsqueeze(0); }
  at::Tensor open_marker(std::int64_t open_index) const override {
    return at::full({1, 1}, -1.0 - static_cast<double>(open_index));
  }
  at::Tensor compose(const std::vector<at::Tensor>& children) const override {
    composed.push_back(at::cat(children, 1));
    return at::full({1, 1}, 100.0);
  }
  StackNode push_constituent(const StackNode&, Constituent value) const override {
    StackNode node;
    node.value = std::move(value);
    return node;
  }
  StackNode push_transition(const StackNode&, std::int64_t transition) const override {
    StackNode node;
    node.transition = transition;
    return node;
  }
  mutable std::vector<at::Tensor> composed;  // the children's vectors of each Close, left to right
};

ConstituencyTransition open(std::vector<std::string> labels, std::int64_t index) {
  return {ConstituencyTransition::Open, std::move(labels), index};
}

class TransitionRulesTest : public ::testing::Test {
 protected:
  // 0 Shift, 1 Close, 2 Open ROOT, 3 Open NP, 4 Open S VP, 5 Open VP
  std::vector<ConstituencyTransition> table = {
      {ConstituencyTransition::Shift, {}, -1}, {ConstituencyTransition::Close, {}, -1},
      open({"ROOT"}, 0), open({"NP"}, 1), open({"S", "VP"}, 2), open({"VP"}, 3)};
  StringSet roots = {"ROOT"};
  std::int64_t unary_limit = 1;
  RecordingEncoder encoder;

  TransitionRules rules() const { return {table, roots, unary_limit}; }

  static ParserState start(const std::vector<std::string>& words, const std::vector<std::string>& tags) {
    ParserState state;
    state.num_words = static_cast<std::int64_t>(words.size());
    for (std::size_t i = 0; i < words.size() + 2; ++i) state.word_vectors.push_back(at::full({1}, double(i)));
    for (std::size_t i = 0; i < words.size(); ++i) state.word_queue.push_back(preterminal(words[i], tags[i]));
    state.transition_stack.emplace_back();
    state.constituent_stack.emplace_back();
    return state;
  }

  /// The legal transitions, as indices into the table, in table order.
  std::vector<std::size_t> legal(const ParserState& state) const {
    std::vector<std::size_t> out;
    for (std::size_t t = 0; t < table.size(); ++t) {
      if (is_legal(rules(), state, t)) out.push_back(t);
    }
    return out;
  }

  void apply(ParserState& state, std::initializer_list<std::size_t> transitions) const {
    for (std::size_t t : transitions) {
      ASSERT_TRUE(is_legal(rules(), state, t)) << "transition " << t << " after " << state.steps << " steps";
      apply_transition(rules(), state, t, encoder);
    }
  }

  static std::string top_tree(const ParserState& state) {
    const auto& value = state.constituent_stack.back().value;
    return value && value->tree ? value->tree->to_string() : "<none>";
  }
};

using Indices = std::vector<std::size_t>;

TEST_F(TransitionRulesTest, EverySentenceStartsWithAShift) {
  const ParserState state = start({"a", "b"}, {"A", "B"});
  EXPECT_EQ(legal(state), Indices{0});
}

TEST_F(TransitionRulesTest, AfterTheFirstWordOnlyANonRootOpenIsLegal) {
  ParserState state = start({"a", "b"}, {"A", "B"});
  apply(state, {0});
  EXPECT_EQ(legal(state), (Indices{3, 4, 5}));
  // Inside an open constituent words may be shifted again.
  apply(state, {3});
  EXPECT_EQ(legal(state), (Indices{0, 1}));
}

TEST_F(TransitionRulesTest, OneWordSentenceNeedsARootAbovePreterminal) {
  ParserState state = start({"w"}, {"NN"});
  apply(state, {0});
  EXPECT_FALSE(finished_tree(rules(), state)) << "NN is not a root label";
  EXPECT_EQ(legal(state), (Indices{2, 3, 4, 5}));
  apply(state, {2});
  EXPECT_EQ(legal(state), Indices{1}) << "Open after Open is illegal";
  apply(state, {1});
  ASSERT_TRUE(finished_tree(rules(), state));
  EXPECT_EQ(finished_tree(rules(), state)->to_string(), "(ROOT (NN w))");
  EXPECT_EQ(state.steps, 3);
  EXPECT_EQ(state.transition_stack.size(), 4u);
}

TEST_F(TransitionRulesTest, RootOpenWaitsForAllWordsAndNoOpenConstituent) {
  ParserState state = start({"a", "b"}, {"A", "B"});
  apply(state, {0, 3, 0});
  // All words shifted, NP still open: ROOT may not open.
  EXPECT_FALSE(is_legal(rules(), state, 2));
  apply(state, {1});
  EXPECT_EQ(top_tree(state), "(NP (A a) (B b))");
  EXPECT_TRUE(is_legal(rules(), state, 2));
}

TEST_F(TransitionRulesTest, UnaryCloseRightAfterOpenIsLimitedWhileWordsRemain) {
  ParserState state = start({"a", "b"}, {"A", "B"});
  apply(state, {0, 3});
  // Closing NP over the preterminal A(a) adds one unary level: allowed with limit 1 ...
  EXPECT_TRUE(is_legal(rules(), state, 1));
  // ... but not with limit 0, as NP is the last open constituent and b is left.
  unary_limit = 0;
  EXPECT_FALSE(is_legal(rules(), state, 1));
  // With a second constituent open, or no word left, the limit does not apply.
  state.num_open = 2;
  EXPECT_TRUE(is_legal(rules(), state, 1));
  state.num_open = 1;
  state.word_position = state.num_words;
  EXPECT_TRUE(is_legal(rules(), state, 1));
}

TEST_F(TransitionRulesTest, OpenIsLimitedByTheUnaryChainBelowIt) {
  ParserState state = start({"a"}, {"A"});
  apply(state, {0, 5, 1});
  EXPECT_EQ(top_tree(state), "(VP (A a))");
  // VP(A(a)) already has two single-child levels: with limit 1 no further non-root Open.
  EXPECT_EQ(legal(state), Indices{2});
  unary_limit = 2;
  EXPECT_EQ(legal(state), (Indices{2, 3, 4, 5}));
}

TEST_F(TransitionRulesTest, OpenCountMayExceedTheWordsByTen) {
  ParserState state = start({"a", "b"}, {"A", "B"});
  apply(state, {0});
  state.num_open = state.num_words + 10;
  EXPECT_TRUE(is_legal(rules(), state, 3));
  state.num_open += 1;
  EXPECT_FALSE(is_legal(rules(), state, 3));
}

TEST_F(TransitionRulesTest, OpenWithTwoLabelsBuildsNestedConstituents) {
  ParserState state = start({"a", "b", "c"}, {"A", "B", "C"});
  apply(state, {0, 4, 0, 0, 1});
  EXPECT_EQ(top_tree(state), "(S (VP (A a) (B b) (C c)))");
  EXPECT_EQ(state.num_open, 0);
  EXPECT_EQ(state.constituent_stack.size(), 2u);
}

TEST_F(TransitionRulesTest, CloseComposesTheLeftChildThenTheLaterConstituentsInOrder) {
  ParserState state = start({"a", "b", "c"}, {"A", "B", "C"});
  apply(state, {0, 3, 0, 0, 1});
  ASSERT_EQ(encoder.composed.size(), 1u);
  // Word i's vector is word_vectors[i + 1], holding i + 1.
  EXPECT_TRUE(at::equal(encoder.composed[0], at::tensor({1.0f, 2.0f, 3.0f}).view({1, 3})));
  EXPECT_TRUE(at::equal(state.constituent_stack.back().value->hidden, at::full({1, 1}, 100.0)));
  // The transition stack records every applied transition in order.
  std::vector<std::int64_t> recorded;
  for (std::size_t i = 1; i < state.transition_stack.size(); ++i) recorded.push_back(*state.transition_stack[i].transition);
  EXPECT_EQ(recorded, (std::vector<std::int64_t>{0, 3, 0, 0, 1}));
}

TEST_F(TransitionRulesTest, OpenMarkerCarriesItsDummyRowAndLabels) {
  ParserState state = start({"a", "b"}, {"A", "B"});
  apply(state, {0, 4});
  const Constituent& marker = *state.constituent_stack.back().value;
  EXPECT_TRUE(marker.is_open_marker);
  EXPECT_FALSE(marker.tree);
  EXPECT_EQ(marker.labels, (std::vector<std::string>{"S", "VP"}));
  EXPECT_TRUE(at::equal(marker.hidden, at::full({1, 1}, -3.0)));
  EXPECT_EQ(state.num_open, 1);
}

TEST_F(TransitionRulesTest, TableWithoutOpenLeavesNothingLegalAfterANonRootWord) {
  table = {{ConstituencyTransition::Shift, {}, -1}, {ConstituencyTransition::Close, {}, -1}};
  ParserState state = start({"w"}, {"NN"});
  apply(state, {0});
  EXPECT_TRUE(legal(state).empty());
  EXPECT_FALSE(finished_tree(rules(), state));

  ParserState rooted = start({"w"}, {"ROOT"});
  apply(rooted, {0});
  ASSERT_TRUE(finished_tree(rules(), rooted));
  EXPECT_EQ(finished_tree(rules(), rooted)->to_string(), "(ROOT w)");
}

TEST_F(TransitionRulesTest, EndStateNeedsOneRootTreeAndNoWordLeft) {
  ParserState state = start({"a", "b"}, {"ROOT", "B"});
  apply(state, {0});
  EXPECT_FALSE(finished_tree(rules(), state)) << "a word is left";
}

TEST_F(TransitionRulesTest, CloseRefusesBrokenStacks) {
  struct Case {
    const char* name;
    std::vector<bool> markers;  // constituent stack above the sentinel, bottom first
    const char* message;
  };
  const std::vector<Case> cases = {
      {"no marker", {false, false}, "constituency Close has no matching Open"},
      {"marker without left child", {true}, "in-order constituency Close has no left child"},
      {"marker as left child", {true, true}, "constituency child is a dummy marker"},
      {"marker among the children", {false, true, true, false}, "constituency child is a dummy marker"},
  };
  for (const Case& c : cases) {
    ParserState state = start({"a"}, {"A"});
    for (bool marker : c.markers) {
      Constituent value;
      value.hidden = at::zeros({1, 1});
      value.is_open_marker = marker;
      if (marker) {
        value.labels = {"X"};
      } else {
        value.tree = preterminal("a", "A");
      }
      state.constituent_stack.push_back(encoder.push_constituent({}, std::move(value)));
    }
    state.num_open = 1;
    try {
      apply_transition(rules(), state, 1, encoder);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const ConstituencyModelError& error) {
      EXPECT_STREQ(error.what(), c.message) << c.name;
    }
  }
}

TEST(ConstituentBuilding, LabelsWrapOutermostFirst) {
  const std::vector<ConstituencyTree> children = {preterminal("a", "A"), preterminal("b", "B")};
  EXPECT_EQ(build_constituent({"S"}, children).to_string(), "(S (A a) (B b))");
  EXPECT_EQ(build_constituent({"S", "VP", "X"}, children).to_string(), "(S (VP (X (A a) (B b))))");
  // Children are shared, not copied.
  EXPECT_TRUE(build_constituent({"S"}, children).children().at(1).same_node(children[1]));
  try {
    build_constituent({}, children);
    ADD_FAILURE() << "no error";
  } catch (const ConstituencyModelError& error) {
    EXPECT_STREQ(error.what(), "cannot build a constituent without a label");
  }
}

TEST(UnaryCheck, CountsSingleChildLevelsAgainstTheLimit) {
  const ConstituencyTree leaf("w");
  const ConstituencyTree pre = preterminal("w", "NN");
  const ConstituencyTree x(std::string("X"), {pre});
  const ConstituencyTree yx(std::string("Y"), {x});
  const ConstituencyTree branching(std::string("S"), {pre, pre});
  const ConstituencyTree unary_over_branching(std::string("X"), {branching});
  struct Case {
    const ConstituencyTree& tree;
    std::int64_t limit;
    bool too_unary;
  };
  const std::vector<Case> cases = {
      {leaf, 0, false},      {pre, 0, true},        {pre, 1, false},
      {x, 1, true},          {x, 2, false},         {yx, 2, true},
      {yx, 3, false},        {branching, 0, false}, {unary_over_branching, 0, true},
      {unary_over_branching, 1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(too_unary(c.tree, c.limit), c.too_unary) << c.tree.to_string() << " limit " << c.limit;
  }
}

}  // namespace
}  // namespace velmora::detail
