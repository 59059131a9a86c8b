// A morphseg bundle loads only in the one supported profile and with the vocabularies and float32
// tensors of its contract; each fault is reported with its own message, JSON faults with the
// reader's message.

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/morphseg.hpp"

namespace {

using velmora::MorphSegModelError;
using velmora::MorphSegPlan;

constexpr const char* kProfile =
    "unsupported MorphSeg architecture; the native profile requires a two-layer BiLSTM, tau=1, argmax decoding, "
    "and no auxiliary features";

struct Refusal {
  const char* bundle;
  const char* message;
};

class MorphSegBundleRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(MorphSegBundleRefusal, FailsWithItsMessage) {
  MORPHSEG_REQUIRE_DATA();
  try {
    MorphSegPlan plan(morphseg_test::bundle(GetParam().bundle), true);
    FAIL() << "the bundle loaded";
  } catch (const MorphSegModelError& error) {
    EXPECT_STREQ(error.what(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MorphSegBundleRefusal,
    ::testing::Values(
        Refusal{"processor_space", "expected a morphseg bundle, got 'morphseg '"},
        Refusal{"processor_camel", "expected a morphseg bundle, got 'MorphSeg'"},
        Refusal{"batch_size_zero", "MorphSeg config value must be positive: batch_size"},
        Refusal{"tau_zero", "MorphSeg config value must be positive: tau"},
        Refusal{"tau_two", kProfile},
        Refusal{"one_layer", kProfile},
        Refusal{"three_layers", kProfile},
        Refusal{"use_crf", kProfile},
        Refusal{"use_features", kProfile},
        Refusal{"tau_float", "expected JSON integer at assets.config"},
        Refusal{"no_tau", "missing JSON key 'tau' at assets.config"},
        Refusal{"hidden_size_string", "expected JSON integer at assets.config"},
        Refusal{"use_crf_zero", "expected JSON boolean at assets.config.use_crf"},
        Refusal{"source_number", "expected JSON string at assets.source_vocabulary[3]"},
        Refusal{"source_swapped", "MorphSeg vocabularies must begin with <PAD>, <UNK>"},
        Refusal{"source_single", "MorphSeg vocabularies must begin with <PAD>, <UNK>"},
        Refusal{"target_without_unknown", "MorphSeg vocabularies must begin with <PAD>, <UNK>"},
        Refusal{"source_duplicate", "MorphSeg source vocabulary contains duplicates"},
        Refusal{"float16_extra", "MorphSeg tensors must use float32: 'unused.scale'"},
        Refusal{"embedding_extra_row", "MorphSeg tensor has an unexpected shape: 'embedding.weight'"},
        Refusal{"flat_initial_state", "MorphSeg tensor has an unexpected shape: 'encoder.h_0'"},
        Refusal{"missing_reverse_bias", "missing MorphSeg tensor: 'encoder.lstm.bias_hh_l1_reverse'"}),
    [](const auto& info) { return std::string(info.param.bundle); });

TEST(MorphSegBundleLoading, BundleFaultsPassThroughAsTheBundlesOwnError) {
  MORPHSEG_REQUIRE_DATA();
  try {
    MorphSegPlan plan(morphseg_test::bundle("does_not_exist"), false);
    FAIL() << "the bundle loaded";
  } catch (const MorphSegModelError&) {
    FAIL() << "a bundle fault became a MorphSeg error";
  } catch (const velmora::ModelBundleError&) {
  }
}

TEST(MorphSegBundleLoading, AcceptsWhatTheContractAllows) {
  MORPHSEG_REQUIRE_DATA();
  // A repeated target entry ("COPY" twice in every test bundle) and an unused float32 tensor.
  for (const char* name : {"main", "float32_extra"}) {
    const MorphSegPlan plan(morphseg_test::bundle(name), true);
    EXPECT_EQ(plan.bundle().processor(), "morphseg") << name;
  }
  // No characters at all: every character is unknown, and words are still segmented.
  const MorphSegPlan reserved_only(morphseg_test::bundle("source_reserved_only"), true);
  EXPECT_EQ(reserved_only.segment("abc").size(), reserved_only.segment("xyz").size());
}

}  // namespace
