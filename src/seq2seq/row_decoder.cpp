// The row-by-row decoder step: preparation at load, and the step, computing per row what the
// tensor operators of seq2seq_decoder_step compute (network.cpp), in the same order of
// operations, each sum taken over its own row in a fixed order.

#include "seq2seq/row_decoder.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "seq2seq/model_state.hpp"

namespace velmora::detail {
namespace {

constexpr float kMasked = -1e12F;  // the score the tensor path gives masked positions and columns

// x·y over `width` floats, in eight partial sums so that it vectorizes.
float dot(const float* x, const float* y, std::int64_t width) {
  constexpr std::int64_t kLanes = 8;
  float partial[kLanes] = {};
  std::int64_t k = 0;
  for (; k + kLanes <= width; k += kLanes) {
    for (std::int64_t l = 0; l < kLanes; ++l) partial[l] += x[k + l] * y[k + l];
  }
  float sum = 0.0F;
  for (; k < width; ++k) sum += x[k] * y[k];
  for (const float value : partial) sum += value;
  return sum;
}

// log(Σ exp(values)) over a non-empty range, from its largest value.
float log_sum_exp(const float* values, std::int64_t count) {
  const float top = *std::max_element(values, values + count);
  if (std::isinf(top)) return top;
  float sum = 0.0F;
  for (std::int64_t k = 0; k < count; ++k) sum += std::exp(values[k] - top);
  return top + std::log(sum);
}

// log_sum_exp of a pair, bit for bit. When the smaller value lies more than 18 below the larger,
// its exponential is below half a unit in the last place of 1: the sum rounds to 1 and the result
// is the larger value itself, with no exponential or logarithm to compute. Most columns of the
// copy mixture are so, a copy probability of zero beside a generation probability.
float log_sum_exp_pair(float first, float second) {
  const float top = first < second ? second : first;  // as max_element: the first of equal values
  const float other = first < second ? first : second;
  if (!std::isinf(top) && other - top < -18.0F) return top + 0.0F;  // + log(1), as the sum would
  const float pair[2] = {first, second};
  return log_sum_exp(pair, 2);
}

float log_sigmoid(float x) { return std::min(x, 0.0F) - std::log1p(std::exp(-std::abs(x))); }

// The positions of row r that are not masked: those before the first masked one.
std::int64_t valid_positions(const std::optional<at::Tensor>& mask, std::int64_t row, std::int64_t positions) {
  if (!mask) return positions;
  const bool* masked = mask->const_data_ptr<bool>() + row * positions;
  return std::find(masked, masked + positions, true) - masked;
}

}  // namespace

std::optional<Seq2SeqRowDecoder> prepare_seq2seq_row_decoder(const Seq2SeqModel& model) {
  const auto tensor = [&](std::string_view name) { return seq2seq_tensor(model, name); };
  const at::Tensor& embedding = tensor("embedding.weight");
  for (const auto& [name, value] : model.tensors) {
    if (value.scalar_type() != at::kFloat) return std::nullopt;
  }
  std::optional<PreparedLstmStep> cell = PreparedLstmStep::prepare(
      {tensor("decoder.lstm_cell.weight_ih"), tensor("decoder.lstm_cell.weight_hh"),
       tensor("decoder.lstm_cell.bias_ih"), tensor("decoder.lstm_cell.bias_hh")},
      embedding.dim() == 2 ? embedding.size(1) : -1);
  const at::Tensor& query = tensor("decoder.attention_layer.linear_in.weight");
  const at::Tensor& output = tensor("decoder.attention_layer.linear_out.weight");
  const at::Tensor& generator = tensor("dec2vocab.weight");
  const std::int64_t hidden = model.hidden_dim;
  // Other shapes stay with the tensor path, which reports them.
  const bool fits = cell && query.dim() == 2 && query.size(0) == hidden && query.size(1) == hidden &&
                    output.dim() == 2 && output.size(0) == hidden && output.size(1) == 2 * hidden &&
                    generator.dim() == 2 && generator.size(1) == hidden &&
                    (!model.copy || (tensor("copy_gate.weight").dim() == 2 && tensor("copy_gate.weight").size(0) == 1 &&
                                     tensor("copy_gate.weight").size(1) == hidden));
  if (!fits) return std::nullopt;
  Seq2SeqRowDecoder decoder{embedding.contiguous(), std::move(*cell), RowProducts(query, at::Tensor()),
                            RowProducts(output, at::Tensor()), RowProducts(generator, tensor("dec2vocab.bias")),
                            std::nullopt};
  if (model.copy) decoder.gate = RowProducts(tensor("copy_gate.weight"), tensor("copy_gate.bias"));
  return decoder;
}

Seq2SeqStepOutput seq2seq_row_step(const Seq2SeqModel& model, at::Tensor& ids,
                                   const std::pair<at::Tensor, at::Tensor>& state, const at::Tensor& context,
                                   const at::Tensor& source_ids, std::int64_t extended_vocab_size, bool suppress_unk,
                                   const std::optional<at::Tensor>& source_mask,
                                   const std::optional<at::Tensor>& vocab_limits) {
  const Seq2SeqRowDecoder& decoder = *model.row_decoder;
  ids.masked_fill_(ids.ge(model.vocab_size), kUnkId);
  const at::Tensor x = decoder.embedding.index_select(0, ids);
  auto [h_layers, c_layers] = decoder.cell(x, state.first.unsqueeze(0), state.second.unsqueeze(0));
  const at::Tensor h = h_layers.squeeze(0);
  const at::Tensor query = decoder.query(h);

  const std::int64_t rows = h.size(0);
  const std::int64_t hidden = h.size(1);
  const std::int64_t positions = context.size(1);
  const at::Tensor contexts = context.contiguous();
  const at::Tensor sources = source_ids.contiguous();
  const at::Tensor limits = vocab_limits ? vocab_limits->contiguous() : at::Tensor();
  const std::optional<at::Tensor> mask = source_mask ? std::optional<at::Tensor>(source_mask->contiguous()) : std::nullopt;
  // Per row: the attention scores (then their log-softmax) and [weighted context | h].
  std::vector<float> log_attention(static_cast<std::size_t>(rows * positions));
  at::Tensor joined = at::empty({rows, 2 * hidden}, at::kFloat);
  std::vector<std::int64_t> valid(static_cast<std::size_t>(rows));
  for (std::int64_t r = 0; r < rows; ++r) {
    const std::int64_t count = valid_positions(mask, r, positions);
    valid[static_cast<std::size_t>(r)] = count;
    const float* row_context = contexts.const_data_ptr<float>() + r * positions * hidden;
    const float* q = query.const_data_ptr<float>() + r * hidden;
    float* scores = log_attention.data() + r * positions;
    for (std::int64_t t = 0; t < count; ++t) scores[t] = dot(row_context + t * hidden, q, hidden);
    const float top = *std::max_element(scores, scores + count);
    float total = 0.0F;
    for (std::int64_t t = 0; t < count; ++t) total += std::exp(scores[t] - top);
    const float log_total = std::log(total);
    float* weighted = joined.mutable_data_ptr<float>() + r * 2 * hidden;
    std::fill(weighted, weighted + hidden, 0.0F);
    for (std::int64_t t = 0; t < count; ++t) {
      // With copy the weights are exp(log-softmax), without it the softmax itself.
      const float weight = model.copy ? std::exp(scores[t] - top - log_total) : std::exp(scores[t] - top) / total;
      scores[t] = scores[t] - top - log_total;
      const float* position = row_context + t * hidden;
      for (std::int64_t k = 0; k < hidden; ++k) weighted[k] += weight * position[k];
    }
    std::copy_n(h.const_data_ptr<float>() + r * hidden, hidden, weighted + hidden);
  }
  const at::Tensor h_tilde = at::tanh(decoder.output(joined));
  at::Tensor logits = decoder.generator(h_tilde);
  const std::int64_t vocab = logits.size(1);
  const std::int64_t width = model.copy ? extended_vocab_size : vocab;
  at::Tensor result = model.copy ? at::empty({rows, width}, at::kFloat) : logits;
  const at::Tensor gates = model.copy ? (*decoder.gate)(h_tilde) : at::Tensor();
  std::vector<float> copied(static_cast<std::size_t>(model.copy ? width : 0));
  for (std::int64_t r = 0; r < rows; ++r) {
    float* generated = logits.mutable_data_ptr<float>() + r * vocab;
    const float normaliser = log_sum_exp(generated, vocab);
    for (std::int64_t v = 0; v < vocab; ++v) generated[v] -= normaliser;
    if (!model.copy) continue;
    // The copy distribution over the source ids (the POS position is never copied), mixed with
    // the generation distribution; an extended id has the generation probability of UNK.
    const std::int64_t first = model.pos ? 1 : 0;
    const std::int64_t count = valid[static_cast<std::size_t>(r)] - first;
    float* attention = log_attention.data() + r * positions + first;
    const float renormaliser = log_sum_exp(attention, count);
    const float gate = gates.const_data_ptr<float>()[r];
    const float log_gate = log_sigmoid(gate);
    float top = -std::numeric_limits<float>::infinity();
    for (std::int64_t t = 0; t < count; ++t) {
      attention[t] = log_gate + (attention[t] - renormaliser);
      top = std::max(top, attention[t]);
    }
    std::fill(copied.begin(), copied.end(), 0.0F);
    const std::int64_t* source = sources.const_data_ptr<std::int64_t>() + r * sources.size(1);
    for (std::int64_t t = 0; t < count; ++t) copied[static_cast<std::size_t>(source[t])] += std::exp(attention[t] - top);
    const float generation_scale = -std::log(std::exp(gate) + 1.0F);
    const std::int64_t limit = limits.defined() ? limits.const_data_ptr<std::int64_t>()[r] : width;
    float* out = result.mutable_data_ptr<float>() + r * width;
    for (std::int64_t v = 0; v < width; ++v) {
      const float copy = copied[static_cast<std::size_t>(v)] == 0.0F ? kMasked : std::log(copied[static_cast<std::size_t>(v)]) + top;
      const float generate = generated[v < vocab ? v : kUnkId] + generation_scale;
      out[v] = v < limit ? log_sum_exp_pair(copy, generate) : kMasked;
    }
  }
  if (suppress_unk) result.select(1, kUnkId).fill_(-std::numeric_limits<float>::infinity());
  return {result, h, c_layers.squeeze(0)};
}

}  // namespace velmora::detail
