#pragma once

// The hand-made features that enter the tokenizer network beside each unit's embedding.

#include <string_view>
#include <vector>

#include "tokenize/model_state.hpp"
#include "tokenize/units.hpp"

namespace velmora::detail {

/// Whether the code point is a decimal digit (General_Category Nd of Unicode 15.0).
bool is_decimal_digit(std::uint32_t code_point);

/// Adds a lexicon entry to the word, prefix and suffix sets (entries of fewer than two units
/// add nothing).
void add_lexicon_entry(TokenizerPlan::Impl& state, std::string_view entry);

/// The n x feat_dim feature matrix of a paragraph, row-major: simple features in listed order,
/// paragraph end, paragraph start, the pattern features in fixed order, then the dictionary
/// window columns (forward, then backward).
std::vector<float> tokenizer_unit_features(const TokenizerPlan::Impl& state, const TokenizerParagraph& units);

}  // namespace velmora::detail
