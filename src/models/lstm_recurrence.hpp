#pragma once

// The time loop of one LSTM direction over a few sequences at once, on raw float buffers,
// compiled for every SIMD target Highway supports and chosen at run time. Rows run together so
// that each load of the recurrent weights serves all of them.

#include <cstdint>

namespace velmora::detail {

/// Gate blocks are padded: the i, f, g, o blocks each take `padded_hidden` floats (a multiple
/// of 16), the first `hidden` of them real, the rest zero in weights and projections.
struct LstmRecurrence {
  const float* projections = nullptr;  // x·W_ihᵀ of step t at projections + t * projection_stride
  std::int64_t projection_stride = 0;
  const float* bias = nullptr;         // bias_ih + bias_hh, 4 * padded_hidden floats
  const float* recurrent = nullptr;    // weight_hhᵀ in panels: [4 * padded_hidden / kLstmWeightPanel, hidden, kLstmWeightPanel]
  std::int64_t hidden = 0;
  std::int64_t padded_hidden = 0;
  std::int64_t length = 0;             // steps to run
  bool reverse = false;                // run from step length - 1 down to 0
  const float* initial_hidden = nullptr;  // `hidden` floats, or null for zeros
  const float* initial_cell = nullptr;
  float* output = nullptr;             // hidden state of step t written at output + t * output_stride
  std::int64_t output_stride = 0;
};

/// Rows one call runs together at most: each step streams the recurrent weights once for all
/// of them, in panels small enough to stay in cache while every row uses them.
constexpr int kLstmRowsPerGroup = 16;

/// Runs `count` (1 to kLstmRowsPerGroup) rows that share `recurrent`, `hidden`, `padded_hidden`
/// and `reverse`, ordered longest first. `scratch` holds lstm_recurrence_scratch_size floats.
void run_lstm_recurrences(const LstmRecurrence* rows, int count, float* scratch);

constexpr std::int64_t lstm_recurrence_scratch_size(std::int64_t padded_hidden) {
  return kLstmRowsPerGroup * 6 * padded_hidden;
}

/// Whole SIMD vectors of every target fit in a multiple of this many floats.
constexpr std::int64_t kLstmGatePadding = 16;

/// The recurrent weights are stored as panels of this many gate columns, each panel's rows
/// contiguous, so that every block of columns streams through memory in order.
constexpr std::int64_t kLstmWeightPanel = 4 * kLstmGatePadding;

}  // namespace velmora::detail
