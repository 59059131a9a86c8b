#pragma once

// Independent pieces of tokenizer work spread over the tensor library's intra-op threads.

#include <ATen/Parallel.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace velmora::detail {

/// Runs work(i) for every i in [0, count). Each intra-op thread takes the next undone item in
/// turn, so items of uneven cost, and threads slowed by other load, even out instead of leaving
/// a fixed share to the slowest thread. A single item, one thread, or a call from inside a
/// parallel region runs in the calling thread, which leaves the item's own operators free to
/// use the threads. The first exception stops the other threads from taking new items and
/// is rethrown.
template <class Work>
void for_each_item(std::size_t count, const Work& work) {
  const auto threads = static_cast<std::size_t>(std::max(at::get_num_threads(), 1));
  if (count <= 1 || threads == 1 || at::in_parallel_region()) {
    for (std::size_t i = 0; i < count; ++i) work(i);
    return;
  }
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  const auto workers = static_cast<std::int64_t>(std::min(threads, count));
  at::parallel_for(0, workers, 1, [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t worker = begin; worker < end; ++worker) {
      for (std::size_t i = next++; i < count && !failed.load(std::memory_order_relaxed); i = next++) {
        try {
          work(i);
        } catch (...) {
          failed = true;
          throw;
        }
      }
    }
  });
}

}  // namespace velmora::detail
