#include "models/sentence_chunks.hpp"

#include <algorithm>
#include <numeric>
#include <optional>

#include "models/parallel_units.hpp"

namespace velmora::detail {

std::vector<SentenceChunk> chunk_sentences(std::span<const std::int64_t> lengths, const ChunkLimits& limits) {
  const std::int64_t total = std::accumulate(lengths.begin(), lengths.end(), std::int64_t{0});
  const std::int64_t row_budget =
      std::clamp(total / std::max<std::int64_t>(limits.target_chunks, 1), limits.least_rows, limits.most_rows);
  std::vector<SentenceChunk> chunks;
  SentenceChunk chunk;
  std::int64_t rows = 0;
  std::int64_t longest = 0;
  for (std::size_t s = 0; s < lengths.size(); ++s) {
    const std::int64_t length = lengths[s];
    const auto count = static_cast<std::int64_t>(chunk.end - chunk.begin) + 1;
    const std::int64_t padded_length = std::max(longest, length);
    // count * padded_length is compared by division so that huge limits cannot overflow.
    const bool fits = count <= limits.max_sentences && rows + length <= row_budget &&
                      (padded_length == 0 || count <= limits.max_padded_rows / padded_length);
    if (chunk.end > chunk.begin && !fits) {
      chunks.push_back(chunk);
      chunk = {s, s};
      rows = 0;
      longest = 0;
    }
    chunk.end = s + 1;
    rows += length;
    longest = std::max(longest, length);
  }
  if (chunk.end > chunk.begin) chunks.push_back(chunk);
  return chunks;
}

ChunkedRun run_chunks(const std::vector<SentenceChunk>& chunks,
                      c10::function_ref<void(const SentenceChunk&, std::size_t&)> work) {
  std::vector<std::size_t> done(chunks.size(), 0);
  const std::optional<UnitFailure> failure =
      try_each_unit(chunks.size(), [&](std::size_t c) { work(chunks[c], done[c]); });
  if (!failure) return {chunks.empty() ? 0 : chunks.back().end, nullptr};
  return {chunks[failure->index].begin + done[failure->index], failure->error};
}

}  // namespace velmora::detail
