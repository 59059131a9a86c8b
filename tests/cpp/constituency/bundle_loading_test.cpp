// Loading a constituency bundle: the supported profile, vocabularies, transition table and
// tensors are checked in order, and the first fault is reported with its own message.

#include <gtest/gtest.h>

#include "constituency/model_loading.hpp"
#include "test_support.hpp"
#include "velmora/constituency.hpp"
#include "velmora/model_bundle.hpp"

namespace {

using namespace constituency_test;

class ConstituencyBundleLoading : public WithTestData {};

TEST_F(ConstituencyBundleLoading, RefusesEachFaultWithItsMessage) {
  const velmora::detail::JsonValue cases = velmora::detail::load_json(data_dir() / "refused.json");
  ASSERT_GT(cases.as_array("").size(), 30u);
  for (const auto& entry : cases.as_array("")) {
    const std::string name = entry.at("name", "").as_string("");
    const std::string expected = entry.at("message", "").as_string("");
    try {
      velmora::ConstituencyPlan plan(data_dir() / "refused" / name, false);
      ADD_FAILURE() << name << ": loaded";
    } catch (const velmora::ModelBundleError& error) {
      EXPECT_EQ(error.what(), expected) << name;
    } catch (const std::exception& error) {
      ADD_FAILURE() << name << ": unexpected exception " << error.what();
    }
  }
}

TEST_F(ConstituencyBundleLoading, JsonAndProfileFaultsAreConstituencyErrors) {
  for (const char* name : {"scheme_missing", "unary_text", "top_down", "delta_repeat"}) {
    EXPECT_THROW(velmora::ConstituencyPlan(data_dir() / "refused" / name, false), velmora::ConstituencyModelError)
        << name;
  }
  // The character LM's own refusal passes through as its error.
  EXPECT_THROW(velmora::ConstituencyPlan(data_dir() / "refused" / "charlm_swapped", false),
               velmora::CharLMModelError);
}

TEST_F(ConstituencyBundleLoading, ReadsTheProfileOfEachVariant) {
  const velmora::ConstituencyPlan plain(compare_bundle("plain"), true);
  EXPECT_TRUE(plain.uses_xpos());
  EXPECT_EQ(plain.bundle().processor(), "constituency");
  EXPECT_EQ(plain.bundle().path(), fs::absolute(compare_bundle("plain")));

  const auto everything = velmora::detail::load_constituency_model(compare_bundle("everything"), false);
  EXPECT_FALSE(everything->uses_xpos);
  EXPECT_TRUE(everything->everything_boundaries);
  EXPECT_TRUE(everything->lower);
  EXPECT_TRUE(everything->has_forward_charlm && everything->has_backward_charlm);
  EXPECT_FALSE(everything->has_transformer);
  EXPECT_EQ(everything->num_lstm_layers, 2);
  EXPECT_EQ(everything->unary_limit, 1);
  // Bidirectional word LSTM: eight tensors per layer; stacks four.
  EXPECT_EQ(everything->word_lstm_weights.size(), 16u);
  EXPECT_EQ(everything->transition_stack_weights.size(), 8u);
  EXPECT_EQ(everything->word_lstm_state.first.sizes(), (at::IntArrayRef{4, 1, everything->hidden_size}));
  EXPECT_EQ(everything->transition_stack_state.first.sizes(),
            (at::IntArrayRef{2, 1, everything->transition_hidden_size}));

  const auto model = velmora::detail::load_constituency_model(compare_bundle("plain"), false);
  ASSERT_EQ(model->transitions.size(), 9u);
  EXPECT_EQ(model->transitions[0].kind, velmora::ConstituencyTransition::Shift);
  EXPECT_EQ(model->transitions[1].kind, velmora::ConstituencyTransition::Close);
  EXPECT_EQ(model->transitions[7].labels, (std::vector<std::string>{"S", "VP"}));
  EXPECT_EQ(model->transitions[7].open_index, 5);
  EXPECT_EQ(model->transitions[0].open_index, -1);
  EXPECT_EQ(model->delta_words.at("the"), 2);
  EXPECT_EQ(model->tags.at("NNP"), 7);
  EXPECT_EQ(model->pretrain_vocab.at("<UNK>"), 1);
  EXPECT_TRUE(model->root_labels.contains("ROOT"));
  EXPECT_EQ(model->output_layers.size(), 2u);
}

TEST_F(ConstituencyBundleLoading, PlanMovesItsModel) {
  velmora::ConstituencyPlan plan(compare_bundle("plain"), false);
  velmora::ConstituencyPlan moved(std::move(plan));
  EXPECT_TRUE(moved.uses_xpos());
  EXPECT_EQ(moved.parse({"cat"}, {"NN"}).label(), "ROOT");
}

}  // namespace
