#include "models/inference_lstm.hpp"

#include <ATen/Parallel.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>

#include "models/lstm_recurrence.hpp"
#include "models/parallel_units.hpp"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace velmora::detail {

// Where a call's rows lie. The first layer reads `input` rows of input_size() floats, or is
// given its projections, whole or as a table; every later layer reads the layer before.
struct InferenceLstm::Call {
  const float* input = nullptr;
  const float* projections = nullptr;  // row n at projections + n * projection_width()
  const float* table = nullptr;        // row n at table + ids[n] * projection_width()
  const std::int64_t* ids = nullptr;
  std::span<const std::int64_t> lengths;
  std::vector<std::int64_t> input_start;   // step t of row b is input row input_start[b] + t
  std::vector<std::int64_t> output_start;  // and output row output_start[b] + t
  std::int64_t output_rows = 0;            // rows of every layer's output
  const std::int64_t* kept = nullptr;      // when set, the last layer writes output row r at kept[r] (-1: nowhere)
};

namespace {

constexpr std::int64_t kGates = 4;  // i, f, g, o, in at::lstm's order

std::int64_t round_up(std::int64_t value, std::int64_t multiple) { return (value + multiple - 1) / multiple * multiple; }
std::int64_t divide_up(std::int64_t value, std::int64_t divisor) { return (value + divisor - 1) / divisor; }

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

// The panel column of every row of at::lstm's gate-stacked [4H, ...] weights: gate q of unit u
// goes to column q·16 + u mod 16 of panel u / 16.
at::Tensor panel_columns(std::int64_t hidden) {
  std::vector<std::int64_t> columns;
  columns.reserve(static_cast<std::size_t>(kGates * hidden));
  for (std::int64_t gate = 0; gate < kGates; ++gate) {
    for (std::int64_t unit = 0; unit < hidden; ++unit) {
      columns.push_back((unit / kLstmGatePadding) * kLstmWeightPanel + gate * kLstmGatePadding +
                        unit % kLstmGatePadding);
    }
  }
  return at::tensor(columns, at::kLong);
}

// Gate-stacked rows [4H, K] as [4·padded, K] in panel column order, zero for the padding units.
at::Tensor to_panel_rows(const at::Tensor& rows, const at::Tensor& columns, std::int64_t padded) {
  const at::Tensor source = rows.dim() == 1 ? rows.unsqueeze(1) : rows;
  at::Tensor target = at::zeros({kGates * padded, source.size(1)}, at::kFloat);
  target.index_copy_(0, columns, source);
  return rows.dim() == 1 ? target.squeeze(1) : target;
}

// [4·padded, K] in panel column order as [panels, K, kLstmWeightPanel].
at::Tensor to_panels(const at::Tensor& rows) {
  const std::int64_t inputs = rows.size(1);
  return rows.view({rows.size(0) / kLstmWeightPanel, kLstmWeightPanel, inputs}).permute({0, 2, 1}).contiguous();
}

// ---------------------------------------------------------------------------------------------
// How a layer's work is laid out.

// Rows one slot set runs at once at most: every step streams the recurrent weights once for
// all of them.
constexpr std::int64_t kSlots = 64;

// Input projections computed ahead, in floats per slot set (4 MiB): far enough that the input
// weights are read once for many rows, near enough to stay in cache, and bounded however long
// the input.
constexpr std::int64_t kAheadFloats = std::int64_t{1} << 20;

// Multiply-adds a worker must have before another worker pays: waking a worker costs a few
// microseconds on an idle machine and far more on a busy one, where it must wait for a core.
constexpr std::int64_t kWorkPerWorker = std::int64_t{1} << 23;

// Recurrent weights (per layer, both directions) up to this size stay in one core's cache,
// however many workers read them. Wider layers are read from the shared cache, or memory, at
// every step: split by rows, every worker reads all of them, so each worker's slot set must hold
// enough rows for one read to serve many; a slot set holds half a worker's rows (see plan_layer).
// With fewer rows every step is split by hidden unit, so that each worker reads only its share.
// (Eight workers with slot sets of 13 rows each read a 1024-unit layer's 16 MiB at every step,
// and run slower than one thread alone.)
constexpr std::int64_t kCachedWeightBytes = std::int64_t{1} << 20;
constexpr std::int64_t kRowsPerWideSlotSet = 48;

// Multiply-adds of one step a worker must have for a per-step split to pay for its
// synchronisation.
constexpr std::int64_t kStepWorkPerWorker = std::int64_t{1} << 22;

struct Schedule {
  enum class Mode { rows, units };
  Mode mode = Mode::rows;
  std::int64_t workers = 1;  // slot sets (rows) or threads sharing one slot set (units)
  std::int64_t slots = 1;    // per slot set
  std::int64_t ahead = 1;    // steps of input projections computed at once
  std::int64_t slices = 1;   // per direction and step (units)
};

struct LayerShape {
  std::int64_t directions;
  std::int64_t hidden;
  std::int64_t padded;
  std::int64_t inputs;  // input width when the layer computes its projections, else 0
  std::int64_t panels() const { return padded / kLstmGatePadding; }
  std::int64_t width() const { return directions * kGates * padded; }
};

Schedule plan_layer(const LayerShape& shape, std::span<const std::int64_t> lengths, std::int64_t steps) {
  const auto rows = static_cast<std::int64_t>(lengths.size());
  const std::int64_t threads = at::in_parallel_region() ? 1 : at::get_num_threads();
  const std::int64_t step_work = shape.width() * (shape.hidden + shape.inputs);  // per row
  const std::int64_t work = steps * step_work;
  Schedule schedule;
  const bool wide = shape.width() * shape.hidden * static_cast<std::int64_t>(sizeof(float)) > kCachedWeightBytes;
  const std::int64_t workers = std::clamp<std::int64_t>(
      std::min({threads, work / kWorkPerWorker, wide ? rows / (2 * kRowsPerWideSlotSet) : rows}), 1, rows);
  const std::int64_t shared_slots = std::min(rows, kSlots);
  // Rows that keep every thread busy need no synchronisation within a step: a split by rows is
  // the one a busy machine cannot hold up.
  if (workers < threads && work >= 2 * kWorkPerWorker && wide) {
    const std::int64_t split = std::min(threads, shared_slots * step_work / kStepWorkPerWorker);
    if (split > workers) {
      schedule.mode = Schedule::Mode::units;
      schedule.workers = split;
      schedule.slots = shared_slots;
      // Two slices per worker and direction, so that a late worker's share is taken by others.
      schedule.slices = std::min(shape.panels(), divide_up(2 * split, shape.directions));
    }
  }
  if (schedule.mode == Schedule::Mode::rows) {
    schedule.workers = workers;
    // Workers take their rows as their slots free: two rounds or more, so that no worker is
    // left with only the longest rows.
    schedule.slots = std::min(kSlots, divide_up(rows, workers == 1 ? 1 : 2 * workers));
  }
  const std::int64_t longest = *std::max_element(lengths.begin(), lengths.end());
  schedule.ahead =
      shape.inputs == 0 ? 1 : std::clamp<std::int64_t>(kAheadFloats / (schedule.slots * shape.width()), 1, longest);
  return schedule;
}

// ---------------------------------------------------------------------------------------------
// Slots.

// One row's step in a slot; k counts the row's own steps from 0.
struct Entry {
  std::int64_t slot;
  std::int64_t row;
  std::int64_t k;
};

// Each slot runs one row after another, taking the next row as soon as its row ends.
class SlotRows {
 public:
  SlotRows(std::span<const std::int64_t> lengths, std::int64_t slots)
      : lengths_(lengths), row_(static_cast<std::size_t>(slots), -1), k_(static_cast<std::size_t>(slots), 0) {}

