#include "models/parallel_units.hpp"

#include <ATen/Parallel.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#ifdef _OPENMP
#include <omp.h>
#endif

// The BLAS library under the tensor library keeps a thread-local thread count of its own. The
// declaration is weak so that a tensor library built on another BLAS still links; the guard then
// leaves it alone.
extern "C" int MKL_Set_Num_Threads_Local(int) __attribute__((weak));

namespace velmora::detail {

SerialOperators::SerialOperators() {
  // The tensor library sets a thread's counts on its first use of that thread: make that
  // happen now, or it would undo the guard at the first operator.
  threads_ = at::get_num_threads();
#ifdef _OPENMP
  omp_set_num_threads(1);
#endif
  if (MKL_Set_Num_Threads_Local != nullptr) blas_threads_ = MKL_Set_Num_Threads_Local(1);
}

SerialOperators::~SerialOperators() {
#ifdef _OPENMP
  omp_set_num_threads(threads_);
#endif
  // The previous thread-local count; 0 (none) hands the thread back to the process-wide count.
  if (MKL_Set_Num_Threads_Local != nullptr) MKL_Set_Num_Threads_Local(blas_threads_);
}

std::optional<UnitFailure> try_each_unit(std::size_t count, c10::function_ref<void(std::size_t)> work) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> stop{count};  // no unit at or past it starts
  std::mutex failure_mutex;
  std::optional<UnitFailure> failure;

  auto claim_units = [&] {
    SerialOperators serial;
    for (std::size_t i = next.fetch_add(1); i < stop.load(); i = next.fetch_add(1)) {
      try {
        work(i);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(failure_mutex);
        if (!failure || i < failure->index) {
          failure = UnitFailure{i, std::current_exception()};
          stop.store(std::min(stop.load(), i + 1));
        }
      }
    }
  };

  const int threads = at::in_parallel_region() ? 1 : at::get_num_threads();
  const auto workers = static_cast<std::int64_t>(std::min<std::size_t>(count, static_cast<std::size_t>(std::max(threads, 1))));
  if (workers <= 1) {
    claim_units();
  } else {
    at::parallel_for(0, workers, 1, [&](std::int64_t, std::int64_t) { claim_units(); });
  }
  return failure;
}

void for_each_unit(std::size_t count, c10::function_ref<void(std::size_t)> work) {
  if (std::optional<UnitFailure> failure = try_each_unit(count, work)) std::rethrow_exception(failure->error);
}

}  // namespace velmora::detail
