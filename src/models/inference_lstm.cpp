#include "models/inference_lstm.hpp"

#include <ATen/Parallel.h>

#include <algorithm>
#include <numeric>

#include "models/lstm_recurrence.hpp"

namespace velmora::detail {
namespace {

constexpr std::int64_t kGates = 4;  // i, f, g, o, in at::lstm's order

std::int64_t round_up(std::int64_t value, std::int64_t multiple) { return (value + multiple - 1) / multiple * multiple; }

// Rows [q·H, (q+1)·H) of a [4H, ...] gate-stacked tensor go to rows [q·Hp, q·Hp + H) of `target`.
void copy_padded_gates(at::Tensor target, const at::Tensor& source, std::int64_t hidden, std::int64_t padded) {
  for (std::int64_t q = 0; q < kGates; ++q) {
    target.narrow(0, q * padded, hidden).copy_(source.narrow(0, q * hidden, hidden));
  }
}

void check_float_matrix(const at::Tensor& tensor, std::int64_t rows, std::int64_t columns, const char* role) {
  TORCH_CHECK(tensor.scalar_type() == at::kFloat, "inference LSTM: ", role, " must be float32");
  TORCH_CHECK(tensor.dim() == 2 && tensor.size(0) == rows && tensor.size(1) == columns, "inference LSTM: ", role,
              " must have shape [", rows, ", ", columns, "], got ", tensor.sizes());
}

void check_float_vector(const at::Tensor& tensor, std::int64_t size, const char* role) {
  TORCH_CHECK(tensor.scalar_type() == at::kFloat, "inference LSTM: ", role, " must be float32");
  TORCH_CHECK(tensor.dim() == 1 && tensor.size(0) == size, "inference LSTM: ", role, " must have shape [", size,
              "], got ", tensor.sizes());
}

// The valid steps of every row of a contiguous [B, T, F] tensor, stacked row after row: [N, F].
template <class RowLength>
at::Tensor pack_rows(const at::Tensor& padded, const std::vector<std::int64_t>& first, const RowLength& row_length) {
  const std::int64_t batch = padded.size(0);
  const std::int64_t steps = padded.size(1);
  const std::int64_t features = padded.size(2);
  at::Tensor packed = at::empty({first.back() + row_length(batch - 1), features}, at::kFloat);
  const float* source = padded.const_data_ptr<float>();
  float* target = packed.mutable_data_ptr<float>();
  for (std::int64_t row = 0; row < batch; ++row) {
    std::copy_n(source + row * steps * features, row_length(row) * features,
                target + first[static_cast<std::size_t>(row)] * features);
  }
  return packed;
}

// The inverse of pack_rows, with zeros past every row's length: [B, T, F].
template <class RowLength>
at::Tensor unpack_rows(const at::Tensor& packed, std::int64_t batch, std::int64_t steps,
                       const std::vector<std::int64_t>& first, const RowLength& row_length) {
  const std::int64_t features = packed.size(1);
  at::Tensor padded = at::empty({batch, steps, features}, at::kFloat);
  const float* source = packed.const_data_ptr<float>();
  float* target = padded.mutable_data_ptr<float>();
  for (std::int64_t row = 0; row < batch; ++row) {
    const std::int64_t valid = row_length(row) * features;
    float* row_start = target + row * steps * features;
    std::copy_n(source + first[static_cast<std::size_t>(row)] * features, valid, row_start);
    std::fill(row_start + valid, row_start + steps * features, 0.0F);
  }
  return padded;
}

// Multiply-adds of recurrence one worker must have before another worker pays: waking a worker
// costs a few microseconds on an idle machine and far more on a busy one, where it must wait for
// a core, so only recurrences of about a millisecond or more are split.
constexpr std::int64_t kWorkPerTask = std::int64_t{1} << 24;

// Workers for a recurrence of `work` multiply-adds that splits into at most `tasks` tasks: as
// many as the intra-op threads allow and the work pays for.
std::int64_t worker_count(std::int64_t work, std::int64_t tasks) {
  const std::int64_t threads = at::in_parallel_region() ? 1 : at::get_num_threads();
  return std::clamp<std::int64_t>(std::min(threads, work / kWorkPerTask), 1, std::max<std::int64_t>(tasks, 1));
}

// The rows (indices into `lengths`) cut into `count` bins of about equal total length. Rows are
// dealt longest first to the bin with the least length so far, so every bin holds its rows
// longest first.
std::vector<std::vector<std::int64_t>> deal_rows(std::span<const std::int64_t> lengths, std::int64_t count) {
  std::vector<std::int64_t> order(lengths.size());
  std::iota(order.begin(), order.end(), std::int64_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::int64_t a, std::int64_t b) {
    return lengths[static_cast<std::size_t>(a)] > lengths[static_cast<std::size_t>(b)];
  });
  std::vector<std::vector<std::int64_t>> bins(static_cast<std::size_t>(count));
  std::vector<std::int64_t> load(static_cast<std::size_t>(count), 0);
  for (const std::int64_t row : order) {
    const auto lightest = static_cast<std::size_t>(std::min_element(load.begin(), load.end()) - load.begin());
    bins[lightest].push_back(row);
    load[lightest] += lengths[static_cast<std::size_t>(row)];
  }
  return bins;
}

}  // namespace