  // The entries of the next step; `claim` gives the next row or -1. Empty once every row ended.
  // `entries` must have room for every slot: advancing never allocates.
  template <class Claim>
  void advance(const Claim& claim, std::vector<Entry>& entries) {
    entries.clear();
    for (std::size_t slot = 0; slot < row_.size(); ++slot) {
      if (row_[slot] >= 0 && k_[slot] + 1 < lengths_[static_cast<std::size_t>(row_[slot])]) {
        ++k_[slot];
      } else {
        row_[slot] = claim();
        k_[slot] = 0;
        if (row_[slot] < 0) continue;
      }
      entries.push_back({static_cast<std::int64_t>(slot), row_[slot], k_[slot]});
    }
  }

 private:
  std::span<const std::int64_t> lengths_;
  std::vector<std::int64_t> row_;
  std::vector<std::int64_t> k_;
};

// Rows in the order slots take them: longest first, so that the last rows taken are short and
// every slot runs out at about the same step.
std::vector<std::int64_t> longest_first(std::span<const std::int64_t> lengths) {
  std::vector<std::int64_t> order(lengths.size());
  std::iota(order.begin(), order.end(), std::int64_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::int64_t a, std::int64_t b) {
    return lengths[static_cast<std::size_t>(a)] > lengths[static_cast<std::size_t>(b)];
  });
  return order;
}

// Entry lists with room for every slot, so that filling them never allocates.
std::vector<std::vector<Entry>> entry_lists(std::int64_t count, std::int64_t slots) {
  std::vector<std::vector<Entry>> lists(static_cast<std::size_t>(count));
  for (auto& list : lists) list.reserve(static_cast<std::size_t>(slots));
  return lists;
}

// A slot set's hidden and cell states: `hidden` for the steps before and after (alternating);
// `cell` in place, or alternating too when `alternate_cells`.
struct SlotStates {
  SlotStates(const LayerShape& shape, std::int64_t slots, bool alternate_cells)
      : stride(shape.directions * shape.padded),
        per_buffer(slots * stride),
        cells_alternate(alternate_cells),
        hidden(static_cast<std::size_t>(2 * per_buffer)),
        cell(static_cast<std::size_t>((alternate_cells ? 2 : 1) * per_buffer)) {}
  // The state of slot `slot`, direction d, read at step `step` (written at step - 1).
  float* hidden_at(std::int64_t step, std::int64_t slot, std::int64_t d, std::int64_t padded) {
    return hidden.data() + (step % 2) * per_buffer + slot * stride + d * padded;
  }
  float* cell_at(std::int64_t step, std::int64_t slot, std::int64_t d, std::int64_t padded) {
    return cell.data() + (cells_alternate ? step % 2 : 0) * per_buffer + slot * stride + d * padded;
  }
  std::int64_t stride;
  std::int64_t per_buffer;
  bool cells_alternate;
  std::vector<float> hidden;
  std::vector<float> cell;
};

