// Single-word prediction: encoder, edit classifier, then greedy decoding or beam search.

#include <c10/core/InferenceMode.h>

#include <algorithm>

#include "seq2seq/model_state.hpp"

namespace velmora::detail {
namespace {

// Room for the output ids; a bundle may configure a huge maximum that is never reached.
constexpr std::int64_t kReservedOutput = 256;

struct Seq2SeqBeamHypothesis {
  double score = 0.0;
  std::vector<std::int64_t> tokens;
  at::Tensor h;
  at::Tensor c;
  std::int64_t last_token = kStartId;
};

std::vector<std::int64_t> greedy_decode(const Seq2SeqModel& model, const Seq2SeqEncoding& encoding,
                                        const at::Tensor& source, std::int64_t extended_vocab_size,
                                        bool suppress_unk) {
  std::vector<std::int64_t> output;
  output.reserve(static_cast<std::size_t>(std::min(model.max_dec_len, kReservedOutput)));
  std::pair<at::Tensor, at::Tensor> state{encoding.h0, encoding.c0};
  at::Tensor input = at::empty({1}, at::kLong);
  std::int64_t previous = kStartId;
  for (std::int64_t step = 0; step < model.max_dec_len; ++step) {
    input.fill_(previous);
    Seq2SeqStepOutput out =
        seq2seq_decoder_step(model, input, state, encoding.outputs, source, extended_vocab_size, suppress_unk);
    previous = out.log_probs.argmax(1).item<std::int64_t>();
    state = {out.h, out.c};
    if (previous == kEndId) break;
    output.push_back(previous);
  }
  return output;
}

std::vector<std::int64_t> beam_decode(const Seq2SeqModel& model, const Seq2SeqEncoding& encoding,
                                      const at::Tensor& source, std::int64_t extended_vocab_size, bool suppress_unk,
                                      std::int64_t beam_size) {
  std::vector<Seq2SeqBeamHypothesis> beam{{0.0, {}, encoding.h0, encoding.c0, kStartId}};
  for (std::int64_t step = 0; step < model.max_dec_len; ++step) {
    const auto count = static_cast<std::int64_t>(beam.size());
    std::vector<std::int64_t> last(beam.size());
    std::vector<double> scores(beam.size());
    std::vector<at::Tensor> hs;
    std::vector<at::Tensor> cs;
    for (std::size_t r = 0; r < beam.size(); ++r) {
      last[r] = beam[r].last_token;
      scores[r] = beam[r].score;
      hs.push_back(beam[r].h);
      cs.push_back(beam[r].c);
    }
    at::Tensor input = at::tensor(last, at::kLong);
    Seq2SeqStepOutput out = seq2seq_decoder_step(model, input, {at::cat(hs, 0), at::cat(cs, 0)},
                                                 encoding.outputs.repeat({count, 1, 1}), source.repeat({count, 1}),
                                                 extended_vocab_size, suppress_unk);
    const std::int64_t width = out.log_probs.size(1);
    const at::Tensor totals =
        out.log_probs + at::tensor(scores, at::kDouble).to(out.log_probs.scalar_type()).unsqueeze(1);
    const std::int64_t picks = std::min(beam_size, count * width);
    auto [values, indices] = at::topk(totals.reshape({-1}), picks, /*dim=*/0, /*largest=*/true, /*sorted=*/true);
    const at::Tensor values_double = values.to(at::kDouble).contiguous();
    const at::Tensor flat = indices.contiguous();
    std::vector<Seq2SeqBeamHypothesis> next;
    next.reserve(static_cast<std::size_t>(picks));
    for (std::int64_t k = 0; k < picks; ++k) {
      const std::int64_t index = flat.data_ptr<std::int64_t>()[k];
      const std::int64_t parent = index / width;
      const std::int64_t id = index - parent * width;
      Seq2SeqBeamHypothesis hypothesis;
      hypothesis.score = values_double.data_ptr<double>()[k];
      hypothesis.tokens = beam[static_cast<std::size_t>(parent)].tokens;
      hypothesis.tokens.push_back(id);
      hypothesis.h = out.h.slice(0, parent, parent + 1);
      hypothesis.c = out.c.slice(0, parent, parent + 1);
      hypothesis.last_token = id;
      next.push_back(std::move(hypothesis));
    }
    beam = std::move(next);
    if (beam.front().last_token == kEndId) break;
  }
  std::vector<std::int64_t>& best = beam.front().tokens;
  best.erase(std::find(best.begin(), best.end(), kEndId), best.end());
  return best;
}

}  // namespace

Seq2SeqPrediction seq2seq_predict_one(const Seq2SeqModel& model, const std::string& word,
                                      const std::optional<std::string>& pos, std::optional<long long> beam_size,
                                      bool suppress_unk) {
  c10::InferenceMode guard;
  const Seq2SeqSource source = seq2seq_encode_source(model.vocab, word);
  const auto length = static_cast<std::int64_t>(source.ids.size());
  const at::Tensor source_ids =
      at::from_blob(const_cast<std::int64_t*>(source.ids.data()), {1, length}, at::TensorOptions().dtype(at::kLong));
  const Seq2SeqEncoding encoding = seq2seq_encode(model, source.ids, pos);
  std::int64_t extended_vocab_size = model.vocab_size;
  if (model.copy) {
    extended_vocab_size = std::max(model.vocab_size, *std::max_element(source.ids.begin(), source.ids.end()) + 1);
  }
  Seq2SeqPrediction prediction;
  if (model.edit) prediction.edit_class = seq2seq_edit_classes(model, encoding.h0).front();
  const long long beam = beam_size.value_or(model.beam_size);
  if (beam < 1) throw Seq2SeqModelError("beam size must be positive");
  const std::vector<std::int64_t> output =
      beam == 1 ? greedy_decode(model, encoding, source_ids, extended_vocab_size, suppress_unk)
                : beam_decode(model, encoding, source_ids, extended_vocab_size, suppress_unk, beam);
  prediction.text = seq2seq_output_text(model, output, source.oov_chars);
  return prediction;
}

}  // namespace velmora::detail