InferenceLstm::InferenceLstm(const std::vector<at::Tensor>& parameters, int layers, bool bidirectional)
    : directions_(bidirectional ? 2 : 1) {
  TORCH_CHECK(layers >= 1, "inference LSTM: needs at least one layer");
  TORCH_CHECK(parameters.size() == static_cast<std::size_t>(layers * directions_ * 4),
              "inference LSTM: expected ", layers * directions_ * 4, " parameters (with biases), got ",
              parameters.size());
  TORCH_CHECK(parameters[1].dim() == 2, "inference LSTM: weight_hh must be a matrix");
  hidden_ = parameters[1].size(1);
  TORCH_CHECK(hidden_ >= 1, "inference LSTM: hidden size must be positive");
  TORCH_CHECK(parameters[0].dim() == 2, "inference LSTM: weight_ih must be a matrix");
  input_size_ = parameters[0].size(1);
  padded_hidden_ = round_up(hidden_, kLstmGatePadding);
  const std::int64_t columns = kGates * padded_hidden_;

  std::int64_t layer_input = input_size_;
  for (int layer = 0; layer < layers; ++layer) {
    Layer prepared;
    at::Tensor input_weights = at::zeros({directions_ * columns, layer_input}, at::kFloat);
    at::Tensor bias = at::zeros({directions_ * columns}, at::kFloat);
    for (std::int64_t direction = 0; direction < directions_; ++direction) {
      const std::size_t first = static_cast<std::size_t>((layer * directions_ + direction) * 4);
      const at::Tensor& weight_ih = parameters[first];
      const at::Tensor& weight_hh = parameters[first + 1];
      const at::Tensor& bias_ih = parameters[first + 2];
      const at::Tensor& bias_hh = parameters[first + 3];
      check_float_matrix(weight_ih, kGates * hidden_, layer_input, "weight_ih");
      check_float_matrix(weight_hh, kGates * hidden_, hidden_, "weight_hh");
      check_float_vector(bias_ih, kGates * hidden_, "bias_ih");
      check_float_vector(bias_hh, kGates * hidden_, "bias_hh");

      copy_padded_gates(input_weights.narrow(0, direction * columns, columns), weight_ih, hidden_, padded_hidden_);
      copy_padded_gates(bias.narrow(0, direction * columns, columns), at::add(bias_ih, bias_hh), hidden_,
                        padded_hidden_);
      at::Tensor recurrent = at::zeros({columns, hidden_}, at::kFloat);
      copy_padded_gates(recurrent, weight_hh, hidden_, padded_hidden_);
      // [H, columns] cut into panels of kLstmWeightPanel columns: [panels, H, kLstmWeightPanel].
      prepared.recurrent.push_back(
          recurrent.t().reshape({hidden_, columns / kLstmWeightPanel, kLstmWeightPanel}).permute({1, 0, 2}).contiguous());
    }
    prepared.input_weights = input_weights.t().contiguous();
    prepared.bias = bias;
    layers_.push_back(std::move(prepared));
    layer_input = directions_ * hidden_;
  }
}

