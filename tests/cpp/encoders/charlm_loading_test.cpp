// Character LM bundles the model refuses, each broken in one way, with the message or error
// kind the caller sees; and the bundles that load although they look unusual.

#include <gtest/gtest.h>

#include "test_data.hpp"
#include "velmora/charlm.hpp"
#include "velmora/model_bundle.hpp"

namespace {

using encoder_test::data_dir;

enum class Kind { kCharLM, kBundle, kJson };

struct RefusedCase {
  std::string bundle;
  Kind kind;
  std::string message;
};

const std::string kUnsupported =
    "unsupported character language model; hidden size and layer count must be positive and recurrent dropout must "
    "be zero";
const std::string kMismatch = "character language model tensors do not match its assets";

TEST(CharLMLoading, BrokenBundlesAreRefusedWithTheirReason) {
  encoder_test::require_data();
  const std::vector<RefusedCase> cases = {
      {"recurrent_dropout", Kind::kCharLM, kUnsupported},
      {"no_layers", Kind::kCharLM, kUnsupported},
      {"no_hidden_units", Kind::kCharLM, kUnsupported},
      {"no_start_symbol", Kind::kCharLM, "character language model vocabulary has no start/end symbols"},
      {"embedding_rows", Kind::kCharLM, kMismatch},
      {"embedding_rank", Kind::kCharLM, kMismatch},
      {"initial_state_shape", Kind::kCharLM, kMismatch},
      {"initial_cell_shape", Kind::kCharLM, kMismatch},
      {"lstm_weight_shape", Kind::kCharLM, kMismatch},
      {"lstm_bias_shape", Kind::kCharLM, kMismatch},
      {"unsupported_dtype", Kind::kCharLM, "ATen view does not support bundle dtype: uint16"},
      {"missing_tensor", Kind::kBundle, "tensor is not present in bundle: 'charlstm.lstm.bias_hh_l1'"},
      {"missing_direction", Kind::kJson, "missing JSON key 'is_forward_lm' at charlm assets"},
      {"processor_pos", Kind::kCharLM, "expected a forward/backward_charlm bundle, got 'pos'"},
      {"processor_trailing_blank", Kind::kCharLM, "expected a forward/backward_charlm bundle, got 'forward_charlm '"},
      {"processor_capitalised", Kind::kCharLM, "expected a forward/backward_charlm bundle, got 'Forward_charlm'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bundle);
    try {
      velmora::CharLMPlan plan(data_dir() / "charlm" / "refused" / c.bundle, false);
      ADD_FAILURE() << "loaded";
    } catch (const velmora::CharLMModelError& error) {
      EXPECT_EQ(c.kind, Kind::kCharLM);
      EXPECT_EQ(error.what(), c.message);
    } catch (const velmora::ModelBundleError& error) {
      EXPECT_EQ(c.kind, Kind::kBundle);
      EXPECT_EQ(error.what(), c.message);
    } catch (const velmora::detail::JsonError& error) {
      EXPECT_EQ(c.kind, Kind::kJson);
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

TEST(CharLMLoading, MissingDropoutKeyLoadsAndDirectionComesFromTheAssets) {
  encoder_test::require_data();
  const velmora::CharLMPlan without_dropout(data_dir() / "charlm" / "no_dropout_key", false);
  EXPECT_TRUE(without_dropout.is_forward());
  const velmora::CharLMPlan named_forward(data_dir() / "charlm" / "named_forward_reads_backward", false);
  EXPECT_EQ(named_forward.bundle().processor(), "forward_charlm");
  EXPECT_FALSE(named_forward.is_forward());
}

}  // namespace
