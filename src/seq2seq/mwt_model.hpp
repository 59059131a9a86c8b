#pragma once

// The loaded multi-word-token expander and its internal operations.

#include <ATen/ATen.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "models/string_hash.hpp"
#include "models/word_keys.hpp"
#include "velmora/document_storage.hpp"
#include "velmora/mwt.hpp"
#include "velmora/seq2seq.hpp"

namespace velmora {

class Document;

struct MWTPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  std::unique_ptr<Seq2SeqPlan> seq2seq;  // the seq2seq route only
  detail::StringMap<std::string> expansion_dict;
  detail::StringMap<std::int64_t> unit2id;
  // The exact-pieces classifier, bound only on its route.
  detail::StringMap<at::Tensor> tensors;
  std::vector<at::Tensor> lstm_weights;
  std::vector<at::Tensor> lstm_state;
  at::Tensor embedding;
  at::Tensor hidden_weight;
  at::Tensor hidden_bias;
  at::Tensor output_weight;
  at::Tensor output_bias;
  std::int64_t hidden_dim = 0;
  std::int64_t num_layers = 0;
  bool dict_only = false;
  bool ensemble_dict = false;
  bool force_exact_pieces = false;
};

namespace detail {

using MWTModel = MWTPlan::Impl;

std::unique_ptr<MWTModel> load_mwt_model(std::filesystem::path bundle_path, bool verify_checksums);
/// The bound classifier tensor of that name; MWTModelError when absent.
const at::Tensor& mwt_tensor(const MWTModel& model, std::string_view name);

/// The dictionary's expansion of a token, with its all-upper and title-case rules.
std::optional<std::string> mwt_dictionary_lookup(const MWTModel& model, const std::string& token);
/// The token with spaces inserted where the classifier decides on a word break.
std::string mwt_classify_token(const MWTModel& model, const std::string& token);
/// The expansion of one token by the route the configuration selects.
std::string mwt_expand_token(const MWTModel& model, const std::string& token);

/// Every sentence of the document as input records.
std::vector<SentenceInput> mwt_rebuild_sentences(const Document& document);

}  // namespace detail
}  // namespace velmora
