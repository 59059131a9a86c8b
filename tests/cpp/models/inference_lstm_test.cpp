// The inference LSTM computes what at::lstm computes: over padded batches, over packed batches
// of unequal lengths, with and without initial states, for one or two layers in one or both
// directions and hidden sizes from 1 to 256.

#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <ATen/Parallel.h>
#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <ostream>
#include <vector>

#include "models/inference_lstm.hpp"
#include "models/lstm_recurrence.hpp"
#include "models/parallel_units.hpp"

namespace {

using velmora::detail::InferenceLstm;

struct Shape {
  int layers;
  bool bidirectional;
  std::int64_t input;
  std::int64_t hidden;
  std::vector<std::int64_t> lengths;  // one per row, non-increasing; steps = lengths[0]
  bool packed;                        // run as packed sequences (else every row is full)
  bool initial_states;
};

// Readable test names: layers, directions, input, hidden, lengths, packing, initial states.
void PrintTo(const Shape& shape, std::ostream* out) {
  *out << shape.layers << (shape.bidirectional ? "_bi" : "_uni") << "_in" << shape.input << "_h" << shape.hidden;
  for (const std::int64_t length : shape.lengths) *out << "_" << length;
  *out << (shape.packed ? "_packed" : "_padded") << (shape.initial_states ? "_h0c0" : "_zero");
}

// Uniform in [-bound, bound), as the tensor library initializes LSTM weights.
at::Tensor uniform(at::IntArrayRef shape, double bound) { return (at::rand(shape) * 2 - 1) * bound; }

std::vector<at::Tensor> random_parameters(const Shape& shape) {
  const double bound = 1.0 / std::sqrt(static_cast<double>(shape.hidden));
  std::vector<at::Tensor> parameters;
  const std::int64_t directions = shape.bidirectional ? 2 : 1;
  for (int layer = 0; layer < shape.layers; ++layer) {
    const std::int64_t inputs = layer == 0 ? shape.input : directions * shape.hidden;
    for (std::int64_t direction = 0; direction < directions; ++direction) {
      parameters.push_back(uniform({4 * shape.hidden, inputs}, bound));
      parameters.push_back(uniform({4 * shape.hidden, shape.hidden}, bound));
      parameters.push_back(uniform({4 * shape.hidden}, bound));
      parameters.push_back(uniform({4 * shape.hidden}, bound));
    }
  }
  return parameters;
}

// at::lstm over the padded input, through packing when the shape asks for it.
at::Tensor reference_lstm(const Shape& shape, const at::Tensor& input, const std::vector<at::Tensor>& parameters,
                          const std::vector<at::Tensor>& states) {
  if (!shape.packed) {
    return std::get<0>(at::lstm(input, states, parameters, true, shape.layers, 0.0, false, shape.bidirectional, true));
  }
  const at::Tensor lengths = at::tensor(shape.lengths, at::kLong);
  auto [data, batch_sizes] = at::_pack_padded_sequence(input, lengths, true);
  const at::Tensor packed =
      std::get<0>(at::lstm(data, batch_sizes, states, parameters, true, shape.layers, 0.0, false, shape.bidirectional));
  return std::get<0>(at::_pad_packed_sequence(packed, batch_sizes, true, 0.0, input.size(1)));
}

class InferenceLstmAgreement : public ::testing::TestWithParam<Shape> {};

TEST_P(InferenceLstmAgreement, MatchesTheTensorLibraryLstm) {
  const Shape& shape = GetParam();
  at::manual_seed(static_cast<std::uint64_t>(shape.hidden * 131 + shape.layers * 7 + shape.lengths.size()));
  c10::InferenceMode guard;
  const auto batch = static_cast<std::int64_t>(shape.lengths.size());
  const std::int64_t steps = shape.lengths.front();
  const std::int64_t directions = shape.bidirectional ? 2 : 1;
  const std::vector<at::Tensor> parameters = random_parameters(shape);
  const at::Tensor input = at::randn({batch, steps, shape.input});

  std::vector<at::Tensor> given_states;
  std::vector<at::Tensor> reference_states = {at::zeros({shape.layers * directions, batch, shape.hidden}),
                                              at::zeros({shape.layers * directions, batch, shape.hidden})};
  if (shape.initial_states) {
    given_states = {at::randn({shape.layers * directions, batch, shape.hidden}),
                    at::randn({shape.layers * directions, batch, shape.hidden})};
    reference_states = given_states;
  }
  const at::Tensor expected = reference_lstm(shape, input, parameters, reference_states);

  const InferenceLstm lstm(parameters, shape.layers, shape.bidirectional);
  const std::vector<std::int64_t> no_lengths;
  const at::Tensor actual = lstm(input, shape.packed ? shape.lengths : no_lengths, given_states);

  ASSERT_EQ(actual.sizes(), expected.sizes());
  const double difference = (actual - expected).abs().max().item<double>();
  EXPECT_TRUE(at::allclose(actual, expected, 1e-5, 1e-5)) << "largest difference " << difference;
  if (shape.packed) {
    for (std::int64_t row = 0; row < batch; ++row) {
      const std::int64_t length = shape.lengths[static_cast<std::size_t>(row)];
      EXPECT_TRUE(actual[row].narrow(0, length, steps - length).eq(0).all().item<bool>()) << "row " << row;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, InferenceLstmAgreement,
    ::testing::Values(
        // One row, padded path: the tokenizer's single-paragraph pass and neighbouring sizes.
        Shape{1, true, 32 + 4, 64, {40}, false, true}, Shape{1, true, 5, 1, {7}, false, false},
        Shape{1, false, 3, 2, {9}, false, true}, Shape{1, true, 8, 17, {12}, false, false},
        Shape{1, false, 20, 100, {15}, false, false}, Shape{1, true, 16, 256, {6}, false, true},
        Shape{2, true, 10, 64, {11}, false, true}, Shape{2, false, 6, 33, {10}, false, false},
        // Several rows of equal length, unpacked.
        Shape{1, true, 12, 48, {8, 8, 8}, false, true}, Shape{2, true, 7, 5, {4, 4}, false, false},
        // Packed rows of unequal lengths, as the batched paths run them.
        Shape{1, true, 36, 64, {30, 22, 22, 5, 1}, true, false}, Shape{1, true, 36, 64, {13, 9, 2}, true, true},
        Shape{1, false, 4, 3, {6, 5, 1}, true, true}, Shape{2, true, 9, 31, {10, 7, 3}, true, true},
        Shape{2, false, 11, 128, {9, 9, 4, 2}, true, false}, Shape{1, true, 3, 1, {5, 2}, true, false},
        Shape{2, true, 16, 256, {5, 3}, true, true}, Shape{1, true, 8, 16, {1}, true, true}),
    [](const ::testing::TestParamInfo<Shape>& info) { return ::testing::PrintToString(info.param); });

TEST(InferenceLstm, RowsMayComeInAnyLengthOrder) {
  at::manual_seed(7);
  c10::InferenceMode guard;
  const Shape shape{1, true, 6, 10, {}, true, false};
  const std::vector<at::Tensor> parameters = random_parameters(shape);
  const InferenceLstm lstm(parameters, 1, true);
  const at::Tensor input = at::randn({3, 9, 6});
  const std::vector<std::int64_t> sorted = {9, 6, 2};
  const std::vector<std::int64_t> shuffled = {2, 9, 6};
  const at::Tensor permutation = at::tensor(std::vector<std::int64_t>{2, 0, 1}, at::kLong);
  const at::Tensor in_order = lstm(input, sorted);
  const at::Tensor out_of_order = lstm(input.index_select(0, permutation), shuffled);
  EXPECT_TRUE(at::allclose(out_of_order, in_order.index_select(0, permutation), 0.0, 0.0));
}

TEST(InferenceLstm, OneInitialStateRowServesTheWholeBatch) {
  at::manual_seed(11);
  c10::InferenceMode guard;
  const Shape shape{1, true, 4, 8, {}, false, true};
  const InferenceLstm lstm(random_parameters(shape), 1, true);
  const at::Tensor input = at::randn({3, 5, 4});
  const std::vector<at::Tensor> one = {at::randn({2, 1, 8}), at::randn({2, 1, 8})};
  const std::vector<at::Tensor> expanded = {one[0].expand({2, 3, 8}).contiguous(), one[1].expand({2, 3, 8}).contiguous()};
  EXPECT_TRUE(at::allclose(lstm(input, {}, one), lstm(input, {}, expanded), 0.0, 0.0));
}

TEST(InferenceLstm, RefusesParametersAndInputsThatDoNotFit) {
  c10::InferenceMode guard;
  const Shape shape{1, true, 4, 8, {}, false, false};
  std::vector<at::Tensor> parameters = random_parameters(shape);
  EXPECT_THROW(InferenceLstm(parameters, 2, true), c10::Error);
  std::vector<at::Tensor> wrong_hidden = parameters;
  wrong_hidden[5] = at::zeros({32, 7});
  EXPECT_THROW(InferenceLstm(wrong_hidden, 1, true), c10::Error);

  const InferenceLstm lstm(parameters, 1, true);
  EXPECT_THROW(lstm(at::zeros({1, 3, 5})), c10::Error);
  const std::vector<std::int64_t> too_long = {4};
  EXPECT_THROW(lstm(at::zeros({1, 3, 4}), too_long), c10::Error);
  const std::vector<std::int64_t> empty_row = {0};
  EXPECT_THROW(lstm(at::zeros({1, 3, 4}), empty_row), c10::Error);
}

}  // namespace

namespace {

TEST(InferenceLstm, PackedRowsAndGivenProjectionsMatchThePaddedBatch) {
  at::manual_seed(13);
  c10::InferenceMode guard;
  const Shape shape{2, true, 6, 12, {}, true, true};
  const InferenceLstm lstm(random_parameters(shape), 2, true);
  const std::vector<std::int64_t> lengths = {3, 7, 5};
  const at::Tensor input = at::randn({3, 7, 6});
  const std::vector<at::Tensor> initial = {at::randn({4, 3, 12}), at::randn({4, 3, 12})};
  const at::Tensor padded = lstm(input, lengths, initial);

  std::vector<at::Tensor> rows;
  std::vector<at::Tensor> expected_rows;
  for (std::int64_t row = 0; row < 3; ++row) {
    rows.push_back(input[row].narrow(0, 0, lengths[static_cast<std::size_t>(row)]));
    expected_rows.push_back(padded[row].narrow(0, 0, lengths[static_cast<std::size_t>(row)]));
  }
  const at::Tensor packed_input = at::cat(rows, 0);
  const at::Tensor expected = at::cat(expected_rows, 0);
  EXPECT_TRUE(at::allclose(lstm.run_packed(packed_input, lengths, initial), expected, 0.0, 0.0));

  const at::Tensor projections = at::mm(packed_input, lstm.first_layer_input_weights());
  ASSERT_EQ(projections.size(1), lstm.projection_width());
  EXPECT_TRUE(at::allclose(lstm.run_projected(projections, lengths, initial), expected, 1e-6, 1e-6));

  const std::vector<std::int64_t> short_by_one = {3, 7, 4};
  EXPECT_THROW(lstm.run_packed(packed_input, short_by_one), c10::Error);
  EXPECT_THROW(lstm.run_projected(packed_input, lengths), c10::Error);  // not projection-wide
}

}  // namespace

namespace {

// Rows share slots and are split between workers: a row's outputs must not depend on its
// neighbours, the worker count or the grouping, to the last bit.
TEST(InferenceLstm, RowsComeOutTheSameAloneOrInAnyGroupOnAnyWorkerCount) {
  at::manual_seed(17);
  c10::InferenceMode guard;
  const Shape shape{1, true, 24, 256, {}, true, true};
  const InferenceLstm lstm(random_parameters(shape), 1, true);
  std::vector<std::int64_t> lengths;
  for (std::int64_t row = 0; row < 37; ++row) lengths.push_back(1 + (row * 17) % 41);
  const std::int64_t steps = std::accumulate(lengths.begin(), lengths.end(), std::int64_t{0});
  const at::Tensor projections = at::mm(at::randn({steps, 24}), lstm.first_layer_input_weights());
  const std::vector<at::Tensor> initial = {at::randn({2, 1, 256}), at::randn({2, 1, 256})};

  const int threads = at::get_num_threads();
  at::set_num_threads(1);
  const at::Tensor one_worker = lstm.run_projected(projections, lengths, initial);
  at::set_num_threads(4);
  const at::Tensor four_workers = lstm.run_projected(projections, lengths, initial);
  at::set_num_threads(threads);
  EXPECT_TRUE(at::equal(one_worker, four_workers));

  std::int64_t first = 0;
  for (const std::int64_t length : lengths) {
    const std::int64_t alone[] = {length};
    const at::Tensor row = lstm.run_projected(projections.narrow(0, first, length), alone, initial);
    EXPECT_TRUE(at::equal(row, one_worker.narrow(0, first, length))) << "row of length " << length;
    first += length;
  }
}

}  // namespace

namespace {

// Widths of a tagger's, a parser's and a character LM's recurrence, and a wide layer with rows
// enough for two workers' slot sets (split by rows at two threads, by hidden unit at three and
// eight). A row's outputs are the same bits at every thread count (which changes how the rows
// and hidden units are split between workers), alone, in any group, packed or padded, and from
// its input or from gathered projections.
struct ThreadCase {
  int layers;
  bool bidirectional;
  std::int64_t input;
  std::int64_t hidden;
  std::int64_t rows;  // more than one slot set's worth for the widest
};

class InferenceLstmThreads : public ::testing::TestWithParam<ThreadCase> {};

TEST_P(InferenceLstmThreads, SameBitsAtEveryThreadCountAloneOrInAnyGroup) {
  const ThreadCase& c = GetParam();
  at::manual_seed(static_cast<std::uint64_t>(c.hidden));
  c10::InferenceMode guard;
  const Shape shape{c.layers, c.bidirectional, c.input, c.hidden, {}, true, true};
  const InferenceLstm lstm(random_parameters(shape), c.layers, c.bidirectional);
  std::vector<std::int64_t> lengths;
  for (std::int64_t row = 0; row < c.rows; ++row) lengths.push_back(1 + (row * 37) % 23);
  const std::int64_t steps = std::accumulate(lengths.begin(), lengths.end(), std::int64_t{0});
  const at::Tensor input = at::randn({steps, c.input});
  const std::int64_t states = c.layers * (c.bidirectional ? 2 : 1);
  const std::vector<at::Tensor> initial = {at::randn({states, 1, c.hidden}), at::randn({states, 1, c.hidden})};

  const int threads = at::get_num_threads();
  at::set_num_threads(1);
  const at::Tensor expected = lstm.run_packed(input, lengths, initial);
  for (const int count : {2, 3, 8}) {
    at::set_num_threads(count);
    EXPECT_TRUE(at::equal(lstm.run_packed(input, lengths, initial), expected)) << count << " threads";
  }

  // Every third row alone, and the rows in two interleaved groups, at 3 threads.
  at::set_num_threads(3);
  std::vector<std::int64_t> first;
  std::int64_t offset = 0;
  for (const std::int64_t length : lengths) {
    first.push_back(offset);
    offset += length;
  }
  for (std::size_t row = 0; row < lengths.size(); row += 3) {
    const std::int64_t alone[] = {lengths[row]};
    EXPECT_TRUE(at::equal(lstm.run_packed(input.narrow(0, first[row], lengths[row]), alone, initial),
                          expected.narrow(0, first[row], lengths[row])))
        << "row " << row;
  }
  for (std::size_t parity = 0; parity < 2; ++parity) {
    std::vector<at::Tensor> inputs;
    std::vector<at::Tensor> outputs;
    std::vector<std::int64_t> group;
    for (std::size_t row = parity; row < lengths.size(); row += 2) {
      inputs.push_back(input.narrow(0, first[row], lengths[row]));
      outputs.push_back(expected.narrow(0, first[row], lengths[row]));
      group.push_back(lengths[row]);
    }
    EXPECT_TRUE(at::equal(lstm.run_packed(at::cat(inputs), group, initial), at::cat(outputs))) << "group " << parity;
  }

  // Padded rows, and (one layer) projections gathered from a table, at 8 threads.
  at::set_num_threads(8);
  const std::int64_t longest = *std::max_element(lengths.begin(), lengths.end());
  at::Tensor padded = at::zeros({c.rows, longest, c.input});
  for (std::int64_t row = 0; row < c.rows; ++row) {
    const auto r = static_cast<std::size_t>(row);
    padded[row].narrow(0, 0, lengths[r]).copy_(input.narrow(0, first[r], lengths[r]));
  }
  const at::Tensor padded_output = lstm(padded, lengths, initial);
  for (std::int64_t row = 0; row < c.rows; ++row) {
    const auto r = static_cast<std::size_t>(row);
    EXPECT_TRUE(at::equal(padded_output[row].narrow(0, 0, lengths[r]), expected.narrow(0, first[r], lengths[r])))
        << "padded row " << row;
  }
  // Called from inside units (as the models call it), it runs on the unit's thread.
  std::vector<at::Tensor> in_units(2);
  velmora::detail::for_each_unit(2, [&](std::size_t unit) {
    c10::InferenceMode unit_guard;
    in_units[unit] = lstm.run_packed(input, lengths, initial);
  });
  for (const at::Tensor& result : in_units) EXPECT_TRUE(at::equal(result, expected)) << "inside a unit";

  // Projections computed beforehand the way the LSTM computes them give the same bits.
  const at::Tensor table = lstm.first_layer_projections(input);
  EXPECT_TRUE(at::equal(lstm.run_projected(table, lengths, initial), expected));
  if (c.layers == 1) {
    std::vector<std::int64_t> ids(static_cast<std::size_t>(steps));
    std::iota(ids.begin(), ids.end(), std::int64_t{0});
    EXPECT_TRUE(at::equal(lstm.run_gathered(table, ids, lengths, initial), expected));
    const std::vector<std::int64_t> kept = {steps - 1, 0, steps / 2};
    const at::Tensor rows = lstm.run_gathered(table, ids, lengths, initial, kept);
    EXPECT_TRUE(at::equal(rows, expected.index_select(0, at::tensor(kept, at::kLong))));
  }
  at::set_num_threads(threads);
}

INSTANTIATE_TEST_SUITE_P(Widths, InferenceLstmThreads,
                         ::testing::Values(ThreadCase{2, true, 40, 64, 90}, ThreadCase{1, true, 120, 400, 24},
                                           ThreadCase{1, false, 100, 1024, 70}, ThreadCase{1, false, 32, 384, 200}),
                         [](const ::testing::TestParamInfo<ThreadCase>& info) {
                           return "h" + std::to_string(info.param.hidden);
                         });

TEST(InferenceLstm, GatheredProjectionsRefuseIdsAndRowsOutsideTheirRange) {
  c10::InferenceMode guard;
  const Shape shape{1, false, 4, 8, {}, true, false};
  const InferenceLstm lstm(random_parameters(shape), 1, false);
  const at::Tensor table = lstm.first_layer_projections(at::randn({3, 4}));
  const std::vector<std::int64_t> lengths = {2};
  EXPECT_THROW(lstm.run_gathered(table, std::vector<std::int64_t>{0, 3}, lengths), c10::Error);
  EXPECT_THROW(lstm.run_gathered(table, std::vector<std::int64_t>{0, 1}, lengths, {}, std::vector<std::int64_t>{2}),
               c10::Error);
  EXPECT_THROW(lstm.run_gathered(table, std::vector<std::int64_t>{0, 1}, lengths, {}, std::vector<std::int64_t>{1, 1}),
               c10::Error);
}

}  // namespace

namespace {

// The kernels take any cut of a step's rows and panels: a step run as separate calls over
// disjoint panel ranges and row subsets, and projections of rows one at a time, give the bits of
// one call over everything.
TEST(LstmRecurrence, AnyCutOfRowsAndPanelsGivesTheSameBits) {
  using namespace velmora::detail;
  at::manual_seed(23);
  constexpr std::int64_t kHidden = 70;  // five panels, the last partly padding
  constexpr std::int64_t kPadded = 80;
  constexpr std::int64_t kInputs = 19;
  constexpr std::size_t kRows = 11;
  const std::int64_t panels = kPadded / kLstmGatePadding;
  const at::Tensor recurrent = at::randn({panels, kHidden, kLstmWeightPanel}) * 0.1;
  const at::Tensor input_weights = at::randn({panels, kInputs, kLstmWeightPanel}) * 0.1;
  const at::Tensor bias = at::randn({panels * kLstmWeightPanel});
  const at::Tensor inputs = at::randn({static_cast<std::int64_t>(kRows), kInputs});
  const at::Tensor hidden = at::randn({static_cast<std::int64_t>(kRows), kPadded});
  const at::Tensor cell = at::randn({static_cast<std::int64_t>(kRows), kPadded});
  const LstmDirectionWeights weights{recurrent.const_data_ptr<float>(), bias.const_data_ptr<float>(), kHidden, kPadded};

  // Projections, hidden and cell states and outputs of every row, computed with the rows and
  // panels cut as `cut` says: (first row, rows, first panel, last panel) per call.
  using Cut = std::vector<std::array<std::int64_t, 4>>;
  const auto run = [&](const Cut& cut) {
    at::Tensor projections = at::zeros({static_cast<std::int64_t>(kRows), 4 * kPadded});
    at::Tensor states = at::zeros({3, static_cast<std::int64_t>(kRows), kPadded});  // hidden, cell, output
    at::Tensor cells = cell.clone();
    for (const auto& [first, count, begin, end] : cut) {
      std::vector<const float*> input_rows;
      std::vector<float*> projection_rows;
      for (std::int64_t r = first; r < first + count; ++r) {
        input_rows.push_back(inputs[r].const_data_ptr<float>());
        projection_rows.push_back(projections[r].mutable_data_ptr<float>());
      }
      run_lstm_projection(input_rows.size(), input_rows.data(), kInputs, input_weights.const_data_ptr<float>(), begin,
                          end, projection_rows.data());
    }
    for (const auto& [first, count, begin, end] : cut) {
      std::vector<const float*> projection_rows, hidden_in, cell_in;
      std::vector<float*> hidden_out, cell_out, output;
      for (std::int64_t r = first; r < first + count; ++r) {
        projection_rows.push_back(projections[r].const_data_ptr<float>());
        hidden_in.push_back(hidden[r].const_data_ptr<float>());
        cell_in.push_back(cells[r].const_data_ptr<float>());
        cell_out.push_back(cells[r].mutable_data_ptr<float>());  // in place
        hidden_out.push_back(states[0][r].mutable_data_ptr<float>());
        output.push_back(states[2][r].mutable_data_ptr<float>());
      }
      LstmStepRows rows;
      rows.count = hidden_in.size();
      rows.projections = projection_rows.data();
      rows.hidden_in = hidden_in.data();
      rows.cell_in = cell_in.data();
      rows.hidden_out = hidden_out.data();
      rows.cell_out = cell_out.data();
      rows.output = output.data();
      run_lstm_step(rows, weights, begin, end);
    }
    states[1].copy_(cells);
    return states;
  };
  const auto rows = static_cast<std::int64_t>(kRows);
  const at::Tensor whole = run({{0, rows, 0, panels}});
  EXPECT_TRUE(at::equal(whole, run({{0, 3, 0, panels}, {3, 8, 0, panels}})));
  EXPECT_TRUE(at::equal(whole, run({{0, rows, 0, 2}, {0, rows, 2, 3}, {0, rows, 3, panels}})));
  Cut one_by_one;
  for (std::int64_t r = rows - 1; r >= 0; --r) {
    for (std::int64_t p = panels - 1; p >= 0; --p) one_by_one.push_back({r, 1, p, p + 1});
  }
  EXPECT_TRUE(at::equal(whole, run(one_by_one)));
  // The output holds the real units only; the padding of the last panel is not written.
  EXPECT_TRUE(at::equal(whole[2].narrow(1, 0, kHidden), whole[0].narrow(1, 0, kHidden)));
  EXPECT_TRUE(whole[2].narrow(1, kHidden, kPadded - kHidden).eq(0).all().item<bool>());
}

}  // namespace