// Pointer lists a worker hands the kernels, and room for a slot set's projections.
struct Scratch {
  Scratch(std::int64_t rows, std::int64_t projection_floats)
      : inputs(static_cast<std::size_t>(rows)),
        targets(inputs.size()),
        projections(inputs.size()),
        hidden_in(inputs.size()),
        cell_in(inputs.size()),
        hidden_out(inputs.size()),
        cell_out(inputs.size()),
        output(inputs.size()),
        projected(static_cast<std::size_t>(projection_floats)) {}
  std::vector<const float*> inputs;
  std::vector<float*> targets;
  std::vector<const float*> projections;
  std::vector<const float*> hidden_in;
  std::vector<const float*> cell_in;
  std::vector<float*> hidden_out;
  std::vector<float*> cell_out;
  std::vector<float*> output;
  std::vector<float> projected;
};

// ---------------------------------------------------------------------------------------------
// One layer.

// The initial states of one call, padded to whole blocks of units.
class InitialStates {
 public:
  InitialStates(const std::vector<at::Tensor>& initial, std::int64_t states, std::int64_t hidden, std::int64_t padded)
      : padded_(padded), zeros_(static_cast<std::size_t>(padded), 0.0F) {
    if (initial.empty()) return;
    rows_ = initial[0].size(1);
    for (std::size_t which = 0; which < 2; ++which) {
      const at::Tensor source = initial[which].contiguous();
      const float* from = source.const_data_ptr<float>();
      std::vector<float>& to = values_[which];
      to.assign(static_cast<std::size_t>(states * rows_ * padded), 0.0F);
      for (std::int64_t row = 0; row < states * rows_; ++row) {
        std::copy_n(from + row * hidden, hidden, to.begin() + row * padded);
      }
    }
  }
  // State `which` (0 hidden, 1 cell) of layer-direction `state` for row `row`.
  const float* get(std::size_t which, std::int64_t state, std::int64_t row) const {
    if (rows_ == 0) return zeros_.data();
    return values_[which].data() + (state * rows_ + (rows_ == 1 ? 0 : row)) * padded_;
  }

 private:
  std::int64_t padded_;
  std::int64_t rows_ = 0;
  std::vector<float> zeros_;
  std::vector<float> values_[2];
};

struct LayerWeights {
  std::vector<LstmDirectionWeights> directions;
  std::vector<const float*> input_weights;  // per direction [panels, inputs, kLstmWeightPanel]
};

// The arithmetic of one layer over a call's rows, for any set of rows and range of panels.
class LayerPass {
 public:
  LayerPass(const LayerShape& shape, const LayerWeights& weights, const InitialStates& initial, std::int64_t layer,
            std::span<const std::int64_t> lengths, const std::vector<std::int64_t>& input_start,
            const std::vector<std::int64_t>& output_start, float* output, const std::int64_t* kept)
      : shape_(shape),
        weights_(weights),
        initial_(initial),
        layer_(layer),
        lengths_(lengths),
        input_start_(input_start),
        output_start_(output_start),
        output_(output),
        kept_(kept) {}

  void read_inputs(const float* input) { input_ = input; }
  void read_projections(const float* projections) { projections_ = projections; }
  void read_table(const float* table, const std::int64_t* ids) {
    table_ = table;
    ids_ = ids;
  }
  bool computes_projections() const { return input_ != nullptr; }
  const LayerShape& shape() const { return shape_; }
  std::span<const std::int64_t> lengths() const { return lengths_; }

  // The input projections of direction d for `count` lists of entries, panels [begin, end):
  // entry i of list j lands in row j * slots + entry.slot of `projected` (rows of width()).
  void project(const std::vector<Entry>* lists, std::int64_t count, std::int64_t slots, std::int64_t d,
               std::int64_t begin, std::int64_t end, Scratch& scratch) const {
    std::size_t rows = 0;
    for (std::int64_t j = 0; j < count; ++j) {
      for (const Entry& entry : lists[j]) {
        scratch.inputs[rows] = input_ + input_row(entry, d) * shape_.inputs;
        scratch.targets[rows] = projected_row(scratch, j * slots + entry.slot, d);
        ++rows;
      }
    }
    run_lstm_projection(rows, scratch.inputs.data(), shape_.inputs,
                        weights_.input_weights[static_cast<std::size_t>(d)], begin, end, scratch.targets.data());
  }

