#include "tokenize/network.hpp"

#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <span>

#include "models/parallel_units.hpp"
#include "models/sentence_chunks.hpp"
#include "tokenize/address_repair.hpp"
#include "tokenize/features.hpp"
#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

using Plan = TokenizerPlan::Impl;

// Paragraphs of a batch that run through the network together (see add_batch).
constexpr std::size_t kRowsPerPass = 8;

// Units of parallel work: consecutive passes (see run_items) of about a thirty-second of the
// call's characters, at least 8192 and at most 32768. A unit is then some tens of milliseconds
// of work, more than a parallel region costs on a busy machine, where waking the pool's
// threads can take as long as the scheduler keeps them waiting.
constexpr ChunkLimits kUnitLimits{.max_sentences = std::numeric_limits<std::int64_t>::max(),
                                  .max_padded_rows = std::numeric_limits<std::int64_t>::max(),
                                  .target_chunks = 32,
                                  .least_rows = 8192,
                                  .most_rows = 32768};

std::vector<std::int64_t> unit_ids(const Plan& state, const TokenizerParagraph& units) {
  std::vector<std::int64_t> ids;
  ids.reserve(units.size());
  for (const auto& unit : units) {
    const auto found = state.unit_to_id.find(unit.text);
    ids.push_back(found == state.unit_to_id.end() ? state.unk_id : found->second);
  }
  return ids;
}

// log(sigmoid(x)) as the tensor library computes it: min(x, 0) - log1p(exp(-|x|)).
float log_sigmoid(float x) { return std::min(x, 0.0F) - std::log1p(std::exp(-std::abs(x))); }

// The first LSTM over packed rows of units ([N, 2H]). Its input, [embedding | features], is
// linear in both parts, so its projection is gathered: the unit's precomputed embedding row
// projection plus the projection row of every non-zero feature. Without the table (a
// vocabulary too large for it, or shapes that do not fit) the input is built and multiplied.
at::Tensor first_layer_output(const Plan& state, std::span<const std::int64_t> ids, const float* features,
                              std::span<const std::int64_t> lengths) {
  const auto units = static_cast<std::int64_t>(ids.size());
  const std::int64_t feature_width = state.feat_dim;
  if (state.unit_projections.defined()) {
    const std::int64_t width = state.unit_projections.size(1);
    at::Tensor projections = at::empty({units, width}, at::kFloat);
    const float* table = state.unit_projections.const_data_ptr<float>();
    const float* feature_rows = state.feature_projections.const_data_ptr<float>();
    float* row = projections.mutable_data_ptr<float>();
    for (std::int64_t p = 0; p < units; ++p, row += width) {
      std::copy_n(table + ids[static_cast<std::size_t>(p)] * width, width, row);
      for (std::int64_t f = 0; f < feature_width; ++f) {
        const float value = features[p * feature_width + f];
        if (value == 0.0F) continue;
        const float* weights = feature_rows + f * width;
        for (std::int64_t c = 0; c < width; ++c) row[c] += value * weights[c];
      }
    }
    return state.rnn.run_projected(projections, lengths, state.initial_state);
  }

  const at::Tensor embeddings = state.weight("embeddings.weight").contiguous();
  const std::int64_t embedding_width = embeddings.size(1);
  const std::int64_t width = embedding_width + feature_width;
  at::Tensor x = at::empty({units, width}, at::kFloat);
  const float* table = embeddings.const_data_ptr<float>();
  float* row = x.mutable_data_ptr<float>();
  for (std::int64_t p = 0; p < units; ++p, row += width) {
    std::copy_n(table + ids[static_cast<std::size_t>(p)] * embedding_width, embedding_width, row);
    std::copy_n(features + p * feature_width, feature_width, row + embedding_width);
  }
  return state.rnn.run_packed(x, lengths, state.initial_state);
}

// x·w over `width` floats, in eight independent partial sums so that it vectorizes.
float dot(const float* x, const float* w, std::int64_t width) {
  constexpr std::int64_t kLanes = 8;
  float partial[kLanes] = {};
  std::int64_t c = 0;
  for (; c + kLanes <= width; c += kLanes) {
    for (std::int64_t l = 0; l < kLanes; ++l) partial[l] += x[c + l] * w[c + l];
  }
  float sum = 0.0F;
  for (; c < width; ++c) sum += x[c] * w[c];
  for (const float value : partial) sum += value;
  return sum;
}