at::Tensor InferenceLstm::operator()(const at::Tensor& input, std::span<const std::int64_t> lengths,
                                     const std::vector<at::Tensor>& initial) const {
  TORCH_CHECK(!layers_.empty(), "inference LSTM: no parameters");
  TORCH_CHECK(input.scalar_type() == at::kFloat && input.device().is_cpu(),
              "inference LSTM: input must be a float32 CPU tensor");
  TORCH_CHECK(input.dim() == 3 && input.size(2) == input_size_, "inference LSTM: input must have shape [B, T, ",
              input_size_, "], got ", input.sizes());
  const std::int64_t batch = input.size(0);
  const std::int64_t steps = input.size(1);
  TORCH_CHECK(lengths.empty() || static_cast<std::int64_t>(lengths.size()) == batch,
              "inference LSTM: expected ", batch, " lengths, got ", lengths.size());
  for (const std::int64_t length : lengths) {
    TORCH_CHECK(length >= 1 && length <= steps, "inference LSTM: every length must lie in [1, ", steps, "], got ",
                length);
  }
  const at::Tensor contiguous_input = input.contiguous();
  if (lengths.empty() || std::all_of(lengths.begin(), lengths.end(), [&](std::int64_t l) { return l == steps; })) {
    // Equal rows are already packed.
    const std::vector<std::int64_t> full(static_cast<std::size_t>(batch), steps);
    if (batch == 0 || steps == 0) return at::zeros({batch, steps, directions_ * hidden_}, at::kFloat);
    return run_layers(contiguous_input.reshape({batch * steps, input_size_}), {}, full, initial)
        .view({batch, steps, directions_ * hidden_});
  }
  std::vector<std::int64_t> first(static_cast<std::size_t>(batch));
  std::int64_t packed_rows = 0;
  for (std::int64_t row = 0; row < batch; ++row) {
    first[static_cast<std::size_t>(row)] = packed_rows;
    packed_rows += lengths[static_cast<std::size_t>(row)];
  }
  const auto row_length = [&](std::int64_t row) { return lengths[static_cast<std::size_t>(row)]; };
  const at::Tensor packed = run_layers(pack_rows(contiguous_input, first, row_length), {}, lengths, initial);
  return unpack_rows(packed, batch, steps, first, row_length);
}

at::Tensor InferenceLstm::run_packed(const at::Tensor& input, std::span<const std::int64_t> lengths,
                                     const std::vector<at::Tensor>& initial) const {
  TORCH_CHECK(!layers_.empty(), "inference LSTM: no parameters");
  TORCH_CHECK(input.scalar_type() == at::kFloat && input.device().is_cpu(),
              "inference LSTM: input must be a float32 CPU tensor");
  TORCH_CHECK(input.dim() == 2 && input.size(1) == input_size_, "inference LSTM: packed input must have shape [N, ",
              input_size_, "], got ", input.sizes());
  return run_layers(input.contiguous(), {}, lengths, initial);
}

at::Tensor InferenceLstm::run_projected(const at::Tensor& projections, std::span<const std::int64_t> lengths,
                                        const std::vector<at::Tensor>& initial) const {
  TORCH_CHECK(!layers_.empty(), "inference LSTM: no parameters");
  TORCH_CHECK(projections.scalar_type() == at::kFloat && projections.device().is_cpu() && projections.dim() == 2 &&
                  projections.size(1) == projection_width(),
              "inference LSTM: projections must be float32 [N, ", projection_width(), "], got ", projections.sizes());
  return run_layers({}, projections.contiguous(), lengths, initial);
}

const at::Tensor& InferenceLstm::first_layer_input_weights() const {
  TORCH_CHECK(!layers_.empty(), "inference LSTM: no parameters");
  return layers_.front().input_weights;
}