  // One step of direction d over `entries`, panels [begin, end), reading the states `before` holds
  // for the step `step` and the projections of list `ahead` in scratch.projected (see project).
  // With `into` null, writes the new states into `before` for step + 1 and the outputs into the
  // layer's output; otherwise into rows 0, 1, ... of `into` (cells, then hidden states, each
  // [entries, padded]) and nowhere else, for commit() to copy.
  void step(const std::vector<Entry>& entries, std::int64_t step, std::int64_t ahead, std::int64_t slots,
            std::int64_t d, std::int64_t begin, std::int64_t end, SlotStates& before, Scratch& scratch,
            float* into) const {
    const std::int64_t padded = shape_.padded;
    const std::int64_t initial = layer_ * shape_.directions + d;
    const auto count = static_cast<std::int64_t>(entries.size());
    for (std::int64_t i = 0; i < count; ++i) {
      const Entry& entry = entries[static_cast<std::size_t>(i)];
      const auto r = static_cast<std::size_t>(i);
      const std::int64_t row = input_row(entry, d);
      if (table_ != nullptr) {
        scratch.projections[r] = table_ + ids_[row] * shape_.width() + d * kGates * padded;
      } else if (projections_ != nullptr) {
        scratch.projections[r] = projections_ + row * shape_.width() + d * kGates * padded;
      } else {
        scratch.projections[r] = projected_row(scratch, ahead * slots + entry.slot, d);
      }
      const bool first = entry.k == 0;
      scratch.hidden_in[r] = first ? initial_.get(0, initial, entry.row) : before.hidden_at(step, entry.slot, d, padded);
      scratch.cell_in[r] = first ? initial_.get(1, initial, entry.row) : before.cell_at(step, entry.slot, d, padded);
      if (into == nullptr) {
        scratch.hidden_out[r] = before.hidden_at(step + 1, entry.slot, d, padded);
        scratch.cell_out[r] = before.cell_at(step + 1, entry.slot, d, padded);
        scratch.output[r] = output_row(entry, d);
      } else {
        scratch.cell_out[r] = into + i * padded;
        scratch.hidden_out[r] = into + (count + i) * padded;
        scratch.output[r] = nullptr;
      }
    }
    LstmStepRows rows;
    rows.count = entries.size();
    rows.projections = scratch.projections.data();
    rows.hidden_in = scratch.hidden_in.data();
    rows.cell_in = scratch.cell_in.data();
    rows.hidden_out = scratch.hidden_out.data();
    rows.cell_out = scratch.cell_out.data();
    rows.output = scratch.output.data();
    run_lstm_step(rows, weights_.directions[static_cast<std::size_t>(d)], begin, end);
  }

  // Copies what step() wrote `into` for panels [begin, end) to the states for step + 1 and to
  // the layer's output.
  void commit(const std::vector<Entry>& entries, std::int64_t step, std::int64_t d, std::int64_t begin,
              std::int64_t end, const float* into, SlotStates& states) const {
    const std::int64_t padded = shape_.padded;
    const std::int64_t first_unit = begin * kLstmGatePadding;
    const std::int64_t units = (end - begin) * kLstmGatePadding;
    const std::int64_t real_units = std::min(end * kLstmGatePadding, shape_.hidden) - first_unit;
    const auto count = static_cast<std::int64_t>(entries.size());
    for (std::int64_t i = 0; i < count; ++i) {
      const Entry& entry = entries[static_cast<std::size_t>(i)];
      const float* cell = into + i * padded + first_unit;
      const float* hidden = into + (count + i) * padded + first_unit;
      std::copy_n(cell, units, states.cell_at(step + 1, entry.slot, d, padded) + first_unit);
      std::copy_n(hidden, units, states.hidden_at(step + 1, entry.slot, d, padded) + first_unit);
      if (float* output = output_row(entry, d); output != nullptr && real_units > 0) {
        std::copy_n(hidden, real_units, output + first_unit);
      }
    }
  }

 private:
  std::int64_t time(const Entry& entry, std::int64_t d) const {
    return d == 0 ? entry.k : lengths_[static_cast<std::size_t>(entry.row)] - 1 - entry.k;
  }
  std::int64_t input_row(const Entry& entry, std::int64_t d) const {
    return input_start_[static_cast<std::size_t>(entry.row)] + time(entry, d);
  }
  float* output_row(const Entry& entry, std::int64_t d) const {
    const std::int64_t row = output_start_[static_cast<std::size_t>(entry.row)] + time(entry, d);
    const std::int64_t target = kept_ == nullptr ? row : kept_[row];
    return target < 0 ? nullptr : output_ + target * shape_.directions * shape_.hidden + d * shape_.hidden;
  }
  float* projected_row(Scratch& scratch, std::int64_t row, std::int64_t d) const {
    return scratch.projected.data() + (row * shape_.directions + d) * kGates * shape_.padded;
  }

  LayerShape shape_;
  const LayerWeights& weights_;
  const InitialStates& initial_;
  std::int64_t layer_;
  std::span<const std::int64_t> lengths_;
  const std::vector<std::int64_t>& input_start_;
  const std::vector<std::int64_t>& output_start_;
  float* output_;
  const std::int64_t* kept_;
  const float* input_ = nullptr;
  const float* projections_ = nullptr;
  const float* table_ = nullptr;
  const std::int64_t* ids_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Splitting a layer between workers.

// While alive, a parallel region that this thread starts has at most `workers` threads. A
// region wakes every thread of its team and ends only once each has run: on a busy machine,
// waiting for threads that have no work costs more than the work.
class TeamSize {
 public:
  explicit TeamSize(std::int64_t workers) : threads_(at::get_num_threads()) {
#ifdef _OPENMP
    if (workers < threads_) omp_set_num_threads(static_cast<int>(workers));
#endif
  }
  ~TeamSize() {
#ifdef _OPENMP
    omp_set_num_threads(threads_);
#endif
  }
  TeamSize(const TeamSize&) = delete;
  TeamSize& operator=(const TeamSize&) = delete;

