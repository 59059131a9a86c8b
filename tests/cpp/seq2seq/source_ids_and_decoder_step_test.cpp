// Words as source ids with extended ids for unknown characters, and the shape and masking
// rules of one decoder step.

#include <c10/core/InferenceMode.h>

#include <limits>

#include "seq2seq/model_state.hpp"
#include "seq2seq/test_support.hpp"

namespace velmora::detail {
namespace {

using namespace seq2seq_test;

TEST(SourceIds, UnknownCharactersGetExtendedIdsInOrderOfFirstOccurrence) {
  const auto model = load_seq2seq_model(TestData::bundle("plain"), false);
  const std::int64_t V = model->vocab_size;
  const std::int64_t a = model->vocab.unit2id.at("a");
  EXPECT_EQ(seq2seq_encode_source(model->vocab, "").ids, (std::vector<std::int64_t>{2, 3}));
  const Seq2SeqSource twice = seq2seq_encode_source(model->vocab, "zz");
  EXPECT_EQ(twice.ids, (std::vector<std::int64_t>{2, V, V, 3}));
  EXPECT_EQ(twice.oov_chars, (std::vector<std::string>{"z"}));
  const Seq2SeqSource mixed = seq2seq_encode_source(model->vocab, "qaz%q");
  EXPECT_EQ(mixed.ids, (std::vector<std::int64_t>{2, V, a, V + 1, V + 2, V, 3}));
  EXPECT_EQ(mixed.oov_chars, (std::vector<std::string>{"q", "z", "%"}));
  EXPECT_EQ(seq2seq_output_text(*model, {a, V + 1, V + 3, 1, 0}, mixed.oov_chars), "az<UNK><UNK><PAD>");
}

TEST(DecoderStep, WidthsMaskingAndUnknownSuppression) {
  c10::InferenceMode guard;
  for (const std::string name : {"plain", "copy_float64"}) {
    const auto model = load_seq2seq_model(TestData::bundle(name), false);
    const std::int64_t V = model->vocab_size;
    const Seq2SeqSource source = seq2seq_encode_source(model->vocab, "zqa");
    const Seq2SeqEncoding encoding = seq2seq_encode(*model, source.ids, std::nullopt);
    const at::Tensor source_ids = at::tensor(source.ids, at::kLong).unsqueeze(0);
    const std::int64_t extended = V + 2;
    at::Tensor ids = at::full({1}, V + 1, at::kLong);
    const Seq2SeqStepOutput out = seq2seq_decoder_step(*model, ids, {encoding.h0, encoding.c0}, encoding.outputs,
                                                       source_ids, extended, /*suppress_unk=*/true);
    EXPECT_EQ(ids.item<std::int64_t>(), 1) << name;  // an extended id is fed back as UNK
    EXPECT_EQ(out.log_probs.size(1), model->copy ? extended : V) << name;
    EXPECT_EQ(out.log_probs[0][1].item<double>(), -std::numeric_limits<double>::infinity()) << name;
    if (model->copy) {
      // A column limit below the extended size masks the columns from it on.
      at::Tensor again = at::full({1}, 2, at::kLong);
      const Seq2SeqStepOutput limited =
          seq2seq_decoder_step(*model, again, {encoding.h0, encoding.c0}, encoding.outputs, source_ids, extended,
                               false, std::nullopt, at::full({1}, V + 1, at::kLong));
      EXPECT_EQ(limited.log_probs[0][V + 1].item<double>(), -1e12);
      EXPECT_GT(limited.log_probs[0][V].item<double>(), -1e12);
    }
  }
}

}  // namespace
}  // namespace velmora::detail
