#pragma once

// The transformer encoder as model plans use it: built from the "transformer" block of a
// bundle's assets and the compiled package the bundle carries, every result checked against
// the hidden size the assets declare.

#include <ATen/ATen.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velmora/json.hpp"
#include "velmora/transformer.hpp"

namespace velmora {
class ModelBundle;
}

namespace velmora::detail {

class NativeTransformer {
 public:
  /// Reads `block` (the assets' "transformer" object) and loads the package. Rule failures are
  /// TransformerError; missing or mistyped keys are JsonError for the calling plan to convert.
  NativeTransformer(std::shared_ptr<const ModelBundle> bundle, const JsonValue& block);
  ~NativeTransformer();
  NativeTransformer(const NativeTransformer&) = delete;
  NativeTransformer& operator=(const NativeTransformer&) = delete;

  std::int64_t hidden_size() const noexcept { return hidden_size_; }
  /// float32 [words (+2 with endpoints), hidden_size()].
  at::Tensor encode(const std::vector<std::string>& words, bool keep_endpoints) const;
  WordPieceEncoding tokenize(const std::vector<std::string>& words, bool add_special_tokens) const;
  /// float32 [subwords, hidden_size()] from one run without windows.
  at::Tensor encode_ids(const std::vector<std::int64_t>& input_ids,
                        const std::vector<std::int64_t>& attention_mask) const;

 private:
  at::Tensor checked(at::Tensor encoded) const;

  std::shared_ptr<const ModelBundle> bundle_;
  std::unique_ptr<TransformerEncoder> encoder_;
  std::int64_t hidden_size_ = 0;
};

/// The bytes of standard base64 text (tokenizer character maps); TransformerError when malformed.
std::vector<std::uint8_t> decode_charsmap_base64(std::string_view text);

}  // namespace velmora::detail
