// Chunks of consecutive sentences: cut by the sentences alone, within every limit, and a failing
// chunk keeps the sentences before its failing one at every thread count.

#include <gtest/gtest.h>

#include <ATen/Parallel.h>

#include <stdexcept>
#include <string>

#include "models/sentence_chunks.hpp"

namespace {

using velmora::detail::ChunkLimits;
using velmora::detail::SentenceChunk;

ChunkLimits limits(std::int64_t sentences, std::int64_t padded, std::int64_t least, std::int64_t most) {
  ChunkLimits result;
  result.max_sentences = sentences;
  result.max_padded_rows = padded;
  result.target_chunks = 4;
  result.least_rows = least;
  result.most_rows = most;
  return result;
}

TEST(SentenceChunks, ConsecutiveSentencesWithinEveryLimit) {
  struct Case {
    const char* name;
    std::vector<std::int64_t> lengths;
    ChunkLimits limits;
    std::vector<SentenceChunk> chunks;
  };
  const std::vector<Case> cases = {
      {"nothing", {}, limits(16, 5000, 1, 100), {}},
      {"sentence count", {1, 1, 1, 1, 1}, limits(2, 5000, 100, 100), {{0, 2}, {2, 4}, {4, 5}}},
      {"rows: 40 over 4 chunks of 10", {4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, limits(16, 5000, 1, 100),
       {{0, 2}, {2, 4}, {4, 6}, {6, 8}, {8, 10}}},
      {"rows: at least 12", {4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, limits(16, 5000, 12, 100), {{0, 3}, {3, 6}, {6, 9}, {9, 10}}},
      {"rows: 5, a longer sentence alone", {3, 9, 2, 2, 1}, limits(16, 5000, 5, 5), {{0, 1}, {1, 2}, {2, 5}}},
      {"padded rows: 3 x 4 > 10", {1, 4, 1, 1}, limits(16, 10, 100, 100), {{0, 2}, {2, 4}}},
      {"empty sentences ride along", {0, 0, 5, 0, 3}, limits(16, 5000, 5, 5), {{0, 4}, {4, 5}}},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(velmora::detail::chunk_sentences(test.lengths, test.limits), test.chunks) << test.name;
  }
}

TEST(SentenceChunks, AFailingChunkKeepsTheSentencesBeforeItsFailure) {
  const int saved = at::get_num_threads();
  const std::vector<SentenceChunk> chunks = {{0, 3}, {3, 6}, {6, 9}, {9, 12}};
  for (const int threads : {1, 2, 3, 8}) {
    at::set_num_threads(threads);
    // Sentences 4 and 10 fail; each chunk finishes its sentences in order up to a failure.
    const auto run = velmora::detail::run_chunks(chunks, [](const SentenceChunk& chunk, std::size_t& done) {
      for (std::size_t s = chunk.begin; s < chunk.end; ++s) {
        if (s == 4 || s == 10) throw std::runtime_error("sentence " + std::to_string(s));
        ++done;
      }
    });
    EXPECT_EQ(run.completed, 4U) << threads;
    ASSERT_TRUE(run.error) << threads;
    EXPECT_THROW(
        {
          try {
            std::rethrow_exception(run.error);
          } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "sentence 4");
            throw;
          }
        },
        std::runtime_error);
    const auto clean = velmora::detail::run_chunks(chunks, [](const SentenceChunk&, std::size_t&) {});
    EXPECT_EQ(clean.completed, 12U);
    EXPECT_FALSE(clean.error);
  }
  at::set_num_threads(saved);
}

}  // namespace
