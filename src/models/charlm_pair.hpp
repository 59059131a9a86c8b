#pragma once

// The forward and backward character language models that taggers and parsers read from their
// own bundle: tensors under "charmodel_forward." and "charmodel_backward.", configurations in
// assets.charlm.forward and assets.charlm.backward.

#include <memory>
#include <utility>

#include "encoders/charlm_native.hpp"
#include "velmora/json.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora::detail {

struct CharLMPair {
  std::unique_ptr<NativeCharLM> forward;
  std::unique_ptr<NativeCharLM> backward;
};

/// Loads both models; a pair whose models run in the wrong directions for their slots is
/// refused with `Error(directions_message)`. Character-LM and JSON errors pass through.
template <class Error>
CharLMPair load_charlm_pair(const std::shared_ptr<const ModelBundle>& bundle, const JsonValue& assets,
                            const char* directions_message) {
  const JsonValue& charlm = assets.at("charlm", "assets");
  CharLMPair pair{std::make_unique<NativeCharLM>(bundle, "charmodel_forward.", charlm.at("forward", "assets.charlm")),
                  std::make_unique<NativeCharLM>(bundle, "charmodel_backward.",
                                                 charlm.at("backward", "assets.charlm"))};
  if (!pair.forward->is_forward() || pair.backward->is_forward()) throw Error(directions_message);
  return pair;
}

}  // namespace velmora::detail
