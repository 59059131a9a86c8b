#pragma once

// The decoder step of a float32 seq2seq model, row by row: the products on weights laid out for
// a few rows (models/row_products.hpp), attention and the copy mixture in one pass over each
// row. A step of the tensor library's operators costs some thirty dispatches and as many
// temporaries whatever the rows; here it costs a few products and one loop per row, and every
// row's result is the same bits whichever rows step beside it.

#include <ATen/ATen.h>

#include <optional>

#include "models/row_products.hpp"
#include "models/small_lstm.hpp"

namespace velmora::detail {

struct Seq2SeqRowDecoder {
  at::Tensor embedding;              // [V, E]
  PreparedLstmStep cell;             // decoder.lstm_cell
  RowProducts query;                 // attention linear_in
  RowProducts output;                // attention linear_out, over [weighted context | h]
  RowProducts generator;             // dec2vocab
  std::optional<RowProducts> gate;   // copy_gate, with copy
};

}  // namespace velmora::detail
