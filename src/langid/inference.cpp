// Language identification: texts grouped by length run through the character BiLSTM in batches
// of one length; each text's per-character tag scores are summed and the best allowed tag wins.
// The batches run in units on the intra-op threads, cut from the texts alone, so the answers do
// not depend on the number of threads.

#include <ATen/ATen.h>
#include <c10/core/InferenceMode.h>

#include <algorithm>
#include <limits>
#include <map>
#include <span>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "langid/model_state.hpp"
#include "models/parallel_units.hpp"
#include "models/sentence_chunks.hpp"
#include "models/string_hash.hpp"
#include "velmora/unicode.hpp"

namespace velmora {
namespace detail {
namespace {

// 0 for an allowed tag, negative infinity for an excluded one.
at::Tensor subset_mask(const LangIDPlan::Impl& model, const std::vector<std::string>& language_subset) {
  if (language_subset.empty()) return model.default_mask;
  const StringSet allowed(language_subset.begin(), language_subset.end());
  at::Tensor mask = at::empty({static_cast<std::int64_t>(model.tags.size())}, at::kFloat);
  float* entries = mask.data_ptr<float>();
  bool any_known = false;
  for (std::size_t id = 0; id < model.tags.size(); ++id) {
    const bool known = allowed.contains(model.tags[id]);
    any_known = any_known || known;
    entries[id] = known ? 0.0f : -std::numeric_limits<float>::infinity();
  }
  if (!any_known) throw LangIDModelError("LangID language subset contains no known language");
  return mask;
}

// The LSTM over the rows of `ids` (rows x length, row by row) without their embeddings: the first
// layer gathers its input projections from those of the distinct characters, which give the same
// bits as projecting every character's embedding. [rows * length, 2H], row by row.
at::Tensor run_fast_lstm(const LangIDPlan::Impl& model, std::span<const std::int64_t> ids, std::int64_t rows) {
  // Each distinct id's row in the table, in order of first appearance (ids are rows of the
  // embedding table, checked at load).
  std::vector<std::int64_t> row_of(static_cast<std::size_t>(*std::max_element(ids.begin(), ids.end())) + 1, -1);
  std::vector<std::int64_t> distinct;
  std::vector<std::int64_t> table_rows(ids.size());
  for (std::size_t k = 0; k < ids.size(); ++k) {
    const auto id = static_cast<std::size_t>(ids[k]);
    if (row_of[id] < 0) {
      row_of[id] = static_cast<std::int64_t>(distinct.size());
      distinct.push_back(ids[k]);
    }
    table_rows[k] = row_of[id];
  }
  const at::Tensor rows_of_table =
      at::from_blob(distinct.data(), {static_cast<std::int64_t>(distinct.size())}, at::kLong);
  const at::Tensor table =
      model.fast_lstm->first_layer_projections(model.tensors.at("char_embeds.weight").index_select(0, rows_of_table));
  const std::vector<std::int64_t> lengths(static_cast<std::size_t>(rows),
                                          static_cast<std::int64_t>(ids.size()) / rows);
  return model.fast_lstm->run_gathered(table, table_rows, lengths);
}

}  // namespace

std::vector<std::int64_t> langid_character_ids(const LangIDPlan::Impl& model, const std::string& text) {
  std::vector<std::int64_t> ids;
  ids.reserve(text.size());
  const std::string_view bytes = text;
  for (std::size_t offset = 0; offset < bytes.size();) {
    char32_t code_point = 0;
    std::size_t length = 0;
    try {
      length = decode_utf8_at(bytes, offset, code_point);
    } catch (const std::invalid_argument& error) {
      throw LangIDModelError(error.what());  // names the offending byte offset within the text
    }
    const auto found = model.char_to_id.find(bytes.substr(offset, length));
    ids.push_back(found == model.char_to_id.end() ? model.unknown_id : found->second);
    offset += length;
  }
  if (ids.empty()) throw LangIDModelError("language identification requires non-empty text");
  return ids;
}

std::vector<std::int64_t> langid_forward(const LangIDPlan::Impl& model,
                                         const std::vector<const std::vector<std::int64_t>*>& batch,
                                         const at::Tensor& mask) {
  const auto rows = static_cast<std::int64_t>(batch.size());
  const auto length = static_cast<std::int64_t>(batch.front()->size());
  for (const std::vector<std::int64_t>* text : batch) {
    if (static_cast<std::int64_t>(text->size()) != length) {
      throw LangIDModelError("internal LangID batch has unequal sequence lengths");
    }
  }
  // One text is viewed where it lies; several are laid out row by row.
  std::vector<std::int64_t> laid_out;
  if (rows > 1) {
    laid_out.reserve(static_cast<std::size_t>(rows * length));
    for (const std::vector<std::int64_t>* text : batch) laid_out.insert(laid_out.end(), text->begin(), text->end());
  }
  std::int64_t* ids = rows > 1 ? laid_out.data() : const_cast<std::int64_t*>(batch.front()->data());
  c10::InferenceMode guard;
  at::Tensor output;
  if (model.fast_lstm && model.tensors.at("char_embeds.weight").scalar_type() == at::kFloat) {
    output = run_fast_lstm(model, std::span<const std::int64_t>(ids, static_cast<std::size_t>(rows * length)), rows)
                 .view({rows, length, 2 * model.hidden_dim});
  } else {
    // from_blob takes a mutable pointer; the view is only read.
    const at::Tensor id_matrix = at::from_blob(ids, {rows, length}, [](void*) {}, at::kLong);
    const at::Tensor embedded = at::embedding(model.tensors.at("char_embeds.weight"), id_matrix, model.padding_id);
    const at::Tensor zeros = at::zeros({2 * model.num_layers, rows, model.hidden_dim}, at::kFloat);
    output = std::get<0>(at::lstm(embedded, {zeros, zeros}, model.lstm_weights, /*has_biases=*/true,
                                  model.num_layers, /*dropout=*/0.0, /*train=*/false, /*bidirectional=*/true,
                                  /*batch_first=*/true));
  }
  // A plain sum of every character's tag scores, taken a slice of characters at a time so that
  // the scores of a long text never exist all at once.
  const at::Tensor& tag_weight = model.tensors.at("hidden_to_tag.weight");
  const at::Tensor& tag_bias = model.tensors.at("hidden_to_tag.bias");
  constexpr std::int64_t kScoreSlice = 4096;
  at::Tensor summed;
  for (std::int64_t start = 0; start < length; start += kScoreSlice) {
    const at::Tensor part = at::linear(output.narrow(1, start, std::min(kScoreSlice, length - start)), tag_weight,
                                       tag_bias).sum(1);
    summed = summed.defined() ? summed + part : part;
  }
  // argmax takes the lowest tag id among equal maxima.
  const at::Tensor best = at::argmax(summed + mask, 1).contiguous();
  const std::int64_t* values = best.data_ptr<std::int64_t>();
  return std::vector<std::int64_t>(values, values + rows);
}

}  // namespace detail

std::vector<std::string> LangIDPlan::identify_many(const std::vector<std::string>& texts,
                                                   const std::vector<std::string>& language_subset) const {
  if (texts.empty()) return {};
  const Impl& model = *impl_;
  std::vector<std::vector<std::int64_t>> encoded;
  encoded.reserve(texts.size());
  std::map<std::size_t, std::vector<std::size_t>> by_length;
  for (std::size_t position = 0; position < texts.size(); ++position) {
    encoded.push_back(detail::langid_character_ids(model, texts[position]));
    by_length[encoded.back().size()].push_back(position);
  }
  const at::Tensor mask = detail::subset_mask(model, language_subset);

  // The batches: each length group, in ascending length, cut into near-equal runs of at most
  // kTextsPerBatch texts in input order. A text's rows meet only per-row operations, so its
  // answer does not depend on the cut. Consecutive batches of a few thousand characters make
  // one unit on the intra-op threads.
  std::vector<std::span<const std::size_t>> batches;
  std::vector<std::int64_t> characters;
  for (const auto& [length, positions] : by_length) {
    const std::size_t runs = detail::unit_count(positions.size(), detail::kTextsPerBatch);
    for (std::size_t run = 0; run < runs; ++run) {
      const std::size_t begin = run * positions.size() / runs;
      batches.emplace_back(positions.data() + begin, (run + 1) * positions.size() / runs - begin);
      characters.push_back(static_cast<std::int64_t>(length * batches.back().size()));
    }
  }
  const std::vector<detail::SentenceChunk> units = detail::chunk_sentences(characters, detail::kLangIDUnitLimits);
  std::vector<std::string> result(texts.size());
  detail::for_each_unit(units.size(), [&](std::size_t unit) {
    for (std::size_t b = units[unit].begin; b < units[unit].end; ++b) {
      const std::span<const std::size_t> positions = batches[b];
      std::vector<const std::vector<std::int64_t>*> batch;
      for (std::size_t position : positions) batch.push_back(&encoded[position]);
      const std::vector<std::int64_t> best = detail::langid_forward(model, batch, mask);
      for (std::size_t k = 0; k < positions.size(); ++k) {
        if (best[k] < 0 || best[k] >= static_cast<std::int64_t>(model.tags.size())) {
          throw LangIDModelError("LangID classifier produced an invalid tag id");
        }
        result[positions[k]] = model.tags[static_cast<std::size_t>(best[k])];
        std::vector<std::int64_t>().swap(encoded[positions[k]]);  // done with this text's ids
      }
    }
  });
  return result;
}

std::string LangIDPlan::identify(const std::string& text, const std::vector<std::string>& language_subset) const {
  return identify_many({text}, language_subset).front();
}

}  // namespace velmora
