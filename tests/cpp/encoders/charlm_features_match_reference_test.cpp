// Character LM word features against the PyTorch reference: forward and backward reading,
// unknown characters with and without "<UNK>", empty words and sentences, multi-byte
// characters, batched encoding in input order across chunks, and low-precision bundles.

#include <gtest/gtest.h>

#include <ATen/ATen.h>

#include <memory>

#include "test_data.hpp"
#include "encoders/charlm_native.hpp"
#include "support/raw_tensor.hpp"
#include "velmora/charlm.hpp"
#include "velmora/model_bundle.hpp"

namespace {

using encoder_test::data_dir;
using encoder_test::expect_close;
using velmora::detail::NativeCharLM;

struct BundleCase {
  std::string name;
  bool forward;
  double tolerance;
};

const std::vector<BundleCase> kBundles = {
    {"forward", true, 1e-5}, {"backward", false, 1e-5}, {"forward_float16", true, 2e-2}, {"backward_bfloat16", false, 5e-2}};

std::unique_ptr<NativeCharLM> load_model(const std::string& name, const std::string& prefix = "") {
  auto bundle = std::make_shared<velmora::ModelBundle>(data_dir() / "charlm" / name, false);
  const auto assets = velmora::detail::parse_json(bundle->assets_json());
  return std::make_unique<NativeCharLM>(bundle, prefix, assets);
}

at::Tensor expected(const std::string& bundle, std::size_t sentence) {
  return velmora::testing::read_raw_tensor(data_dir() / "charlm" / (bundle + ".expected") /
                                           (std::to_string(sentence) + ".bin"));
}

class CharLMFeatures : public ::testing::Test {
 protected:
  void SetUp() override {
    encoder_test::require_data();
    sentences_ = encoder_test::read_sentences(data_dir() / "charlm" / "sentences.json");
  }
  std::vector<std::vector<std::string>> sentences_;
};

TEST_F(CharLMFeatures, EachSentenceMatchesTheReferenceInBothDirections) {
  for (const auto& bundle : kBundles) {
    const auto model = load_model(bundle.name);
    EXPECT_EQ(model->is_forward(), bundle.forward);
    EXPECT_EQ(model->hidden_size(), 5);
    for (std::size_t s = 0; s < sentences_.size(); ++s) {
      SCOPED_TRACE(bundle.name + " sentence " + std::to_string(s));
      const at::Tensor features = model->encode(sentences_[s]);
      EXPECT_TRUE(features.is_contiguous());
      EXPECT_EQ(features.size(1), 5);
      expect_close(features, expected(bundle.name, s), bundle.tolerance, bundle.tolerance);
    }
  }
}

TEST_F(CharLMFeatures, BatchedEncodingKeepsInputOrderAcrossChunks) {
  ASSERT_GT(sentences_.size(), 64U) << "the sentences must span two chunks";
  for (const auto& bundle : kBundles) {
    const auto model = load_model(bundle.name);
    const std::vector<at::Tensor> batched = model->encode_many(sentences_);
    ASSERT_EQ(batched.size(), sentences_.size());
    for (std::size_t s = 0; s < sentences_.size(); ++s) {
      SCOPED_TRACE(bundle.name + " sentence " + std::to_string(s));
      EXPECT_EQ(batched[s].scalar_type(), model->encode({"a"}).scalar_type());
      expect_close(batched[s], expected(bundle.name, s), bundle.tolerance, bundle.tolerance);
    }
  }
}

TEST_F(CharLMFeatures, NoWordsGiveNoRows) {
  const auto model = load_model("forward");
  EXPECT_EQ(model->encode({}).sizes(), (at::IntArrayRef{0, 5}));
  EXPECT_TRUE(model->encode_many({}).empty());
  const auto batched = model->encode_many({{"ab"}, {}, {"c", "d"}});
  ASSERT_EQ(batched.size(), 3U);
  EXPECT_EQ(batched[1].sizes(), (at::IntArrayRef{0, 5}));
  EXPECT_EQ(batched[1].scalar_type(), at::kFloat);
  EXPECT_EQ(batched[2].sizes(), (at::IntArrayRef{2, 5}));
}

TEST_F(CharLMFeatures, MalformedWordIsRefusedByTheTextDecoder) {
  const auto model = load_model("backward");
  EXPECT_THROW(model->encode({"ok", std::string("\xC3", 1)}), std::invalid_argument);
  EXPECT_THROW(model->encode_many({{"ok"}, {std::string("a\xFF", 2)}}), std::invalid_argument);
}

TEST_F(CharLMFeatures, StandalonePlanGivesFloatRowsOfEveryPrecision) {
  for (const auto& bundle : kBundles) {
    SCOPED_TRACE(bundle.name);
    const velmora::CharLMPlan plan(data_dir() / "charlm" / bundle.name, true);
    EXPECT_EQ(plan.is_forward(), bundle.forward);
    EXPECT_EQ(plan.hidden_size(), 5);
    EXPECT_EQ(plan.bundle().processor(), bundle.forward ? "forward_charlm" : "backward_charlm");
    EXPECT_TRUE(plan.encode({}).empty());
    const auto rows = plan.encode(sentences_[3]);
    const at::Tensor reference = expected(bundle.name, 3);
    ASSERT_EQ(static_cast<std::int64_t>(rows.size()), reference.size(0));
    at::Tensor values = at::empty({reference.size(0), 5});
    for (std::size_t i = 0; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i].size(), 5U);
      for (std::size_t j = 0; j < 5; ++j) values[static_cast<long>(i)][static_cast<long>(j)] = rows[i][j];
    }
    expect_close(values, reference, bundle.tolerance, bundle.tolerance);
  }
}

