// The word encoder's pretrained-vocabulary lookup and the sentence and stack sentinels.

#include <c10/core/InferenceMode.h>
#include <gtest/gtest.h>

#include "constituency/model_loading.hpp"
#include "constituency/network.hpp"
#include "test_support.hpp"

namespace {

using namespace constituency_test;
using velmora::ConstituencyPlan;

TEST(PretrainedLookup, TriesTheFormThenItsLowerCaseWithNoBreakSpaces) {
  ConstituencyPlan::Impl model;
  model.pretrain_vocab = {{"<PAD>", 0}, {"<UNK>", 1}, {"cat", 2},        {"Word", 1},
                          {"word", 3},  {"Paris", 4}, {"new\xC2\xA0york", 5}, {"\xC3\xA9t\xC3\xA9", 6}};
  struct Case {
    const char* word;
    bool lower;
    std::int64_t id;
  };
  const std::vector<Case> cases = {
      {"cat", false, 2},      {"CAT", false, 2},      {"Paris", false, 4},   {"Paris", true, 1},
      {"Word", false, 3},  // maps to <UNK>, so its lower-case form is tried
      {"New York", false, 5}, {"New York", true, 5},  {"new york", false, 5}, {"newyork", false, 1},
      {"\xC3\x89T\xC3\x89", false, 6},  // ÉTÉ lower-cases to été
      {"dog", true, 1},
  };
  for (const Case& c : cases) {
    model.lower = c.lower;
    EXPECT_EQ(velmora::detail::pretrain_id(model, c.word), c.id) << c.word << " lower=" << c.lower;
  }
}

class SentenceSentinels : public WithTestData {};

TEST_F(SentenceSentinels, WithoutBoundaryVectorsTheEdgesAndStackStartsAreZero) {
  const auto model = velmora::detail::load_constituency_model(compare_bundle("plain"), false);
  const velmora::detail::ConstituencyNetwork network(*model);
  c10::InferenceMode guard(true);
  const auto vectors = network.word_vectors({"the", "cat"}, {"DT", "NN"});
  ASSERT_EQ(vectors.size(), 4u);
  const at::Tensor zero = at::zeros({model->hidden_size});
  EXPECT_TRUE(at::equal(vectors.front(), zero));
  EXPECT_TRUE(at::equal(vectors.back(), zero));
  EXPECT_FALSE(at::equal(vectors[1], zero));
  EXPECT_TRUE(at::equal(network.transition_sentinel().output, at::zeros({model->transition_hidden_size})));
  EXPECT_TRUE(at::equal(network.constituent_sentinel().output, zero));
  EXPECT_EQ(network.constituent_sentinel().h.sizes(), (at::IntArrayRef{1, model->hidden_size}));
}

TEST_F(SentenceSentinels, WithBoundaryVectorsEveryRowIsEncoded) {
  const auto model = velmora::detail::load_constituency_model(compare_bundle("everything"), false);
  const velmora::detail::ConstituencyNetwork network(*model);
  c10::InferenceMode guard(true);
  const auto vectors = network.word_vectors({"the", "cat"}, {"DET", "NOUN"});
  ASSERT_EQ(vectors.size(), 4u);
  EXPECT_FALSE(at::equal(vectors.front(), at::zeros({model->hidden_size})));
  const auto sentinel = network.transition_sentinel();
  EXPECT_EQ(sentinel.h.sizes(), (at::IntArrayRef{model->num_lstm_layers, model->transition_hidden_size}));
  EXPECT_EQ(sentinel.output.sizes(), (at::IntArrayRef{model->transition_hidden_size}));
  EXPECT_TRUE(at::equal(sentinel.output, sentinel.h[-1]));
}

TEST_F(SentenceSentinels, StackPushChecksItsInputAndState) {
  const auto model = velmora::detail::load_constituency_model(compare_bundle("plain"), false);
  const velmora::detail::ConstituencyNetwork network(*model);
  c10::InferenceMode guard(true);
  const auto top = network.constituent_sentinel();
  auto expect_error = [&](const velmora::detail::StackNode& node, at::Tensor hidden, const char* message) {
    velmora::detail::Constituent value;
    value.hidden = std::move(hidden);
    try {
      network.push_constituent(node, value);
      ADD_FAILURE() << message;
    } catch (const velmora::ConstituencyModelError& error) {
      EXPECT_STREQ(error.what(), message);
    }
  };
  expect_error(top, at::zeros({1, 0}), "constituency stack input is not a vector");
  expect_error(top, at::zeros({1, 2, model->hidden_size}), "constituency stack input is not a vector");
  auto wrong = top;
  wrong.c = at::zeros({2, model->hidden_size});
  expect_error(wrong, at::zeros({1, model->hidden_size}), "constituency stack state has the wrong shape");
  // The transition stack is narrower than the constituent stack.
  expect_error(network.transition_sentinel(), at::zeros({1, model->hidden_size}),
               "constituency stack state has the wrong shape");
}

}  // namespace
