// Tagging many sentences: the character language models once over all of them, then chunks of
// consecutive sentences as units of parallel work, each embedded, encoded and classified as one
// batch.

#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <span>
#include <utility>

#include "pos/model_state.hpp"

namespace velmora::detail {

ChunkedRun pos_tag_chunks(const POSModel& state, const std::vector<std::vector<std::string>>& sentences,
                          std::vector<std::vector<POSTag>>& tags) {
  tags.assign(sentences.size(), {});
  std::vector<at::Tensor> forward;
  std::vector<at::Tensor> backward;
  if (state.uses_charlm) {
    // One call per direction over every sentence; it spreads its own work over the threads.
    try {
      forward = state.forward_charlm->encode_many(sentences);
      backward = state.backward_charlm->encode_many(sentences);
    } catch (...) {
      return {0, std::current_exception()};
    }
  }
  std::vector<std::int64_t> lengths;
  lengths.reserve(sentences.size());
  for (const auto& words : sentences) lengths.push_back(static_cast<std::int64_t>(words.size()));
  ChunkLimits limits;
  limits.max_sentences = std::min(limits.max_sentences, state.batch_size);
  limits.max_padded_rows = state.batch_maximum_tokens;
  auto rows_of = [](const std::vector<at::Tensor>& rows, const SentenceChunk& chunk) {
    return rows.empty() ? std::span<const at::Tensor>()
                        : std::span<const at::Tensor>(rows.data() + chunk.begin, chunk.end - chunk.begin);
  };
  return run_chunks(chunk_sentences(lengths, limits), [&](const SentenceChunk& chunk, std::size_t& done) {
    c10::InferenceMode inference;
    const std::span<const std::vector<std::string>> words(sentences.data() + chunk.begin, chunk.end - chunk.begin);
    EmbeddedSentences embedded = pos_embed_sentences(state, words, rows_of(forward, chunk), rows_of(backward, chunk));
    const std::vector<at::Tensor> encoded = highway_lstm_forward_packed(state.layers, embedded.rows, pos_grouping(state));
    std::vector<std::vector<POSTag>> chunk_tags = pos_predict_batch(state, encoded, words.first(embedded.rows.size()));
    for (std::size_t k = 0; k < chunk_tags.size(); ++k) {
      tags[chunk.begin + k] = std::move(chunk_tags[k]);
      ++done;
    }
    if (embedded.failure) std::rethrow_exception(embedded.failure);
  });
}

}  // namespace velmora::detail
