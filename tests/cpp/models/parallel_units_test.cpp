// Units of a call run on the intra-op threads with serial operators: their results are the same
// bits at every thread count, failures report the lowest failing unit, and the thread counts
// come back when the call ends.

#include <gtest/gtest.h>

#include <ATen/Parallel.h>

#include <atomic>
#include <stdexcept>

#include "models/parallel_units.hpp"

namespace {

using velmora::detail::for_each_unit;
using velmora::detail::try_each_unit;

constexpr int kThreadCounts[] = {1, 2, 3, 8};

// Restores the process-wide thread count a test changes.
struct ThreadCountGuard {
  int saved = at::get_num_threads();
  ~ThreadCountGuard() { at::set_num_threads(saved); }
};

// A product and reductions whose multi-threaded results differ with the thread count at some
// sizes (few rows, a narrow inner dimension).
at::Tensor unit_work(const at::Tensor& a, const at::Tensor& b) {
  const at::Tensor product = at::mm(a, b);
  return at::cat({product.flatten(), product.sum(0), at::log_softmax(product, 1).flatten()});
}

TEST(ParallelUnits, UnitResultsAreTheSameBitsAtEveryThreadCount) {
  const ThreadCountGuard restore;
  at::manual_seed(3);
  std::vector<at::Tensor> left;
  for (const std::int64_t rows : {1, 3, 5, 17}) left.push_back(at::randn({rows, 300}));
  const at::Tensor right = at::randn({300, 1200});

  at::set_num_threads(1);
  std::vector<at::Tensor> expected;
  for (const at::Tensor& a : left) expected.push_back(unit_work(a, right));
  for (const int threads : kThreadCounts) {
    at::set_num_threads(threads);
    for (const std::size_t units : {std::size_t{1}, left.size()}) {
      std::vector<at::Tensor> got(units);
      for_each_unit(units, [&](std::size_t i) {
        EXPECT_EQ(at::get_num_threads(), 1);
        got[i] = unit_work(left[i], right);
      });
      for (std::size_t i = 0; i < units; ++i) EXPECT_TRUE(at::equal(got[i], expected[i])) << threads << " threads, unit " << i;
    }
    EXPECT_EQ(at::get_num_threads(), threads);
  }
}

TEST(ParallelUnits, TheLowestFailingUnitIsReportedAndEveryUnitBeforeItRuns) {
  const ThreadCountGuard restore;
  for (const int threads : kThreadCounts) {
    at::set_num_threads(threads);
    constexpr std::size_t kUnits = 200;
    std::vector<std::atomic<bool>> ran(kUnits);
    const auto failure = try_each_unit(kUnits, [&](std::size_t i) {
      ran[i] = true;
      if (i == 170 || i == 41 || i == 42) throw std::runtime_error("unit " + std::to_string(i));
    });
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->index, 41U) << threads;
    for (std::size_t i = 0; i <= 41; ++i) EXPECT_TRUE(ran[i]) << i;
    EXPECT_THROW(
        {
          try {
            for_each_unit(kUnits, [&](std::size_t i) {
              if (i % 50 == 49) throw std::invalid_argument("unit " + std::to_string(i));
            });
          } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), "unit 49");
            throw;
          }
        },
        std::invalid_argument);
    EXPECT_FALSE(try_each_unit(0, [](std::size_t) { throw std::logic_error("no unit runs"); }).has_value());
  }
}

TEST(ParallelUnits, UnitsInsideAUnitRunOnItsThread) {
  const ThreadCountGuard restore;
  at::set_num_threads(4);
  std::atomic<int> inner{0};
  for_each_unit(8, [&](std::size_t) {
    for_each_unit(3, [&](std::size_t) {
      EXPECT_EQ(at::get_num_threads(), 1);
      ++inner;
    });
  });
  EXPECT_EQ(inner.load(), 24);
  EXPECT_EQ(at::get_num_threads(), 4);
}

}  // namespace