 private:
  int threads_;
};

// Rows split between slot sets: each worker runs a slot set of its own, taking the next row
// whenever a slot frees, with no synchronisation between workers. A worker the machine holds up
// delays only the rows it holds. The input projections are computed `ahead` steps at a time.
void run_by_rows(const LayerPass& pass, const Schedule& schedule, const std::vector<std::int64_t>& order) {
  const LayerShape& shape = pass.shape();
  std::atomic<std::size_t> next_row{0};
  const auto claim = [&]() -> std::int64_t {
    const std::size_t index = next_row.fetch_add(1, std::memory_order_relaxed);
    return index < order.size() ? order[index] : -1;
  };
  for_each_unit(static_cast<std::size_t>(schedule.workers), [&](std::size_t) {
    const bool computes = pass.computes_projections();
    SlotStates states(shape, schedule.slots, false);
    Scratch scratch(schedule.ahead * schedule.slots, computes ? schedule.ahead * schedule.slots * shape.width() : 0);
    SlotRows slots(pass.lengths(), schedule.slots);
    std::vector<std::vector<Entry>> phase = entry_lists(schedule.ahead, schedule.slots);
    for (std::int64_t step = 0;;) {
      std::int64_t steps = 0;
      while (steps < schedule.ahead) {
        slots.advance(claim, phase[static_cast<std::size_t>(steps)]);
        if (phase[static_cast<std::size_t>(steps)].empty()) break;
        ++steps;
      }
      if (steps == 0) break;
      for (std::int64_t d = 0; d < shape.directions && computes; ++d) {
        pass.project(phase.data(), steps, schedule.slots, d, 0, shape.panels(), scratch);
      }
      for (std::int64_t j = 0; j < steps; ++j, ++step) {
        for (std::int64_t d = 0; d < shape.directions; ++d) {
          pass.step(phase[static_cast<std::size_t>(j)], step, j, schedule.slots, d, 0, shape.panels(), states, scratch,
                    nullptr);
        }
      }
    }
  });
}

void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

using Clock = std::chrono::steady_clock;

// A cache line of its own for each counter that workers update, so that they do not slow each
// other's updates.
struct alignas(64) SharedCounter {
  std::atomic<std::int64_t> value{0};
};

// Steps of entries a worker keeps: it may redo items of steps this far behind its own.
constexpr std::int64_t kKeptSteps = 4;

// Every step split by hidden unit: all rows run in one slot set, and each step's panels are cut
// into slices, so that each worker reads only a share of the weights at every step.
//
// Items (step, direction, slice) are taken in order from one counter; an item starts once every
// item of the step before has been committed. An item computes into the worker's own buffer and
// then commits: the one worker that wins the item's flag copies the results into the shared
// states. A worker that waits longer than a few items' time redoes an uncommitted item of the
// step it waits for, so that a worker the machine holds up (descheduled in the middle of an
// item) delays nobody: the late worker later loses the flag and drops its result. Steps read
// and write alternating buffers, so an item's inputs stay put until its step is committed.
void run_by_units(const LayerPass& pass, const Schedule& schedule, const std::vector<std::int64_t>& order) {
  const LayerShape& shape = pass.shape();
  const bool computes = pass.computes_projections();
  const std::span<const std::int64_t> lengths = pass.lengths();
  // Every worker walks the same slot set through the same steps, taking rows in order.
  const auto claims_in_order = [&order](std::size_t& next) {
    return [&order, &next]() -> std::int64_t { return next < order.size() ? order[next++] : -1; };
  };
  std::int64_t steps = 0;
  {
    std::size_t next = 0;
    SlotRows slots(lengths, schedule.slots);
    std::vector<Entry> entries;
    entries.reserve(static_cast<std::size_t>(schedule.slots));
    for (slots.advance(claims_in_order(next), entries); !entries.empty(); slots.advance(claims_in_order(next), entries)) {
      ++steps;
    }
  }
  const std::int64_t per_step = shape.directions * schedule.slices;
  const std::int64_t items = steps * per_step;
  const std::int64_t panels = shape.panels();

  // Everything is allocated before the workers start: nothing below may throw, or workers would
  // wait for items that never commit.
  SlotStates states(shape, schedule.slots, true);
  struct Worker {
    Worker(const LayerPass& pass, const Schedule& schedule)
        : slots(pass.lengths(), schedule.slots),
          kept(entry_lists(kKeptSteps, schedule.slots)),
          scratch(schedule.slots, pass.computes_projections() ? schedule.slots * pass.shape().width() : 0),
          results(static_cast<std::size_t>(2 * schedule.slots * pass.shape().padded)) {}
    SlotRows slots;
    std::vector<std::vector<Entry>> kept;  // step s's entries at s % kKeptSteps
    std::int64_t walked = 0;               // steps whose entries have been made
    std::size_t next_row = 0;
    Scratch scratch;
    std::vector<float> results;
    double item_seconds = 1.0;  // the fastest item this worker has run, in seconds
  };
  std::vector<Worker> workers;
  workers.reserve(static_cast<std::size_t>(schedule.workers));
  for (std::int64_t w = 0; w < schedule.workers; ++w) workers.emplace_back(pass, schedule);
  std::vector<SharedCounter> committed(static_cast<std::size_t>(per_step));  // last step committed, per item
  for (SharedCounter& flag : committed) flag.value.store(-1, std::memory_order_relaxed);
  std::vector<SharedCounter> takers(static_cast<std::size_t>(per_step));     // workers on the item now
  SharedCounter next_item;
  SharedCounter done;  // items committed

  // Item `index` of step `step`: computes, and commits if no other worker did.
  const auto run_item = [&](Worker& worker, std::int64_t step, std::int64_t index) {
    const auto start = Clock::now();
    const std::int64_t d = index / schedule.slices;
    const std::int64_t slice = index % schedule.slices;
    const std::int64_t begin = slice * panels / schedule.slices;
    const std::int64_t end = (slice + 1) * panels / schedule.slices;
    const std::vector<Entry>& entries = worker.kept[static_cast<std::size_t>(step % kKeptSteps)];
    if (computes) pass.project(&entries, 1, schedule.slots, d, begin, end, worker.scratch);
    pass.step(entries, step, 0, schedule.slots, d, begin, end, states, worker.scratch, worker.results.data());
    std::int64_t expected = step - 1;
    if (committed[static_cast<std::size_t>(index)].value.compare_exchange_strong(expected, step,
                                                                                  std::memory_order_acq_rel)) {
      pass.commit(entries, step, d, begin, end, worker.results.data(), states);
      done.value.fetch_add(1, std::memory_order_release);
    }
    worker.item_seconds = std::min(worker.item_seconds, std::chrono::duration<double>(Clock::now() - start).count());
  };

  // Waits until every item of the steps before `step` is committed, redoing one that takes too
  // long; spins briefly, then yields the core, which the awaited worker may need.
  const auto wait_for = [&](Worker& worker, std::int64_t step) {
    const std::int64_t target = step * per_step;
    const auto start = Clock::now();
    const double patience = 3.0 * std::min(worker.item_seconds, 1e-3) + 20e-6;
    for (int spins = 0;; ++spins) {
      const std::int64_t committed_items = done.value.load(std::memory_order_acquire);
      if (committed_items >= target) return;
      const std::int64_t open_step = committed_items / per_step;  // its inputs are complete
      if (open_step + kKeptSteps > step && std::chrono::duration<double>(Clock::now() - start).count() > patience) {
        // The open item with the fewest workers on it.
        std::int64_t chosen = -1;
        std::int64_t fewest = 0;
        for (std::int64_t index = 0; index < per_step; ++index) {
          if (committed[static_cast<std::size_t>(index)].value.load(std::memory_order_acquire) >= open_step) continue;
          const std::int64_t count = takers[static_cast<std::size_t>(index)].value.load(std::memory_order_relaxed);
          if (chosen < 0 || count < fewest) {
            chosen = index;
            fewest = count;
          }
        }
        if (chosen >= 0) {
          takers[static_cast<std::size_t>(chosen)].value.fetch_add(1, std::memory_order_relaxed);
          run_item(worker, open_step, chosen);
          takers[static_cast<std::size_t>(chosen)].value.fetch_sub(1, std::memory_order_relaxed);
          continue;
        }
      }
      if (spins < 1000) {
        pause_briefly();
      } else {
        std::this_thread::yield();
      }
    }
  };

  for_each_unit(workers.size(), [&](std::size_t w) {
    Worker& worker = workers[w];
    for (std::int64_t item = next_item.value.fetch_add(1); item < items; item = next_item.value.fetch_add(1)) {
      const std::int64_t step = item / per_step;
      const std::int64_t index = item % per_step;
      while (worker.walked <= step) {
        worker.slots.advance(claims_in_order(worker.next_row), worker.kept[static_cast<std::size_t>(worker.walked % kKeptSteps)]);
        ++worker.walked;
      }
      wait_for(worker, step);
      if (committed[static_cast<std::size_t>(index)].value.load(std::memory_order_acquire) >= step) continue;
      takers[static_cast<std::size_t>(index)].value.fetch_add(1, std::memory_order_relaxed);
      run_item(worker, step, index);
      takers[static_cast<std::size_t>(index)].value.fetch_sub(1, std::memory_order_relaxed);
    }
  });
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
  const at::Tensor columns = panel_columns(hidden_);

  std::int64_t layer_input = input_size_;
  std::vector<at::Tensor> first_input_rows;
  for (int layer = 0; layer < layers; ++layer) {
    Layer prepared;
    prepared.input_width = layer_input;
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

      const at::Tensor input_rows = to_panel_rows(weight_ih, columns, padded_hidden_);
      if (layer == 0) first_input_rows.push_back(input_rows);
      prepared.directions.push_back({to_panels(input_rows), to_panels(to_panel_rows(weight_hh, columns, padded_hidden_)),
                                     to_panel_rows(at::add(bias_ih, bias_hh), columns, padded_hidden_)});
    }
    layers_.push_back(std::move(prepared));
    layer_input = directions_ * hidden_;
  }
  first_input_weights_ = at::cat(first_input_rows, 0).t().contiguous();
}

