#pragma once

// The loaded language-identification model, built once by the plan's constructor and only read
// afterwards.

#include <ATen/ATen.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "models/inference_lstm.hpp"
#include "models/sentence_chunks.hpp"
#include "models/string_hash.hpp"
#include "velmora/langid.hpp"

namespace velmora {

struct LangIDPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  detail::StringMap<std::int64_t> char_to_id;  // one code point's UTF-8 bytes -> embedding row
  std::vector<std::string> tags;               // language tag of each output class
  detail::StringMap<at::Tensor> tensors;       // every tensor of the bundle, as views
  std::vector<at::Tensor> lstm_weights;        // in at::lstm order
  // The same LSTM prepared for fast float32 inference, when its weights allow it; otherwise
  // at::lstm runs over lstm_weights and reports what it cannot run.
  std::optional<detail::InferenceLstm> fast_lstm;
  at::Tensor default_mask;                     // float32 zeros [T]: no tag excluded
  std::int64_t unknown_id = 0;
  std::int64_t padding_id = 0;
  std::int64_t num_layers = 0;
  std::int64_t embedding_dim = 0;
  std::int64_t hidden_dim = 0;
};

namespace detail {

std::unique_ptr<LangIDPlan::Impl> load_langid_model(std::filesystem::path bundle_path, bool verify_checksums);

/// The character ids of one text: one per code point, the unknown id for a character the
/// vocabulary lacks. Malformed UTF-8 and the empty text fail with LangIDModelError.
std::vector<std::int64_t> langid_character_ids(const LangIDPlan::Impl& model, const std::string& text);

/// Texts of one length that run through the network together at most: enough rows for each
/// load of the recurrent weights to serve several texts, few enough that a long list spreads
/// over the threads.
inline constexpr std::size_t kTextsPerBatch = 16;

/// Units of parallel work: consecutive batches of about a thirty-second of the call's
/// characters, at least 2048 (some tens of milliseconds of work at realistic widths).
inline constexpr ChunkLimits kLangIDUnitLimits{.max_sentences = std::numeric_limits<std::int64_t>::max(),
                                               .max_padded_rows = std::numeric_limits<std::int64_t>::max(),
                                               .target_chunks = 32,
                                               .least_rows = 2048,
                                               .most_rows = 16384};

/// Runs the network once over a non-empty batch of texts of equal length (their character ids)
/// and returns the best tag id of each text after adding `mask` to its summed tag scores.
std::vector<std::int64_t> langid_forward(const LangIDPlan::Impl& model,
                                         const std::vector<const std::vector<std::int64_t>*>& batch,
                                         const at::Tensor& mask);

}  // namespace detail
}  // namespace velmora
