// The seq2seq network: a word as source ids, the encoder pass over one word, the edit
// classifier and one attention decoder step with the copy mechanism.

#include <limits>

#include "seq2seq/model_state.hpp"
#include "velmora/utf8_text.hpp"

namespace velmora::detail {
namespace {

// A view over a caller-owned id buffer; the buffer outlives every use of the tensor.
at::Tensor id_view(const std::vector<std::int64_t>& ids, at::IntArrayRef shape) {
  return at::from_blob(const_cast<std::int64_t*>(ids.data()), shape, at::TensorOptions().dtype(at::kLong));
}

// The copy distribution mixed with the generation distribution over V' columns.
at::Tensor mix_copy(const Seq2SeqModel& model, at::Tensor gen, const at::Tensor& h_tilde, at::Tensor log_attn,
                    const at::Tensor& source_ids, std::int64_t extended_vocab_size) {
  const std::int64_t rows = gen.size(0);
  const std::int64_t vocab = gen.size(1);
  const at::Tensor gate =
      at::linear(h_tilde, seq2seq_tensor(model, "copy_gate.weight"), seq2seq_tensor(model, "copy_gate.bias"));
  // The POS position takes part in attention but can never be copied.
  if (model.pos) log_attn = log_attn.slice(1, 1);
  log_attn = at::log_softmax(log_attn, -1);
  const at::Tensor log_copy = at::log_sigmoid(gate) + log_attn;
  const at::Tensor top = std::get<0>(at::max(log_copy, -1, /*keepdim=*/true));
  const at::Tensor mass = at::exp(log_copy - top);
  at::Tensor copied = at::zeros({rows, extended_vocab_size}, gen.options());
  copied.scatter_add_(-1, source_ids, mass);
  const at::Tensor absent = copied.eq(0);
  at::Tensor log_copied = at::log(copied.masked_fill(absent, 1e-12)) + top;
  log_copied.masked_fill_(absent, -1e12);
  const at::Tensor log_gen_scale = -at::log(at::exp(gate) + 1);
  if (vocab < extended_vocab_size) {
    // An extended id has the generation probability of UNK.
    gen = at::cat({gen, gen.slice(1, kUnkId, kUnkId + 1).expand({rows, extended_vocab_size - vocab})}, 1);
  }
  return at::logsumexp(at::stack({log_copied, gen + log_gen_scale}, 0), 0);
}

}  // namespace

Seq2SeqSource seq2seq_encode_source(const Seq2SeqVocab& vocab, const std::string& word) {
  const Utf8Text text{std::string(word)};
  const auto size = static_cast<std::int64_t>(vocab.id2unit.size());
  Seq2SeqSource source;
  source.ids.reserve(text.codepoint_count() + 2);
  source.ids.push_back(kStartId);
  StringMap<std::int64_t> unknown;
  for (std::size_t i = 0; i < text.codepoint_count(); ++i) {
    std::string character = text.slice(i, i + 1);
    const auto known = vocab.unit2id.find(character);
    // An id outside the vocabulary would alias an extended id (or reach past the tables), so
    // such an entry counts as unknown and the copy mechanism keeps the character.
    if (known != vocab.unit2id.end() && known->second >= 0 && known->second < size) {
      source.ids.push_back(known->second);
      continue;
    }
    const auto seen = unknown.find(character);
    if (seen != unknown.end()) {
      source.ids.push_back(seen->second);
      continue;
    }
    const std::int64_t id = size + static_cast<std::int64_t>(source.oov_chars.size());
    unknown.emplace(character, id);
    source.ids.push_back(id);
    source.oov_chars.push_back(std::move(character));
  }
  source.ids.push_back(kEndId);
  return source;
}

std::int64_t seq2seq_pos_id(const Seq2SeqModel& model, const std::string& tag) {
  const auto found = model.pos_vocab->unit2id.find(tag);
  return found == model.pos_vocab->unit2id.end() ? kUnkId : found->second;
}

Seq2SeqEncoding seq2seq_encode(const Seq2SeqModel& model, const std::vector<std::int64_t>& source_ids,
                               const std::optional<std::string>& pos) {
  const auto length = static_cast<std::int64_t>(source_ids.size());
  const at::Tensor input_ids = id_view(source_ids, {1, length}).clone();
  input_ids.masked_fill_(input_ids.ge(model.vocab_size), kUnkId);
  at::Tensor embedded = at::embedding(seq2seq_tensor(model, "embedding.weight"), input_ids);
  if (model.pos) {
    if (!pos) throw Seq2SeqModelError("this seq2seq bundle requires a POS tag");
    const at::Tensor pos_id = at::full({1}, seq2seq_pos_id(model, *pos), at::kLong);
    const at::Tensor pos_vector = at::embedding(seq2seq_tensor(model, "pos_embedding.weight"), pos_id).unsqueeze(0);
    embedded = at::cat({pos_vector, embedded}, 1);
  }
  auto [outputs, hn, cn] = at::lstm(embedded, model.encoder_zero_state, model.encoder_weights, /*has_biases=*/true,
                                    model.num_layers, /*dropout=*/0.0, /*train=*/false, /*bidirectional=*/true,
                                    /*batch_first=*/true);
  return {outputs, at::cat({hn[-1], hn[-2]}, 1), at::cat({cn[-1], cn[-2]}, 1)};
}

std::vector<std::int64_t> seq2seq_edit_classes(const Seq2SeqModel& model, const at::Tensor& h0) {
  const at::Tensor hidden =
      at::relu(at::linear(h0, seq2seq_tensor(model, "edit_clf.0.weight"), seq2seq_tensor(model, "edit_clf.0.bias")));
  const at::Tensor logits =
      at::linear(hidden, seq2seq_tensor(model, "edit_clf.2.weight"), seq2seq_tensor(model, "edit_clf.2.bias"));
  const at::Tensor classes = logits.argmax(1).contiguous();
  const std::int64_t* data = classes.data_ptr<std::int64_t>();
  return {data, data + classes.numel()};
}

Seq2SeqStepOutput seq2seq_decoder_step(const Seq2SeqModel& model, at::Tensor& ids,
                                       const std::pair<at::Tensor, at::Tensor>& state, const at::Tensor& context,
                                       const at::Tensor& source_ids, std::int64_t extended_vocab_size,
                                       bool suppress_unk, const std::optional<at::Tensor>& source_mask,
                                       const std::optional<at::Tensor>& vocab_limits) {
  if (model.row_decoder) {
    return seq2seq_row_step(model, ids, state, context, source_ids, extended_vocab_size, suppress_unk, source_mask,
                            vocab_limits);
  }
  ids.masked_fill_(ids.ge(model.vocab_size), kUnkId);
  const at::Tensor x = at::embedding(seq2seq_tensor(model, "embedding.weight"), ids);
  auto [h, c] = at::lstm_cell(x, {state.first, state.second}, seq2seq_tensor(model, "decoder.lstm_cell.weight_ih"),
                              seq2seq_tensor(model, "decoder.lstm_cell.weight_hh"),
                              seq2seq_tensor(model, "decoder.lstm_cell.bias_ih"),
                              seq2seq_tensor(model, "decoder.lstm_cell.bias_hh"));
  const at::Tensor query = at::linear(h, seq2seq_tensor(model, "decoder.attention_layer.linear_in.weight")).unsqueeze(2);
  at::Tensor scores = at::bmm(context, query).squeeze(2);
  if (source_mask) scores.masked_fill_(*source_mask, -1e12);
  const at::Tensor log_attn = at::log_softmax(scores, 1);
  const at::Tensor attn = model.copy ? at::exp(log_attn) : at::softmax(scores, 1);
  const at::Tensor weighted = at::bmm(attn.unsqueeze(1), context).squeeze(1);
  const at::Tensor h_tilde =
      at::tanh(at::linear(at::cat({weighted, h}, 1), seq2seq_tensor(model, "decoder.attention_layer.linear_out.weight")));
  at::Tensor result = at::log_softmax(
      at::linear(h_tilde, seq2seq_tensor(model, "dec2vocab.weight"), seq2seq_tensor(model, "dec2vocab.bias")), 1);
  if (model.copy) {
    result = mix_copy(model, result, h_tilde, log_attn, source_ids, extended_vocab_size);
    if (vocab_limits) {
      const at::Tensor columns = at::arange(result.size(1), at::kLong).unsqueeze(0);
      result.masked_fill_(columns.ge(vocab_limits->unsqueeze(1)), -1e12);
    }
  }
  if (suppress_unk) result.select(1, kUnkId).fill_(-std::numeric_limits<double>::infinity());
  return {result, h, c};
}

std::string seq2seq_output_text(const Seq2SeqModel& model, const std::vector<std::int64_t>& ids,
                                const std::vector<std::string>& oov_chars) {
  const auto size = static_cast<std::int64_t>(model.vocab.id2unit.size());
  const auto extended = size + static_cast<std::int64_t>(oov_chars.size());
  std::string text;
  for (const std::int64_t id : ids) {
    if (id >= 0 && id < size) {
      text += model.vocab.id2unit[static_cast<std::size_t>(id)];
    } else if (id >= size && id < extended) {
      text += oov_chars[static_cast<std::size_t>(id - size)];
    } else {
      text += "<UNK>";
    }
  }
  return text;
}

}  // namespace velmora::detail