TEST_F(CharLMFeatures, MovedPlanKeepsItsModel) {
  velmora::CharLMPlan first(data_dir() / "charlm" / "forward", false);
  velmora::CharLMPlan second(std::move(first));
  velmora::CharLMPlan third(data_dir() / "charlm" / "backward", false);
  third = std::move(second);
  EXPECT_TRUE(third.is_forward());
  EXPECT_EQ(third.encode({"abc", "déf"}).size(), 2U);
}

}  // namespace

namespace {

// A character LM of the usual width splits its steps between workers: every sentence's rows are
// the same bits at every thread count, alone or batched, and through the standalone plan.
TEST_F(CharLMFeatures, WideModelGivesTheSameBitsAtEveryThreadCountAloneOrBatched) {
  const auto model = load_model("wide");
  const std::vector<at::Tensor> reference = model->encode_many(sentences_);
  for (std::size_t s = 0; s < sentences_.size(); ++s) {
    SCOPED_TRACE("sentence " + std::to_string(s));
    expect_close(reference[s], expected("wide", s), 1e-5, 1e-5);
    EXPECT_TRUE(at::equal(model->encode(sentences_[s]), reference[s]));
  }
  const velmora::CharLMPlan plan(data_dir() / "charlm" / "wide", false);
  for (const int threads : {2, 3, 8}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    at::set_num_threads(threads);
    const std::vector<at::Tensor> batched = model->encode_many(sentences_);
    for (std::size_t s = 0; s < sentences_.size(); ++s) EXPECT_TRUE(at::equal(batched[s], reference[s])) << s;
    for (const std::size_t s : {std::size_t{3}, std::size_t{8}}) {
      EXPECT_TRUE(at::equal(model->encode(sentences_[s]), reference[s])) << s;
      const auto rows = plan.encode(sentences_[s]);
      ASSERT_EQ(static_cast<std::int64_t>(rows.size()), reference[s].size(0));
      for (std::size_t i = 0; i < rows.size(); ++i) {
        const at::Tensor row = at::from_blob(const_cast<float*>(rows[i].data()), {reference[s].size(1)}, at::kFloat);
        EXPECT_TRUE(at::equal(row, reference[s][static_cast<std::int64_t>(i)])) << s << " word " << i;
      }
    }
  }
  at::set_num_threads(1);
}

}  // namespace
