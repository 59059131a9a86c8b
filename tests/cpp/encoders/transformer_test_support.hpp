#pragma once

// The transformer tests' shared pieces: the tiny encoder package inside the fixture's test
// bundle, its WordPiece vocabulary (as the bundle's assets hold it) and encoders built on them.

#include <ATen/ATen.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "test_data.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/transformer.hpp"

namespace encoder_test {

inline std::filesystem::path transformer_dir() { return data_dir() / "transformer"; }
inline std::filesystem::path transformer_bundle() { return transformer_dir() / "bundle"; }
inline std::filesystem::path tiny_package() { return transformer_bundle() / "model.pt2"; }

inline const velmora::detail::JsonValue& transformer_assets() {
  static const velmora::detail::JsonValue assets =
      velmora::detail::parse_json(velmora::ModelBundle(transformer_bundle(), false).assets_json());
  return assets;
}

inline std::vector<std::string> tiny_vocabulary() {
  std::vector<std::string> vocabulary;
  const auto& tokenizer = transformer_assets().at("transformer", "").at("tokenizer", "");
  for (const auto& token : tokenizer.at("vocabulary", "").as_array("")) vocabulary.push_back(token.as_string(""));
  return vocabulary;
}

/// A WordPiece encoder over the tiny package, as the Python class builds it by default.
inline velmora::TransformerEncoder tiny_encoder(std::uint64_t model_max_length,
                                                std::filesystem::path package = tiny_package(),
                                                std::uint64_t intra_op_threads = 0) {
  return velmora::TransformerEncoder(std::move(package), tiny_vocabulary(), true, true, intra_op_threads,
                                     model_max_length, "[UNK]", "[CLS]", "[SEP]", "##", 100);
}

inline at::Tensor rows_tensor(const std::vector<std::vector<float>>& rows, std::int64_t width) {
  at::Tensor tensor = at::empty({static_cast<std::int64_t>(rows.size()), width});
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].size(), static_cast<std::size_t>(width));
    std::copy(rows[i].begin(), rows[i].end(), tensor[static_cast<long>(i)].data_ptr<float>());
  }
  return tensor;
}

}  // namespace encoder_test
