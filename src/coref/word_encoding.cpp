// Word vectors for the coreference network: each word becomes subword ids (the bundle's own
// table first, the transformer's tokenizer otherwise); the document's subwords run through the
// transformer in windows that end at sentence boundaries where they can, one window per unit of
// work; each word's subword rows are pooled by a learned attention over that word's rows only.

#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <string>
#include <utility>

#include "coref/model_state.hpp"
#include "models/parallel_units.hpp"

namespace velmora::detail {
namespace {

struct DocumentSubwords {
  std::vector<std::int64_t> ids;
  /// The sentence id of the word owning each subword.
  std::vector<std::uint64_t> sentences;
  std::vector<std::pair<std::int64_t, std::int64_t>> word_spans;
};

DocumentSubwords document_subwords(const CorefModel& model, const std::vector<std::string>& words,
                                   const std::vector<std::uint64_t>& sentence_ids) {
  DocumentSubwords subwords;
  subwords.word_spans.reserve(words.size());
  for (std::size_t index = 0; index < words.size(); ++index) {
    const auto first = static_cast<std::int64_t>(subwords.ids.size());
    if (const auto known = model.word_subwords.find(words[index]); known != model.word_subwords.end()) {
      subwords.ids.insert(subwords.ids.end(), known->second.begin(), known->second.end());
    } else {
      const WordPieceEncoding encoding = model.transformer->tokenize({words[index]}, false);
      subwords.ids.insert(subwords.ids.end(), encoding.input_ids.begin(), encoding.input_ids.end());
    }
    const auto end = static_cast<std::int64_t>(subwords.ids.size());
    if (end == first) throw CorefModelError("coref tokenizer produced a blank word at index " + std::to_string(index));
    subwords.sentences.resize(subwords.ids.size(), sentence_ids[index]);
    subwords.word_spans.emplace_back(first, end);
  }
  return subwords;
}

}  // namespace

at::Tensor coref_long_tensor(const std::int64_t* data, at::IntArrayRef shape) {
  // from_blob wants a mutable pointer; the view is cloned before anyone could write to it.
  auto* values = const_cast<std::int64_t*>(data);
  return at::from_blob(values, shape, at::TensorOptions().dtype(at::kLong)).clone();
}

std::vector<std::pair<std::int64_t, std::int64_t>> coref_windows(const std::vector<std::uint64_t>& subword_sentences,
                                                                 std::int64_t room) {
  const auto total = static_cast<std::int64_t>(subword_sentences.size());
  std::vector<std::pair<std::int64_t, std::int64_t>> windows;
  std::int64_t start = 0;
  while (start < total) {
    std::int64_t end = total;
    if (start + room < total) {
      // Move the end back to the start of the sentence that does not fit; a sentence longer
      // than the window is cut instead.
      const std::uint64_t cut_sentence = subword_sentences[static_cast<std::size_t>(start + room)];
      end = start + room;
      while (end > start && subword_sentences[static_cast<std::size_t>(end - 1)] == cut_sentence) --end;
      if (end == start) end = start + room;
    }
    windows.emplace_back(start, end);
    start = end;
  }
  return windows;
}

CorefWordEncoding coref_encode_words(const CorefModel& model, const std::vector<std::string>& words,
                                     const std::vector<std::uint64_t>& sentence_ids) {
  DocumentSubwords subwords = document_subwords(model, words, sentence_ids);
  CorefWordEncoding encoding;
  encoding.word_spans = std::move(subwords.word_spans);
  if (subwords.ids.empty()) {
    encoding.subword_embeddings = at::empty({0, model.hidden_size}, at::kFloat);
    return encoding;
  }
  const std::int64_t first_special = model.cls_id < 0 ? model.eos_id : model.cls_id;
  const std::int64_t last_special = model.sep_id < 0 ? model.eos_id : model.sep_id;
  const std::vector<std::pair<std::int64_t, std::int64_t>> windows =
      coref_windows(subwords.sentences, model.bert_window_size - 2);
  // One window per unit of work; each writes its own rows.
  encoding.subword_embeddings =
      at::empty({static_cast<std::int64_t>(subwords.ids.size()), model.hidden_size}, at::kFloat);
  for_each_unit(windows.size(), [&](std::size_t w) {
    c10::InferenceMode inference;
    const auto [start, end] = windows[w];
    std::vector<std::int64_t> ids;
    ids.reserve(static_cast<std::size_t>(end - start + 2));
    ids.push_back(first_special);
    ids.insert(ids.end(), subwords.ids.begin() + start, subwords.ids.begin() + end);
    ids.push_back(last_special);
    const std::vector<std::int64_t> mask(ids.size(), 1);
    encoding.subword_embeddings.narrow(0, start, end - start)
        .copy_(model.transformer->encode_ids(ids, mask).narrow(0, 1, end - start));
  });
  return encoding;
}

at::Tensor coref_pool_subwords(const CorefModel& model, const CorefWordEncoding& encoding) {
  const at::Tensor& embeddings = encoding.subword_embeddings;
  const auto count = static_cast<std::int64_t>(encoding.word_spans.size());
  at::Tensor words = at::empty({count, model.hidden_size}, at::kFloat);
  if (count == 0) return words;
  // Words in blocks of consecutive words, one block per unit of work; each word reads only its
  // own subwords' rows.
  const auto block = static_cast<std::size_t>(kCorefWordsPerUnit);
  for_each_unit(unit_count(encoding.word_spans.size(), block), [&](std::size_t unit) {
    c10::InferenceMode inference;
    const auto first_word = static_cast<std::int64_t>(unit * block);
    const std::int64_t end_word = std::min(count, first_word + kCorefWordsPerUnit);
    const std::int64_t first = encoding.word_spans[static_cast<std::size_t>(first_word)].first;
    const std::int64_t end = encoding.word_spans[static_cast<std::size_t>(end_word - 1)].second;
    const at::Tensor rows = embeddings.narrow(0, first, end - first);
    const at::Tensor scores =
        at::linear(rows, coref_tensor(model, "we.attn.weight"), coref_tensor(model, "we.attn.bias")).squeeze(-1);
    for (std::int64_t word = first_word; word < end_word; ++word) {
      const auto [start, stop] = encoding.word_spans[static_cast<std::size_t>(word)];
      const at::Tensor weights = at::softmax(scores.narrow(0, start - first, stop - start), 0).unsqueeze(0);
      words[word].copy_(at::matmul(weights, rows.narrow(0, start - first, stop - start)).squeeze(0));
    }
  });
  return words;
}

}  // namespace velmora::detail
