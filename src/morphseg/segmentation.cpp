// Segmentation: words are normalised, grouped by their number of characters so that every
// network run is a dense [n, T] block (no padding, masking or packing), run in chunks of at most
// batch_size words, in units on the intra-op threads, and decoded from one predicted action per
// character.

#include <ATen/ATen.h>
#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <limits>
#include <map>
#include <span>
#include <utility>

#include "models/parallel_units.hpp"
#include "models/sentence_chunks.hpp"
#include "morphseg/model_state.hpp"
#include "velmora/document.hpp"
#include "velmora/unicode.hpp"
#include "velmora/utf8_text.hpp"

namespace velmora {
namespace detail {
namespace {

// The characters of a word after normalisation, and their ids.
struct PreparedWord {
  std::vector<std::string> characters;
  std::vector<std::int64_t> ids;
};

constexpr std::int64_t kUnknownCharacter = 1;

// Words of one length that run through the network together at most: several groups of rows
// of the recurrence, so that a long list spreads over the threads.
constexpr std::size_t kWordsPerRun = 64;

// Units of parallel work: consecutive runs of about a thirty-second of the call's characters,
// at least 2048 (some tens of milliseconds of work at realistic widths, more than a parallel
// region costs on a busy machine).
constexpr ChunkLimits kUnitLimits{.max_sentences = std::numeric_limits<std::int64_t>::max(),
                                  .max_padded_rows = std::numeric_limits<std::int64_t>::max(),
                                  .target_chunks = 32,
                                  .least_rows = 2048,
                                  .most_rows = 16384};

PreparedWord prepare(const MorphSegPlan::Impl& model, const std::string& word) {
  const Utf8Text normalised(unicode_nfkc_casefold_nfc(word));
  PreparedWord prepared;
  const auto count = static_cast<unsigned long>(normalised.codepoint_count());
  prepared.characters.reserve(count);
  prepared.ids.reserve(count);
  for (unsigned long k = 0; k < count; ++k) {
    prepared.characters.push_back(normalised.slice(k, k + 1));
    const auto found = model.source_index.find(prepared.characters.back());
    prepared.ids.push_back(found == model.source_index.end() ? kUnknownCharacter : found->second);
  }
  return prepared;
}

// Decodes the predicted actions of one chunk into the morphemes of its words.
void decode_chunk(const MorphSegPlan::Impl& model, const at::Tensor& actions,
                  const std::vector<const PreparedWord*>& chunk, std::span<const std::size_t> positions,
                  std::vector<Morphemes>& result) {
  const auto action_count = static_cast<std::int64_t>(model.target_vocabulary.size());
  const std::int64_t length = actions.size(1);
  const std::int64_t* ids = actions.data_ptr<std::int64_t>();
  std::vector<const std::string*> word_actions;
  for (std::size_t row = 0; row < chunk.size(); ++row) {
    word_actions.clear();
    for (std::int64_t t = 0; t < length; ++t) {
      const std::int64_t id = ids[static_cast<std::int64_t>(row) * length + t];
      if (id < 1 || id >= action_count) {
        throw MorphSegModelError("MorphSeg classifier predicted a padding or out-of-range action");
      }
      word_actions.push_back(&model.target_vocabulary[static_cast<std::size_t>(id)]);
    }
    if (word_actions.size() != chunk[row]->characters.size()) {
      throw MorphSegModelError("MorphSeg produced an action sequence of the wrong length");
    }
    result[positions[row]] = cut_morphemes(apply_morphseg_actions(chunk[row]->characters, word_actions));
  }
}

}  // namespace

at::Tensor morphseg_forward(const MorphSegPlan::Impl& model, std::vector<std::int64_t>& ids, std::int64_t words,
                            std::int64_t length) {
  c10::InferenceMode guard;
  const at::Tensor id_matrix = at::from_blob(ids.data(), {words, length}, [](void*) {}, at::kLong);
  const at::Tensor embedded = at::embedding(model.tensors.at("embedding.weight"), id_matrix, /*padding_idx=*/0);
  // The learned initial states [2L, 1, H] serve every word of the chunk.
  const at::Tensor encoded =
      model.encoder(embedded, {}, {model.tensors.at("encoder.h_0"), model.tensors.at("encoder.c_0")});
  const at::Tensor reduced =
      at::gelu(at::linear(encoded, model.tensors.at("encoder.reduce_dim.weight"),
                          model.tensors.at("encoder.reduce_dim.bias")),
               "none");
  const at::Tensor scores =
      at::linear(reduced, model.tensors.at("classifier.1.weight"), model.tensors.at("classifier.1.bias"));
  // argmax takes the lowest action id among equal maxima.
  return at::argmax(scores, -1).contiguous();
}

std::vector<Morphemes> morphseg_segment_batch(const MorphSegPlan::Impl& model, const std::vector<std::string>& words) {
  std::vector<Morphemes> result(words.size());
  std::vector<PreparedWord> prepared;
  prepared.reserve(words.size());
  std::map<std::size_t, std::vector<std::size_t>> by_length;
  for (std::size_t position = 0; position < words.size(); ++position) {
    prepared.push_back(prepare(model, words[position]));
    // A word that normalises to nothing keeps an empty list and takes no part in the network run.
    if (!prepared.back().ids.empty()) by_length[prepared.back().ids.size()].push_back(position);
  }

  // The runs: each chunk of batch_size words of one length, cut into near-equal runs of at
  // most kWordsPerRun words, all in order. A word's rows meet only per-row operations, so its
  // actions do not depend on the cut, nor on the number of threads. Consecutive runs of a few
  // thousand characters make one unit on the intra-op threads.
  const auto batch_size = static_cast<std::size_t>(model.batch_size);
  std::vector<std::span<const std::size_t>> runs;
  std::vector<std::int64_t> characters;
  for (const auto& [length, positions] : by_length) {
    for (std::size_t first = 0; first < positions.size(); first += batch_size) {
      const std::size_t size = std::min(positions.size() - first, batch_size);
      const std::size_t count = unit_count(size, kWordsPerRun);
      for (std::size_t run = 0; run < count; ++run) {
        const std::size_t begin = first + run * size / count;
        runs.emplace_back(positions.data() + begin, first + (run + 1) * size / count - begin);
        characters.push_back(static_cast<std::int64_t>(length * runs.back().size()));
      }
    }
  }
  const std::vector<SentenceChunk> units = chunk_sentences(characters, kUnitLimits);
  for_each_unit(units.size(), [&](std::size_t unit) {
    for (std::size_t r = units[unit].begin; r < units[unit].end; ++r) {
      const std::span<const std::size_t> positions = runs[r];
      std::vector<std::int64_t> ids;
      std::vector<const PreparedWord*> chunk;
      for (std::size_t position : positions) {
        chunk.push_back(&prepared[position]);
        ids.insert(ids.end(), prepared[position].ids.begin(), prepared[position].ids.end());
      }
      const auto length = static_cast<std::int64_t>(chunk.front()->ids.size());
      const at::Tensor actions = morphseg_forward(model, ids, static_cast<std::int64_t>(chunk.size()), length);
      decode_chunk(model, actions, chunk, positions, result);
    }
  });
  return result;
}

}  // namespace detail

std::vector<std::string> MorphSegPlan::segment(const std::string& word) const {
  return std::move(detail::morphseg_segment_batch(*impl_, {word}).front());
}

std::vector<std::vector<std::string>> MorphSegPlan::segment_many(const std::vector<std::string>& words) const {
  return detail::morphseg_segment_batch(*impl_, words);
}

Document MorphSegPlan::process(Document document) const {
  std::vector<Document> documents;
  documents.push_back(std::move(document));
  return std::move(process_bulk(std::move(documents)).front());
}

std::vector<Document> MorphSegPlan::process_bulk(std::vector<Document> documents) const {
  // Every word is segmented before the first is written, so a failure leaves the documents as
  // they were.
  std::vector<WordSequence> sequences;
  std::vector<std::string> texts;
  sequences.reserve(documents.size());
  for (const Document& document : documents) {
    sequences.push_back(document.words());
    for (std::uint64_t k = 0; k < sequences.back().size(); ++k) {
      texts.push_back(sequences.back().at(static_cast<long>(k)).text());
    }
  }
  std::vector<detail::Morphemes> morphemes = detail::morphseg_segment_batch(*impl_, texts);
  std::size_t next = 0;
  for (const WordSequence& words : sequences) {
    for (std::uint64_t k = 0; k < words.size(); ++k) words.at(static_cast<long>(k)).set_morphemes(morphemes[next++]);
  }
  return documents;
}

}  // namespace velmora
