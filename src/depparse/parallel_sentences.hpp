#pragma once

// Independent per-sentence work spread over the intra-op threads.

#include <ATen/Parallel.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <vector>

namespace velmora::detail {

/// Runs work(i) for every i below `count` on the tensor library's intra-op threads and returns
/// the failure of each item (null where it succeeded). Items are handed out one at a time from a
/// shared counter, so that long and short sentences balance and a thread that the machine holds
/// up delays only the item it holds; work inside an item runs on its thread alone.
template <typename Work>
std::vector<std::exception_ptr> for_each_sentence(std::size_t count, Work work) {
  std::vector<std::exception_ptr> failures(count);
  std::atomic<std::size_t> next{0};
  auto run = [&](std::int64_t, std::int64_t) {
    for (std::size_t i = next++; i < count; i = next++) {
      try {
        work(i);
      } catch (...) {
        failures[i] = std::current_exception();
      }
    }
  };
  const std::size_t threads = static_cast<std::size_t>(std::max(1, at::get_num_threads()));
  const auto workers = static_cast<std::int64_t>(std::min(count, threads));
  if (workers <= 1 || at::in_parallel_region()) {
    run(0, 1);
  } else {
    at::parallel_for(0, workers, 1, run);
  }
  return failures;
}

/// Rethrows the failure of the lowest item, as a loop in order would have reported it first.
inline void rethrow_first_failure(const std::vector<std::exception_ptr>& failures) {
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace velmora::detail
