#pragma once

// Turns the predicted labels of a document's paragraphs into a new document.

#include <cstdint>
#include <vector>

#include "tokenize/model_state.hpp"
#include "tokenize/units.hpp"
#include "velmora/document.hpp"

namespace velmora::detail {

/// A new document over `document`'s text with one sentence list cut from the labels (one label
/// vector per paragraph), in the bundle's language. Fails with TokenizerModelError when the
/// labels do not fit the paragraphs.
Document build_tokenized_document(const TokenizerPlan::Impl& state, const Document& document,
                                  const std::vector<TokenizerParagraph>& paragraphs,
                                  const std::vector<std::vector<std::int64_t>>& labels);

}  // namespace velmora::detail