// The labels of packed rows of units: `ids` (N) and `features` (N x F) hold row 0's units, then
// row 1's, and so on, `lengths` their counts; each row's recurrences stop at its own end, as
// over packed sequences. The classifier heads of each stage are scored together (rows tok,
// sent, mwt of `head_weights`); they, the gate, the log-sigmoid scores and their argmax run
// over raw rows.
std::vector<std::int64_t> network_labels(const Plan& state, std::span<const std::int64_t> ids, const float* features,
                                         std::span<const std::int64_t> lengths) {
  const auto units = static_cast<std::int64_t>(ids.size());
  const std::int64_t heads = state.head_weights.size(0);
  const std::int64_t width = state.head_weights.size(1);
  const float* head_weights = state.head_weights.const_data_ptr<float>();
  const float* head_bias = state.head_bias.const_data_ptr<float>();
  const float* second_head_weights = state.second_head_weights.const_data_ptr<float>();

  const at::Tensor out = first_layer_output(state, ids, features, lengths);
  TORCH_CHECK(out.size(1) == width, "tokenizer classifier width does not match the LSTM output");
  float* out_data = out.mutable_data_ptr<float>();  // a fresh result of the LSTM, ours to scale
  std::vector<float> scores(static_cast<std::size_t>(units * heads));
  for (std::int64_t p = 0; p < units; ++p) {
    for (std::int64_t k = 0; k < heads; ++k) {
      scores[p * heads + k] = dot(out_data + p * width, head_weights + k * width, width) + head_bias[k];
    }
  }

  // The second LSTM reads out scaled per position by 1 - sigmoid((-tok) * hier_invtemp); the
  // first-stage scores are taken, so out is scaled in place.
  if (state.hier_invtemp > 0.0) {
    const auto inverse_temperature = static_cast<float>(state.hier_invtemp);
    for (std::int64_t p = 0; p < units; ++p) {
      const float gate = 1.0F - 1.0F / (1.0F + std::exp(-(-scores[p * heads] * inverse_temperature)));
      for (std::int64_t c = 0; c < width; ++c) out_data[p * width + c] *= gate;
    }
  }
  const at::Tensor out2 = state.rnn2.run_packed(out, lengths, state.initial_state);
  const float* out2_data = out2.const_data_ptr<float>();

  std::vector<std::int64_t> labels(static_cast<std::size_t>(units));
  for (std::int64_t p = 0; p < units; ++p) {
    float* stage = scores.data() + p * heads;
    for (std::int64_t k = 0; k < heads; ++k) stage[k] += dot(out2_data + p * width, second_head_weights + k * width, width);
    const float no_token = log_sigmoid(-stage[0]);
    const float token = log_sigmoid(stage[0]);
    const float no_sentence = log_sigmoid(-stage[1]);
    const float sentence = log_sigmoid(stage[1]);
    float label_scores[5];
    int count = 3;
    if (state.use_mwt) {
      const float single = log_sigmoid(-stage[2]);
      const float multi = log_sigmoid(stage[2]);
      label_scores[0] = no_token;
      label_scores[1] = token + no_sentence + single;
      label_scores[2] = token + sentence + single;
      label_scores[3] = token + no_sentence + multi;
      label_scores[4] = token + sentence + multi;
      count = 5;
    } else {
      label_scores[0] = no_token;
      label_scores[1] = token + no_sentence;
      label_scores[2] = token + sentence;
    }
    labels[static_cast<std::size_t>(p)] = std::max_element(label_scores, label_scores + count) - label_scores;  // lowest label wins a tie
  }
  return labels;
}

// The last unit ends a sentence; then addresses are made whole.
void finish_paragraph(const TokenizerParagraph& units, std::vector<std::int64_t>& labels) {
  std::int64_t& last = labels.back();
  if (last == 0 || last == 1) last = 2;
  if (last == 3) last = 4;
  repair_address_labels(units, labels);
}

}  // namespace

std::vector<std::int64_t> tokenizer_predict_labels(const Plan& state, const TokenizerParagraph& units) {
  const std::size_t n = units.size();
  std::vector<std::int64_t> labels;
  if (n == 0) return labels;
  labels.reserve(n);
  const std::vector<float> features = tokenizer_unit_features(state, units);
  const std::vector<std::int64_t> ids = unit_ids(state, units);
  const auto feature_width = static_cast<std::size_t>(state.feat_dim);

  std::size_t start = 0;
  while (start < n) {
    const std::size_t length = std::min(n - start, kTokenizerWindow);
    if (length == 0) throw TokenizerModelError("invalid tokenizer inference window");
    const std::int64_t window_length[] = {static_cast<std::int64_t>(length)};
    std::vector<std::int64_t> window_labels;
    {
      c10::InferenceMode guard;
      window_labels = network_labels(state, std::span(ids).subspan(start, length),
                                     features.data() + start * feature_width, window_length);
    }
    std::size_t keep = length;
    if (start + length < n) {
      const auto last_end = std::find_if(window_labels.rbegin(), window_labels.rend(),
                                         [](std::int64_t label) { return label == 2 || label == 4; });
      if (last_end != window_labels.rend()) keep = static_cast<std::size_t>(window_labels.rend() - last_end);
    }
    labels.insert(labels.end(), window_labels.begin(), window_labels.begin() + static_cast<std::ptrdiff_t>(keep));
    start += keep;
  }
  finish_paragraph(units, labels);
  return labels;
}

