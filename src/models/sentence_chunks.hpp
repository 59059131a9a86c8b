#pragma once

// Many sentences (a document's or a list's) run as chunks of consecutive sentences, each chunk one
// unit of parallel work (models/parallel_units.hpp) that batches its sentences through the
// network. The chunks depend on the sentence lengths alone, so every sentence meets the same
// batch, and gets the same bits, at every thread count.

#include <c10/util/FunctionRef.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <vector>

namespace velmora::detail {

/// Sentences [begin, end) of a call.
struct SentenceChunk {
  std::size_t begin = 0;
  std::size_t end = 0;

  friend bool operator==(const SentenceChunk&, const SentenceChunk&) = default;
};

struct ChunkLimits {
  std::int64_t max_sentences = 16;
  /// Sentences times the longest sentence of the chunk (the rows of a padded batch).
  std::int64_t max_padded_rows = 5000;
  /// The rows of all sentences of the call are spread over about this many chunks, each of
  /// between `least_rows` and `most_rows` rows (unless a sentence alone is longer): enough
  /// chunks for every worker on a short document, batches that keep a worker busy on a long one.
  std::int64_t target_chunks = 32;
  std::int64_t least_rows = 48;
  std::int64_t most_rows = 256;
};

/// Consecutive sentences of `lengths` rows each (zero for a sentence without words), in input
/// order. A chunk takes the next sentence while it stays within every limit; a sentence that
/// alone passes a limit forms a chunk by itself. Empty input gives no chunks.
std::vector<SentenceChunk> chunk_sentences(std::span<const std::int64_t> lengths, const ChunkLimits& limits);

/// The outcome of a chunked run: results for sentences [0, completed), and the failure of
/// sentence `completed` (null when every sentence succeeded).
struct ChunkedRun {
  std::size_t completed = 0;
  std::exception_ptr error;
};

/// Runs work(chunk, done) for every chunk, one unit each. `done` starts at zero and counts the
/// leading sentences of the chunk whose results are final; when a chunk fails, the sentences
/// before its first failing one are kept, as are all sentences of the chunks before it.
ChunkedRun run_chunks(const std::vector<SentenceChunk>& chunks,
                      c10::function_ref<void(const SentenceChunk&, std::size_t&)> work);

}  // namespace velmora::detail