at::Tensor InferenceLstm::run_layers(const at::Tensor& input, const at::Tensor& projections,
                                     std::span<const std::int64_t> lengths,
                                     const std::vector<at::Tensor>& initial) const {
  const auto batch = static_cast<std::int64_t>(lengths.size());
  std::vector<std::int64_t> first(static_cast<std::size_t>(batch));
  std::int64_t packed_rows = 0;
  for (std::int64_t row = 0; row < batch; ++row) {
    const std::int64_t length = lengths[static_cast<std::size_t>(row)];
    TORCH_CHECK(length >= 1, "inference LSTM: every length must be at least 1, got ", length);
    first[static_cast<std::size_t>(row)] = packed_rows;
    packed_rows += length;
  }
  const at::Tensor& given = input.defined() ? input : projections;
  TORCH_CHECK(given.size(0) == packed_rows, "inference LSTM: the lengths cover ", packed_rows, " steps, the input ",
              given.size(0));

  const auto layer_count = static_cast<std::int64_t>(layers_.size());
  at::Tensor initial_hidden;
  at::Tensor initial_cell;
  if (!initial.empty()) {
    TORCH_CHECK(initial.size() == 2, "inference LSTM: initial states must be {hidden, cell}");
    for (const at::Tensor& state : initial) {
      TORCH_CHECK(state.scalar_type() == at::kFloat && state.dim() == 3 &&
                      state.size(0) == layer_count * directions_ && (state.size(1) == batch || state.size(1) == 1) &&
                      state.size(2) == hidden_,
                  "inference LSTM: initial states must be float32 [", layer_count * directions_, ", ", batch,
                  " or 1, ", hidden_, "], got ", state.sizes());
    }
    initial_hidden = initial[0].contiguous();
    initial_cell = initial[1].contiguous();
  }

  const std::int64_t columns = kGates * padded_hidden_;
  // Each worker runs whole rows of one direction through every step: one parallel region per
  // layer, no synchronisation inside it.
  const std::int64_t workers = worker_count(directions_ * packed_rows * columns * hidden_, directions_ * batch);
  const std::int64_t bin_count = std::max<std::int64_t>(1, workers / directions_);
  const std::vector<std::vector<std::int64_t>> bins = deal_rows(lengths, bin_count);
  const std::int64_t tasks = bin_count * directions_;
  const std::int64_t grain = (tasks + workers - 1) / workers;  // so that no more than `workers` threads wake
  const std::int64_t width = directions_ * hidden_;
  at::Tensor layer_input = input;
  for (std::int64_t layer = 0; layer < layer_count; ++layer) {
    const Layer& prepared = layers_[static_cast<std::size_t>(layer)];
    // The biases join in the recurrence, which saves writing them into every projection row.
    const at::Tensor layer_projections =
        layer_input.defined() ? at::mm(layer_input, prepared.input_weights) : projections;
    at::Tensor output = at::empty({packed_rows, width}, at::kFloat);  // every entry is written below
    const float* projection_data = layer_projections.const_data_ptr<float>();
    float* output_data = output.mutable_data_ptr<float>();

    auto state_row = [&](const at::Tensor& states, std::int64_t direction, std::int64_t row) -> const float* {
      if (!states.defined()) return nullptr;
      const std::int64_t rows = states.size(1);
      const std::int64_t index = (layer * directions_ + direction) * rows + (rows == 1 ? 0 : row);
      return states.const_data_ptr<float>() + index * hidden_;
    };
    // One task per bin and direction; each runs its rows, longest first, in groups through every
    // time step and writes only its own half of its own rows.
    at::parallel_for(0, tasks, grain, [&](std::int64_t begin, std::int64_t end) {
      std::vector<float> scratch(static_cast<std::size_t>(lstm_recurrence_scratch_size(padded_hidden_)));
      for (std::int64_t task_index = begin; task_index < end; ++task_index) {
        const std::vector<std::int64_t>& bin = bins[static_cast<std::size_t>(task_index / directions_)];
        const std::int64_t direction = task_index % directions_;
        const auto bin_size = static_cast<std::int64_t>(bin.size());
        for (std::int64_t group_begin = 0; group_begin < bin_size; group_begin += kLstmRowsPerGroup) {
          const std::int64_t group_end = std::min(bin_size, group_begin + kLstmRowsPerGroup);
          LstmRecurrence rows[kLstmRowsPerGroup];
          for (std::int64_t member = group_begin; member < group_end; ++member) {
            const std::int64_t row = bin[static_cast<std::size_t>(member)];
            const std::int64_t offset = first[static_cast<std::size_t>(row)];
            LstmRecurrence& task = rows[member - group_begin];
            task.projections = projection_data + offset * directions_ * columns + direction * columns;
            task.projection_stride = directions_ * columns;
            task.bias = prepared.bias.const_data_ptr<float>() + direction * columns;
            task.recurrent = prepared.recurrent[static_cast<std::size_t>(direction)].const_data_ptr<float>();
            task.hidden = hidden_;
            task.padded_hidden = padded_hidden_;
            task.length = lengths[static_cast<std::size_t>(row)];
            task.reverse = direction == 1;
            task.initial_hidden = state_row(initial_hidden, direction, row);
            task.initial_cell = state_row(initial_cell, direction, row);
            task.output = output_data + offset * width + direction * hidden_;
            task.output_stride = width;
          }
          run_lstm_recurrences(rows, static_cast<int>(group_end - group_begin), scratch.data());
        }
      }
    });
    layer_input = output;
  }
  return layer_input;
}

}  // namespace velmora::detail
