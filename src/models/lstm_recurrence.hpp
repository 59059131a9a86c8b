#pragma once

// The time loop of one LSTM direction over one sequence, on raw float buffers, compiled for
// every SIMD target Highway supports and chosen at run time.

#include <cstdint>

namespace velmora::detail {

/// Gate blocks are padded: the i, f, g, o blocks each take `padded_hidden` floats (a multiple
/// of 16), the first `hidden` of them real, the rest zero in weights and projections.
struct LstmRecurrence {
  const float* projections = nullptr;  // x·W_ihᵀ + biases of step t at projections + t * projection_stride
  std::int64_t projection_stride = 0;
  const float* recurrent = nullptr;    // weight_hhᵀ [hidden, 4 * padded_hidden]
  std::int64_t hidden = 0;
  std::int64_t padded_hidden = 0;
  std::int64_t length = 0;             // steps to run
  bool reverse = false;                // run from step length - 1 down to 0
  const float* initial_hidden = nullptr;  // `hidden` floats, or null for zeros
  const float* initial_cell = nullptr;
  float* output = nullptr;             // hidden state of step t written at output + t * output_stride
  std::int64_t output_stride = 0;
};

/// `scratch` holds at least lstm_recurrence_scratch_size(padded_hidden) floats.
void run_lstm_recurrence(const LstmRecurrence& task, float* scratch);

constexpr std::int64_t lstm_recurrence_scratch_size(std::int64_t padded_hidden) { return 6 * padded_hidden; }

/// Whole SIMD vectors of every target fit in a multiple of this many floats.
constexpr std::int64_t kLstmGatePadding = 16;

}  // namespace velmora::detail
