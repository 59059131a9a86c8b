#pragma once

// A stacked, optionally bidirectional LSTM for float32 inference on the CPU, computing what
// at::lstm computes (over padded or packed batches) without its per-time-step operator dispatch.
//
// Rows run in slots: each step advances every slot's row, and a slot whose row ends takes the
// next row at once, so every step runs as many rows as are left. The input projections are
// computed a few steps ahead for the rows in the slots, never for the whole input at once, so
// memory stays bounded however long the input. All arithmetic is our own (lstm_recurrence):
// every value is a sum taken in a fixed order, so a row's outputs are the same bits whatever
// its neighbours, the split of the work between threads, or the thread count.

#include <ATen/ATen.h>

#include <cstdint>
#include <span>
#include <vector>

namespace velmora::detail {

class InferenceLstm {
 public:
  InferenceLstm() = default;

  /// `parameters` in at::lstm order with biases (see lstm_parameters): weight_ih, weight_hh,
  /// bias_ih, bias_hh per layer and direction. They are only read: the layouts the recurrence
  /// needs are copied here once. Shapes that do not fit an LSTM fail with c10::Error.
  InferenceLstm(const std::vector<at::Tensor>& parameters, int layers, bool bidirectional);

  /// Runs the LSTM over `input` [B, T, I] (batch first, float32).
  ///
  /// `lengths`: empty (every row holds T steps) or B values in [1, T], in any order. A row runs
  /// over its first lengths[b] steps only, its reverse direction starting at its own last step,
  /// as with a packed sequence; outputs past a row's length are zero.
  /// `initial`: empty (zero states) or {h0, c0}, each [layers * directions, B or 1, H].
  /// Returns [B, T, directions * H], forward half first.
  ///
  /// Called at the top level with more than one intra-op thread, a large call splits its work
  /// between the threads (by rows, or for wide layers by hidden unit at every step); inside a
  /// parallel region or a unit of for_each_unit it runs on the calling thread.
  at::Tensor operator()(const at::Tensor& input, std::span<const std::int64_t> lengths = {},
                        const std::vector<at::Tensor>& initial = {}) const;

  /// The same over packed rows, without padding: `input` [N, I] holds row 0's steps, then row
  /// 1's, and so on; `lengths` gives each row's step count (B values >= 1 summing to N).
  /// Returns [N, directions * H] in the same row order.
  at::Tensor run_packed(const at::Tensor& input, std::span<const std::int64_t> lengths,
                        const std::vector<at::Tensor>& initial = {}) const;

  /// As run_packed, given the first layer's input projections instead of its inputs:
  /// `projections` [N, projection_width()], row n = input[n] · first_layer_input_weights() (the
  /// biases are added inside). Callers whose inputs are sums of a few known rows (embeddings,
  /// one-hot features) can gather the projections instead of multiplying.
  at::Tensor run_projected(const at::Tensor& projections, std::span<const std::int64_t> lengths,
                           const std::vector<at::Tensor>& initial = {}) const;

  /// As run_projected with projection row n = table[ids[n]], read where it lies: `table`
  /// [V, projection_width()], `ids` N values in [0, V). With table = first_layer_projections(E),
  /// this gives the same bits as run_packed over the rows E[ids[n]]. When `kept` (distinct
  /// packed rows) is not empty, only those rows' outputs are returned, in its order:
  /// [kept.size(), directions * H].
  at::Tensor run_gathered(const at::Tensor& table, std::span<const std::int64_t> ids,
                          std::span<const std::int64_t> lengths, const std::vector<at::Tensor>& initial = {},
                          std::span<const std::int64_t> kept = {}) const;

  /// input [N, I] · first_layer_input_weights() computed as the LSTM computes it internally:
  /// [N, projection_width()], the same bits at every thread count.
  at::Tensor first_layer_projections(const at::Tensor& input) const;

  /// The first layer's input weights [I, projection_width()], in the layout of the projections.
  const at::Tensor& first_layer_input_weights() const;
  std::int64_t projection_width() const { return directions_ * 4 * padded_hidden_; }

  std::int64_t hidden_size() const { return hidden_; }
  std::int64_t input_size() const { return input_size_; }

 private:
  struct Direction {
    at::Tensor input_weights;  // [panels, inputs, kLstmWeightPanel]
    at::Tensor recurrent;      // [panels, hidden, kLstmWeightPanel]
    at::Tensor bias;           // [panels * kLstmWeightPanel]: bias_ih + bias_hh
  };
  struct Layer {
    std::vector<Direction> directions;
    std::int64_t input_width = 0;
  };
  struct Call;

  void check_prepared() const;
  // Every layer over the rows `call` describes, the last into `output`.
  void run_layers(const Call& call, const std::vector<at::Tensor>& initial, float* output) const;

  std::vector<Layer> layers_;
  at::Tensor first_input_weights_;  // [I, projection_width()]
  std::int64_t directions_ = 1;
  std::int64_t hidden_ = 0;
  std::int64_t padded_hidden_ = 0;  // H rounded up to whole blocks of units, so no loop has a tail
  std::int64_t input_size_ = 0;
};

}  // namespace velmora::detail
