#pragma once

// The loaded morphological segmenter, built once by the plan's constructor and only read
// afterwards, and the stages of its inference.

#include <ATen/ATen.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "models/inference_lstm.hpp"
#include "models/string_hash.hpp"
#include "velmora/morphseg.hpp"

namespace velmora {

struct MorphSegPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  std::vector<std::string> source_vocabulary;     // character id -> character
  std::vector<std::string> target_vocabulary;     // action id -> action text
  detail::StringMap<std::int64_t> source_index;  // character -> character id
  detail::StringMap<at::Tensor> tensors;         // every tensor of the bundle, float32 views
  std::vector<at::Tensor> lstm_weights;          // in at::lstm order
  detail::InferenceLstm encoder;                 // the encoder LSTM, prepared for inference
  std::int64_t embedding_size = 0;
  std::int64_t hidden_size = 0;
  std::int64_t num_layers = 0;
  std::int64_t batch_size = 0;
};

namespace detail {

using Morphemes = std::vector<std::string>;

std::unique_ptr<MorphSegPlan::Impl> load_morphseg_model(std::filesystem::path bundle_path, bool verify_checksums);

/// One morpheme list per word, in input order (the shared core of every segmentation call).
std::vector<Morphemes> morphseg_segment_batch(const MorphSegPlan::Impl& model, const std::vector<std::string>& words);

/// The action ids [n, T] of n words of T characters each, given as their character ids row
/// after row (n * T ids).
at::Tensor morphseg_forward(const MorphSegPlan::Impl& model, std::vector<std::int64_t>& ids, std::int64_t words,
                            std::int64_t length);

/// The segmented form that the actions write for the characters (one action per character).
std::string apply_morphseg_actions(const std::vector<std::string>& characters,
                                   const std::vector<const std::string*>& actions);

/// The pieces of a segmented form between its morpheme markers, empty pieces included.
Morphemes cut_morphemes(std::string_view form);

}  // namespace detail
}  // namespace velmora
