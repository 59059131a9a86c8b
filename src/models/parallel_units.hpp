#pragma once

// One parallel level per call. A call cuts its work into units fixed by its data (texts,
// sentences, chunks of words, blocks of a product's outputs), and the units run on the tensor
// library's intra-op threads, each on one thread with serial operators. A unit's result then
// never depends on the thread count: multi-threaded matrix products and reductions split their
// sums by the number of threads, serial ones do not.

#include <c10/util/FunctionRef.h>

#include <cstddef>
#include <exception>
#include <optional>

namespace velmora::detail {

/// While alive, the tensor operators this thread calls run on this thread alone: the intra-op
/// thread count, the OpenMP team size and the BLAS library's thread-local count are 1 here, and
/// come back when the guard ends. Other threads are not affected.
class SerialOperators {
 public:
  SerialOperators();
  ~SerialOperators();
  SerialOperators(const SerialOperators&) = delete;
  SerialOperators& operator=(const SerialOperators&) = delete;

 private:
  int threads_ = 1;
  int blas_threads_ = 0;
};

/// The lowest unit that failed, and its exception.
struct UnitFailure {
  std::size_t index = 0;
  std::exception_ptr error;
};

/// Runs work(i) for every i in [0, count), each under SerialOperators. When more than one unit and
/// intra-op thread are available (and the caller is not itself inside a unit or a parallel region),
/// one parallel region runs them: each worker claims the next unit in turn, so a thread that the
/// machine holds up delays only the unit it holds, and the call has one synchronisation point.
/// Otherwise the units run in order on the calling thread.
///
/// Units are claimed in increasing order; once a unit fails, no unit past it starts. Returns the
/// lowest failing unit, the one a loop in order would have stopped at, whatever the timing.
std::optional<UnitFailure> try_each_unit(std::size_t count, c10::function_ref<void(std::size_t)> work);

/// try_each_unit, rethrowing the lowest unit's failure.
void for_each_unit(std::size_t count, c10::function_ref<void(std::size_t)> work);

/// Units of at most `size` consecutive items over `count` items (the last may be shorter).
constexpr std::size_t unit_count(std::size_t count, std::size_t size) { return (count + size - 1) / size; }

}  // namespace velmora::detail