void InferenceLstm::check_prepared() const { TORCH_CHECK(!layers_.empty(), "inference LSTM: no parameters"); }

at::Tensor InferenceLstm::operator()(const at::Tensor& input, std::span<const std::int64_t> lengths,
                                     const std::vector<at::Tensor>& initial) const {
  check_prepared();
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
  const std::int64_t width = directions_ * hidden_;
  if (batch == 0 || steps == 0) return at::zeros({batch, steps, width}, at::kFloat);
  const std::vector<std::int64_t> full(lengths.empty() ? static_cast<std::size_t>(batch) : 0, steps);
  const at::Tensor contiguous_input = input.contiguous();
  Call call;
  call.input = contiguous_input.const_data_ptr<float>();
  call.lengths = lengths.empty() ? std::span<const std::int64_t>(full) : lengths;
  for (std::int64_t row = 0; row < batch; ++row) call.input_start.push_back(row * steps);
  call.output_start = call.input_start;
  at::Tensor output = at::empty({batch, steps, width}, at::kFloat);
  float* output_data = output.mutable_data_ptr<float>();
  call.output_rows = batch * steps;
  run_layers(call, initial, output_data);
  for (std::int64_t row = 0; row < batch; ++row) {  // the padding past every row's length
    const std::int64_t length = call.lengths[static_cast<std::size_t>(row)];
    std::fill(output_data + (row * steps + length) * width, output_data + (row + 1) * steps * width, 0.0F);
  }
  return output;
}