namespace {

// Independent work of the batched prediction: up to kRowsPerPass paragraphs of one batch, in
// the batch's row order, or one long paragraph alone over windows.
struct WorkItem {
  std::vector<std::size_t> rows;  // paragraph positions
  bool windowed = false;
};

// The batch's rows longest first (a stable sort, as packing requires), a few at a time: enough
// for the recurrences to share weight loads, few enough that each pass's buffers stay in cache.
void add_batch(const std::vector<const TokenizerParagraph*>& paragraphs, std::vector<std::size_t> batch,
               std::vector<WorkItem>& items) {
  std::stable_sort(batch.begin(), batch.end(), [&](std::size_t a, std::size_t b) {
    return paragraphs[a]->size() > paragraphs[b]->size();
  });
  for (std::size_t row = 0; row < batch.size(); row += kRowsPerPass) {
    const auto first = batch.begin() + static_cast<std::ptrdiff_t>(row);
    items.push_back({std::vector<std::size_t>(first, first + static_cast<std::ptrdiff_t>(
                                                          std::min(kRowsPerPass, batch.size() - row))),
                     false});
  }
}

// The finished labels of the rows of one pass, into results[row]. The rows are packed one after
// the other: padding would cost nothing but copies, since every recurrence stops at its own
// row's end.
void label_rows(const Plan& state, const std::vector<const TokenizerParagraph*>& paragraphs,
                const std::vector<std::size_t>& rows, std::vector<std::vector<std::int64_t>>& results) {
  std::size_t total = 0;
  for (const std::size_t row : rows) total += paragraphs[row]->size();
  std::vector<std::int64_t> ids;
  std::vector<float> features;
  std::vector<std::int64_t> lengths;
  ids.reserve(total);
  features.reserve(total * static_cast<std::size_t>(state.feat_dim));
  for (const std::size_t row : rows) {
    const TokenizerParagraph& units = *paragraphs[row];
    lengths.push_back(static_cast<std::int64_t>(units.size()));
    const std::vector<std::int64_t> row_ids = unit_ids(state, units);
    ids.insert(ids.end(), row_ids.begin(), row_ids.end());
    const std::vector<float> row_features = tokenizer_unit_features(state, units);
    features.insert(features.end(), row_features.begin(), row_features.end());
  }
  std::vector<std::int64_t> labels;
  {
    c10::InferenceMode guard;
    labels = network_labels(state, ids, features.data(), lengths);
  }
  auto first = labels.begin();
  for (std::size_t k = 0; k < rows.size(); ++k) {
    std::vector<std::int64_t>& row_labels = results[rows[k]];
    row_labels.assign(first, first + lengths[k]);
    first += lengths[k];
    finish_paragraph(*paragraphs[rows[k]], row_labels);
  }
}

// Runs the items on the intra-op threads, consecutive items of a few thousand characters
// together as one unit (a call too small to repay a parallel region runs as one); each item
// writes only its own paragraphs' results. The units are fixed by the paragraphs, and every
// row's labels are its own whichever rows share its pass, so the labels are the same whatever
// the number of threads.
std::vector<std::vector<std::int64_t>> run_items(const Plan& state,
                                                 const std::vector<const TokenizerParagraph*>& paragraphs,
                                                 const std::vector<WorkItem>& items) {
  std::vector<std::int64_t> characters;
  characters.reserve(items.size());
  for (const WorkItem& item : items) {
    std::int64_t count = 0;
    for (const std::size_t row : item.rows) count += static_cast<std::int64_t>(paragraphs[row]->size());
    characters.push_back(count);
  }
  const std::vector<SentenceChunk> units = chunk_sentences(characters, kUnitLimits);
  std::vector<std::vector<std::int64_t>> results(paragraphs.size());
  for_each_unit(units.size(), [&](std::size_t unit) {
    for (std::size_t k = units[unit].begin; k < units[unit].end; ++k) {
      const WorkItem& item = items[k];
      if (item.windowed) {
        results[item.rows.front()] = tokenizer_predict_labels(state, *paragraphs[item.rows.front()]);
      } else {
        label_rows(state, paragraphs, item.rows, results);
      }
    }
  });
  return results;
}

}  // namespace

std::vector<std::vector<std::int64_t>> tokenizer_predict_labels_batched(
    const Plan& state, const std::vector<const TokenizerParagraph*>& paragraphs) {
  std::vector<std::size_t> batch(paragraphs.size());
  std::iota(batch.begin(), batch.end(), std::size_t{0});
  std::vector<WorkItem> items;
  add_batch(paragraphs, std::move(batch), items);
  return run_items(state, paragraphs, items);
}

std::vector<std::vector<std::int64_t>> tokenizer_predict_labels_bulk(
    const Plan& state, const std::vector<const TokenizerParagraph*>& paragraphs, std::size_t batch_limit) {
  // Short paragraphs wait in a batch; a long one first closes the batch, then runs alone.
  std::vector<WorkItem> items;
  std::vector<std::size_t> pending;
  auto flush = [&] {
    if (!pending.empty()) add_batch(paragraphs, std::move(pending), items);
    pending.clear();
  };
  for (std::size_t k = 0; k < paragraphs.size(); ++k) {
    if (paragraphs[k]->size() <= kTokenizerWindow) {
      pending.push_back(k);
      if (pending.size() == batch_limit) flush();
    } else {
      flush();
      items.push_back({{k}, true});
    }
  }
  flush();
  return run_items(state, paragraphs, items);
}

}  // namespace velmora::detail
