// Parsing many sentences: the character language models once over all of them, then chunks of
// consecutive sentences as units of parallel work, each embedded, encoded and scored as one
// batch and decoded sentence by sentence.

#include <c10/core/InferenceMode.h>

#include <span>
#include <utility>

#include "depparse/model_state.hpp"

namespace velmora::detail {
namespace {

// The character language model's words of a sentence: a line feed for the root, then the texts.
std::vector<std::string> charlm_words(const std::vector<DepparseWord>& words) {
  std::vector<std::string> texts;
  texts.reserve(words.size() + 1);
  texts.emplace_back("\n");
  for (const DepparseWord& word : words) texts.push_back(word.text);
  return texts;
}

// The sentences of `chunk`; predictions[s] and `done` advance sentence by sentence, so that a
// failure keeps the sentences before it.
void parse_chunk(const DepparseModel& model, const std::vector<std::vector<DepparseWord>>& sentences,
                 const std::vector<at::Tensor>& forward_rows, const std::vector<at::Tensor>& backward_rows,
                 const SentenceChunk& chunk, std::vector<std::vector<DepparsePrediction>>& predictions,
                 std::size_t& done) {
  c10::InferenceMode inference;
  const std::size_t count = chunk.end - chunk.begin;
  const std::span<const std::vector<DepparseWord>> words(sentences.data() + chunk.begin, count);
  auto rows_of = [&](const std::vector<at::Tensor>& rows) {
    return rows.empty() ? std::span<const at::Tensor>() : std::span<const at::Tensor>(rows.data() + chunk.begin, count);
  };
  EmbeddedSentences embedded = depparse_embed_sentences(model, words, rows_of(forward_rows), rows_of(backward_rows));
  const std::span<const std::vector<DepparseWord>> embedded_words = words.first(embedded.rows.size());
  std::vector<at::Tensor> encoded = highway_lstm_forward_packed(model.layers, embedded.rows, depparse_grouping(model));
  for (at::Tensor& rows : encoded) {
    if (rows.defined()) rows = rows.unsqueeze(0);
  }
  std::vector<DepparseSentenceScores> scores = depparse_score_sentences(model, encoded, embedded_words);
  encoded.clear();
  for (std::size_t k = 0; k < embedded_words.size(); ++k) {
    predictions[chunk.begin + k] = depparse_decode_sentence(model, embedded_words[k], std::move(scores[k]));
    ++done;
  }
  if (embedded.failure) std::rethrow_exception(embedded.failure);
}

}  // namespace

ChunkedRun depparse_parse_chunks(const DepparseModel& model, const std::vector<std::vector<DepparseWord>>& sentences,
                                 std::vector<std::vector<DepparsePrediction>>& predictions) {
  predictions.assign(sentences.size(), {});
  std::vector<at::Tensor> forward_rows;
  std::vector<at::Tensor> backward_rows;
  if (model.charlm) {
    // One call per direction over every sentence; it spreads its own work over the threads.
    try {
      std::vector<std::vector<std::string>> texts;
      texts.reserve(sentences.size());
      for (const auto& words : sentences) texts.push_back(charlm_words(words));
      forward_rows = model.forward_charlm->encode_many(texts);
      backward_rows = model.backward_charlm->encode_many(texts);
    } catch (...) {
      return {0, std::current_exception()};
    }
  }
  std::vector<std::int64_t> rows(sentences.size(), 0);
  for (std::size_t s = 0; s < sentences.size(); ++s) {
    if (!sentences[s].empty()) rows[s] = static_cast<std::int64_t>(sentences[s].size()) + 1;
  }
  ChunkLimits limits;
  limits.max_padded_rows = model.batch_size;
  return run_chunks(chunk_sentences(rows, limits), [&](const SentenceChunk& chunk, std::size_t& done) {
    parse_chunk(model, sentences, forward_rows, backward_rows, chunk, predictions, done);
  });
}

}  // namespace velmora::detail