namespace {

// Row b's first step in packed rows.
std::vector<std::int64_t> packed_starts(std::span<const std::int64_t> lengths, std::int64_t rows) {
  std::vector<std::int64_t> starts;
  starts.reserve(lengths.size());
  std::int64_t total = 0;
  for (const std::int64_t length : lengths) {
    TORCH_CHECK(length >= 1, "inference LSTM: every length must be at least 1, got ", length);
    starts.push_back(total);
    total += length;
  }
  TORCH_CHECK(total == rows, "inference LSTM: the lengths cover ", total, " steps, the input ", rows);
  return starts;
}

}  // namespace

at::Tensor InferenceLstm::run_packed(const at::Tensor& input, std::span<const std::int64_t> lengths,
                                     const std::vector<at::Tensor>& initial) const {
  check_prepared();
  TORCH_CHECK(input.scalar_type() == at::kFloat && input.device().is_cpu(),
              "inference LSTM: input must be a float32 CPU tensor");
  TORCH_CHECK(input.dim() == 2 && input.size(1) == input_size_, "inference LSTM: packed input must have shape [N, ",
              input_size_, "], got ", input.sizes());
  const at::Tensor contiguous_input = input.contiguous();
  Call call;
  call.input = contiguous_input.const_data_ptr<float>();
  call.lengths = lengths;
  call.input_start = packed_starts(lengths, input.size(0));
  call.output_start = call.input_start;
  at::Tensor output = at::empty({input.size(0), directions_ * hidden_}, at::kFloat);
  call.output_rows = input.size(0);
  run_layers(call, initial, output.mutable_data_ptr<float>());
  return output;
}

at::Tensor InferenceLstm::run_projected(const at::Tensor& projections, std::span<const std::int64_t> lengths,
                                        const std::vector<at::Tensor>& initial) const {
  check_prepared();
  TORCH_CHECK(projections.scalar_type() == at::kFloat && projections.device().is_cpu() && projections.dim() == 2 &&
                  projections.size(1) == projection_width(),
              "inference LSTM: projections must be float32 [N, ", projection_width(), "], got ", projections.sizes());
  const at::Tensor contiguous = projections.contiguous();
  Call call;
  call.projections = contiguous.const_data_ptr<float>();
  call.lengths = lengths;
  call.input_start = packed_starts(lengths, projections.size(0));
  call.output_start = call.input_start;
  at::Tensor output = at::empty({projections.size(0), directions_ * hidden_}, at::kFloat);
  call.output_rows = projections.size(0);
  run_layers(call, initial, output.mutable_data_ptr<float>());
  return output;
}

at::Tensor InferenceLstm::run_gathered(const at::Tensor& table, std::span<const std::int64_t> ids,
                                       std::span<const std::int64_t> lengths, const std::vector<at::Tensor>& initial,
                                       std::span<const std::int64_t> kept) const {
  check_prepared();
  TORCH_CHECK(table.scalar_type() == at::kFloat && table.device().is_cpu() && table.dim() == 2 &&
                  table.size(1) == projection_width(),
              "inference LSTM: projection table must be float32 [V, ", projection_width(), "], got ", table.sizes());
  for (const std::int64_t id : ids) {
    TORCH_CHECK(id >= 0 && id < table.size(0), "inference LSTM: id ", id, " outside the projection table of ",
                table.size(0), " rows");
  }
  const at::Tensor contiguous = table.contiguous();
  const auto steps = static_cast<std::int64_t>(ids.size());
  Call call;
  call.table = contiguous.const_data_ptr<float>();
  call.ids = ids.data();
  call.lengths = lengths;
  call.input_start = packed_starts(lengths, steps);
  call.output_start = call.input_start;
  call.output_rows = steps;
  std::vector<std::int64_t> kept_at;
  if (!kept.empty()) {
    kept_at.assign(static_cast<std::size_t>(steps), -1);
    for (std::size_t index = 0; index < kept.size(); ++index) {
      const std::int64_t row = kept[index];
      TORCH_CHECK(row >= 0 && row < steps && kept_at[static_cast<std::size_t>(row)] < 0,
                  "inference LSTM: kept rows must be distinct rows of the input, got ", row);
      kept_at[static_cast<std::size_t>(row)] = static_cast<std::int64_t>(index);
    }
    call.kept = kept_at.data();
  }
  const std::int64_t rows = kept.empty() ? steps : static_cast<std::int64_t>(kept.size());
  at::Tensor output = at::empty({rows, directions_ * hidden_}, at::kFloat);
  run_layers(call, initial, output.mutable_data_ptr<float>());
  return output;
}

