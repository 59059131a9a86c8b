// Batched prediction: greedy decoding of many words in length-sorted, packed batches, or one
// beam search per word when the beam is wider than one. Consecutive batches of a hundred words
// or more (or one beam-searched word) make one unit on the intra-op threads: the batches are
// cut from the sorted words by the batch size alone, so every word's result is the same
// whatever the number of threads.

#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <limits>
#include <numeric>

#include "models/parallel_units.hpp"
#include "models/sentence_chunks.hpp"
#include "seq2seq/model_state.hpp"

namespace velmora::detail {
namespace {

// Units of parallel work: consecutive batches of about a thirty-second of the call's words, at
// least a hundred (some tens of milliseconds of work at realistic widths), at most 400.
constexpr ChunkLimits kUnitLimits{.max_sentences = std::numeric_limits<std::int64_t>::max(),
                                  .max_padded_rows = std::numeric_limits<std::int64_t>::max(),
                                  .target_chunks = 32,
                                  .least_rows = 100,
                                  .most_rows = 400};

at::Tensor view_of(std::vector<std::int64_t>& buffer, at::IntArrayRef shape) {
  return at::from_blob(buffer.data(), shape, at::TensorOptions().dtype(at::kLong));
}

// Decodes the words at `order[first, first + rows)` and stores their predictions.
void decode_batch(const Seq2SeqModel& model, const std::vector<Seq2SeqSource>& sources,
                  const std::vector<std::optional<std::string>>& pos, const std::vector<std::size_t>& order,
                  std::size_t first, std::size_t rows, bool suppress_unk, std::vector<Seq2SeqPrediction>& result) {
  c10::InferenceMode guard;
  const auto batch = static_cast<std::int64_t>(rows);
  const auto width = static_cast<std::int64_t>(sources[order[first]].ids.size());
  const std::int64_t positions = width + (model.pos ? 1 : 0);
  std::vector<std::int64_t> input_ids(static_cast<std::size_t>(batch * width), 0);
  std::vector<std::int64_t> source_ids(input_ids.size(), 0);
  std::vector<std::int64_t> lengths(rows);
  std::vector<std::int64_t> pos_ids(rows, kUnkId);
  std::vector<std::int64_t> limits(rows);
  std::int64_t extended_vocab_size = model.vocab_size;
  for (std::size_t r = 0; r < rows; ++r) {
    const std::size_t word = order[first + r];
    const std::vector<std::int64_t>& ids = sources[word].ids;
    std::int64_t largest = 0;
    for (std::size_t k = 0; k < ids.size(); ++k) {
      source_ids[r * static_cast<std::size_t>(width) + k] = ids[k];
      input_ids[r * static_cast<std::size_t>(width) + k] = ids[k] >= model.vocab_size ? kUnkId : ids[k];
      largest = std::max(largest, ids[k]);
    }
    lengths[r] = static_cast<std::int64_t>(ids.size()) + (model.pos ? 1 : 0);
    if (model.pos) {
      if (!pos[word]) throw Seq2SeqModelError("this seq2seq bundle requires a POS tag");
      pos_ids[r] = seq2seq_pos_id(model, *pos[word]);
    }
    limits[r] = model.copy ? std::max(model.vocab_size, largest + 1) : model.vocab_size;
    extended_vocab_size = std::max(extended_vocab_size, limits[r]);
  }
  const at::Tensor sources_tensor = view_of(source_ids, {batch, width});
  const at::Tensor lengths_tensor = view_of(lengths, {batch});
  const at::Tensor limits_tensor = view_of(limits, {batch});

  at::Tensor x = at::embedding(seq2seq_tensor(model, "embedding.weight"), view_of(input_ids, {batch, width}));
  if (model.pos) {
    const at::Tensor p = at::embedding(seq2seq_tensor(model, "pos_embedding.weight"), view_of(pos_ids, {batch}));
    x = at::cat({p.unsqueeze(1), x}, 1);
  }
  auto [packed, batch_sizes] = at::_pack_padded_sequence(x, lengths_tensor, /*batch_first=*/true);
  std::vector<at::Tensor> initial;
  for (const at::Tensor& zero : model.encoder_zero_state) {
    initial.push_back(zero.expand({zero.size(0), batch, zero.size(2)}).contiguous());
  }
  auto [packed_out, hn, cn] = at::lstm(packed, batch_sizes, initial, model.encoder_weights, /*has_biases=*/true,
                                       model.num_layers, /*dropout=*/0.0, /*train=*/false, /*bidirectional=*/true);
  const at::Tensor outputs = std::get<0>(
      at::_pad_packed_sequence(packed_out, batch_sizes, /*batch_first=*/true, /*padding_value=*/0.0, positions));
  const at::Tensor h0 = at::cat({hn[-1], hn[-2]}, 1);
  const at::Tensor c0 = at::cat({cn[-1], cn[-2]}, 1);
  const at::Tensor mask = at::arange(positions, at::kLong).unsqueeze(0).ge(lengths_tensor.unsqueeze(1));

  std::vector<std::int64_t> edit_classes;
  if (model.edit) edit_classes = seq2seq_edit_classes(model, h0);

  std::vector<std::vector<std::int64_t>> output(rows);
  std::vector<bool> finished(rows, false);
  // The step's tensors hold the rows `live` names, in that order. Finished rows decode on,
  // unread, until a quarter of the rows have finished; then they leave the tensors. A row's
  // step reads no other row, so this saves their work without changing the others' outputs
  // beyond rounding.
  std::vector<std::int64_t> live(rows);
  std::iota(live.begin(), live.end(), std::int64_t{0});
  at::Tensor context = outputs;
  at::Tensor source_rows = sources_tensor;
  at::Tensor mask_rows = mask;
  at::Tensor limit_rows = limits_tensor;
  std::pair<at::Tensor, at::Tensor> state{h0, c0};
  at::Tensor previous = at::full({batch}, kStartId, at::kLong);
  for (std::int64_t step = 0; step < model.max_dec_len; ++step) {
    Seq2SeqStepOutput out = seq2seq_decoder_step(model, previous, state, context, source_rows, extended_vocab_size,
                                                 suppress_unk, mask_rows, limit_rows);
    previous = out.log_probs.argmax(1).contiguous();
    state = {out.h, out.c};
    const std::int64_t* chosen = previous.data_ptr<std::int64_t>();
    bool appended = false;
    std::size_t unfinished = 0;
    for (std::size_t k = 0; k < live.size(); ++k) {
      const auto r = static_cast<std::size_t>(live[k]);
      if (finished[r]) continue;
      if (chosen[k] == kEndId) {
        finished[r] = true;
      } else {
        output[r].push_back(chosen[k]);
        appended = true;
        ++unfinished;
      }
    }
    if (!appended) break;
    if (4 * unfinished <= 3 * live.size()) {
      std::vector<std::int64_t> kept;  // positions in the tensors
      for (std::size_t k = 0; k < live.size(); ++k) {
        if (!finished[static_cast<std::size_t>(live[k])]) kept.push_back(static_cast<std::int64_t>(k));
      }
      const at::Tensor index = at::tensor(kept, at::kLong);
      for (at::Tensor* tensor : {&context, &source_rows, &mask_rows, &limit_rows, &state.first, &state.second, &previous}) {
        *tensor = tensor->index_select(0, index);
      }
      for (std::int64_t& row : kept) row = live[static_cast<std::size_t>(row)];
      live = std::move(kept);
    }
  }
  for (std::size_t r = 0; r < rows; ++r) {
    const std::size_t word = order[first + r];
    result[word].text = seq2seq_output_text(model, output[r], sources[word].oov_chars);
    if (model.edit) result[word].edit_class = edit_classes[r];
  }
}

}  // namespace

std::vector<Seq2SeqPrediction> seq2seq_predict_batch(const Seq2SeqModel& model, const std::vector<std::string>& words,
                                                     const std::vector<std::optional<std::string>>& pos,
                                                     std::optional<long long> beam_size, bool suppress_unk) {
  if (words.size() != pos.size()) throw Seq2SeqModelError("seq2seq text and POS batches must have equal lengths");
  const long long beam = beam_size.value_or(model.beam_size);
  if (beam < 1) throw Seq2SeqModelError("beam size must be positive");
  std::vector<Seq2SeqPrediction> result;
  if (beam != 1) {
    result.resize(words.size());
    for_each_unit(words.size(), [&](std::size_t i) {
      result[i] = seq2seq_predict_one(model, words[i], pos[i], beam, suppress_unk);
    });
    return result;
  }

  std::vector<Seq2SeqSource> sources;
  sources.reserve(words.size());
  for (const std::string& word : words) sources.push_back(seq2seq_encode_source(model.vocab, word));
  std::vector<std::size_t> order(words.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return sources[a].ids.size() > sources[b].ids.size(); });
  result.resize(words.size());
  // Batch bounds as counts, so that a huge configured batch size cannot overflow an index.
  const auto batch_size = static_cast<std::uint64_t>(model.batch_size);
  std::vector<std::int64_t> batch_words;
  for (std::size_t first = 0; first < order.size(); first += batch_words.back()) {
    batch_words.push_back(static_cast<std::int64_t>(std::min<std::uint64_t>(batch_size, order.size() - first)));
  }
  const std::vector<SentenceChunk> units = chunk_sentences(batch_words, kUnitLimits);
  for_each_unit(units.size(), [&](std::size_t unit) {
    std::size_t first = 0;
    for (std::size_t batch = 0; batch < units[unit].begin; ++batch) first += static_cast<std::size_t>(batch_words[batch]);
    for (std::size_t batch = units[unit].begin; batch < units[unit].end; ++batch) {
      const auto rows = static_cast<std::size_t>(batch_words[batch]);
      decode_batch(model, sources, pos, order, first, rows, suppress_unk, result);
      first += rows;
    }
  });
  return result;
}

}  // namespace velmora::detail
