#pragma once

// The arithmetic of one LSTM direction on raw float buffers: the input projections of a set of
// rows, and one time step of a set of rows, each over a range of weight panels. Compiled for
// every SIMD target Highway supports and chosen at run time.
//
// Every output is a sum over k taken in increasing k from a fixed start, one fused multiply-add
// per term, whatever the rows, panels or SIMD blocks a call covers: the caller may cut the rows
// and panels between calls and workers in any way and gets the same bits.

#include <cstddef>
#include <cstdint>

namespace velmora::detail {

/// Units come in blocks of this many, padded with zero weights: whole SIMD vectors of every
/// target fit in it.
constexpr std::int64_t kLstmGatePadding = 16;

/// A panel holds the four gates (i, f, g, o) of one block of units: kLstmGatePadding columns
/// each, so that a panel's sums are all its units' cell update needs. Weights are stored panel
/// after panel, each as [inputs, kLstmWeightPanel], so that one panel streams through memory
/// in order and stays in cache while every row of a call uses it.
constexpr std::int64_t kLstmWeightPanel = 4 * kLstmGatePadding;

/// One direction's prepared weights.
struct LstmDirectionWeights {
  const float* recurrent = nullptr;  // [panels, hidden, kLstmWeightPanel]
  const float* bias = nullptr;       // [panels * kLstmWeightPanel]: bias_ih + bias_hh
  std::int64_t hidden = 0;           // real units; panels = padded_hidden / kLstmGatePadding
  std::int64_t padded_hidden = 0;
};

/// The rows of one step, one pointer per row.
struct LstmStepRows {
  std::size_t count = 0;
  const float* const* projections = nullptr;  // x·W_ih of the step, in panel columns, without bias
  const float* const* hidden_in = nullptr;    // the previous hidden state: `hidden` floats
  const float* const* cell_in = nullptr;      // the previous cell state: padded_hidden floats
  float* const* hidden_out = nullptr;         // padded_hidden floats, distinct from hidden_in
  float* const* cell_out = nullptr;           // padded_hidden floats, may be cell_in
  float* const* output = nullptr;             // the real units of the new hidden state, or null
};

/// Runs panels [panel_begin, panel_end) of one step: gates = projection + bias + h·W_hh, then
/// c = f·c + i·g and h = o·tanh(c) for the panels' units. Reads every row's whole hidden_in and
/// writes only the panels' units, so calls over disjoint panels may run at once.
void run_lstm_step(const LstmStepRows& rows, const LstmDirectionWeights& weights, std::int64_t panel_begin,
                   std::int64_t panel_end);

/// outputs[r] at the columns of panels [panel_begin, panel_end) = inputs[r] · weights, where
/// `weights` is [panels, input_width, kLstmWeightPanel].
void run_lstm_projection(std::size_t count, const float* const* inputs, std::int64_t input_width,
                         const float* weights, std::int64_t panel_begin, std::int64_t panel_end,
                         float* const* outputs);

}  // namespace velmora::detail