at::Tensor InferenceLstm::first_layer_projections(const at::Tensor& input) const {
  check_prepared();
  TORCH_CHECK(input.scalar_type() == at::kFloat && input.device().is_cpu() && input.dim() == 2 &&
                  input.size(1) == input_size_,
              "inference LSTM: input must be float32 [N, ", input_size_, "], got ", input.sizes());
  const at::Tensor contiguous = input.contiguous();
  const std::int64_t rows = input.size(0);
  const std::int64_t width = projection_width();
  at::Tensor projections = at::empty({rows, width}, at::kFloat);
  const float* source = contiguous.const_data_ptr<float>();
  float* target = projections.mutable_data_ptr<float>();
  constexpr std::int64_t kRowsPerUnit = 256;
  const Layer& layer = layers_.front();
  for_each_unit(unit_count(static_cast<std::size_t>(rows), kRowsPerUnit), [&](std::size_t unit) {
    const std::int64_t begin = static_cast<std::int64_t>(unit) * kRowsPerUnit;
    const std::int64_t count = std::min(kRowsPerUnit, rows - begin);
    std::vector<const float*> inputs(static_cast<std::size_t>(count));
    for (std::int64_t direction = 0; direction < directions_; ++direction) {
      std::vector<float*> outputs(static_cast<std::size_t>(count));
      for (std::int64_t r = 0; r < count; ++r) {
        inputs[static_cast<std::size_t>(r)] = source + (begin + r) * input_size_;
        outputs[static_cast<std::size_t>(r)] = target + (begin + r) * width + direction * kGates * padded_hidden_;
      }
      run_lstm_projection(static_cast<std::size_t>(count), inputs.data(), input_size_,
                          layer.directions[static_cast<std::size_t>(direction)].input_weights.const_data_ptr<float>(), 0,
                          padded_hidden_ / kLstmGatePadding, outputs.data());
    }
  });
  return projections;
}

const at::Tensor& InferenceLstm::first_layer_input_weights() const {
  check_prepared();
  return first_input_weights_;
}

void InferenceLstm::run_layers(const Call& call, const std::vector<at::Tensor>& initial, float* output) const {
  const auto batch = static_cast<std::int64_t>(call.lengths.size());
  const auto layer_count = static_cast<std::int64_t>(layers_.size());
  if (!initial.empty()) {
    TORCH_CHECK(initial.size() == 2, "inference LSTM: initial states must be {hidden, cell}");
    for (const at::Tensor& state : initial) {
      TORCH_CHECK(state.scalar_type() == at::kFloat && state.dim() == 3 &&
                      state.size(0) == layer_count * directions_ && (state.size(1) == batch || state.size(1) == 1) &&
                      state.size(2) == hidden_,
                  "inference LSTM: initial states must be float32 [", layer_count * directions_, ", ", batch,
                  " or 1, ", hidden_, "], got ", state.sizes());
    }
  }
  if (batch == 0) return;
  const InitialStates states(initial, layer_count * directions_, hidden_, padded_hidden_);
  const std::int64_t steps = std::accumulate(call.lengths.begin(), call.lengths.end(), std::int64_t{0});
  const std::vector<std::int64_t> order = longest_first(call.lengths);
  const std::int64_t width = directions_ * hidden_;

  at::Tensor layer_input;  // the layer before's output
  for (std::int64_t layer = 0; layer < layer_count; ++layer) {
    const Layer& prepared = layers_[static_cast<std::size_t>(layer)];
    LayerWeights weights;
    for (const Direction& direction : prepared.directions) {
      weights.directions.push_back({direction.recurrent.const_data_ptr<float>(), direction.bias.const_data_ptr<float>(),
                                    hidden_, padded_hidden_});
      weights.input_weights.push_back(direction.input_weights.const_data_ptr<float>());
    }
    const bool last = layer + 1 == layer_count;
    at::Tensor layer_output = last ? at::Tensor() : at::empty({call.output_rows, width}, at::kFloat);
    float* target = last ? output : layer_output.mutable_data_ptr<float>();
    const bool given = layer == 0 && call.input == nullptr;
    const LayerShape shape{directions_, hidden_, padded_hidden_, given ? 0 : prepared.input_width};
    LayerPass pass(shape, weights, states, layer, call.lengths, layer == 0 ? call.input_start : call.output_start,
                   call.output_start, target, last ? call.kept : nullptr);
    if (layer > 0) {
      pass.read_inputs(layer_input.const_data_ptr<float>());
    } else if (call.input != nullptr) {
      pass.read_inputs(call.input);
    } else if (call.table != nullptr) {
      pass.read_table(call.table, call.ids);
    } else {
      pass.read_projections(call.projections);
    }
    const Schedule schedule = plan_layer(shape, call.lengths, steps);
    const TeamSize team(schedule.workers);
    if (schedule.mode == Schedule::Mode::units) {
      run_by_units(pass, schedule, order);
    } else {
      run_by_rows(pass, schedule, order);
    }
    layer_input = std::move(layer_output);
  }
}

}  // namespace velmora::detail
