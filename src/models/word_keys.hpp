#pragma once

// The pieces of a word's text that the models look up: its code points, and the vocabulary
// keys that the tagger and the parser derive from it.

#include <string>
#include <string_view>
#include <vector>

namespace velmora::detail {

/// One string per code point of the text (checked as UTF-8; std::invalid_argument otherwise).
std::vector<std::string> split_code_points(const std::string& text);

/// A word of at least two code points made only of question and exclamation marks (ASCII,
/// full-width, small and vertical forms, and the doubled marks) folds to "?" when its first
/// code point is a question mark and to "!" otherwise; every other word folds to itself.
/// Invalid UTF-8 fails as split_code_points does.
std::string fold_punctuation(const std::string& word);

/// The pretrained-vocabulary key of a folded word: lower case, every space replaced by a
/// no-break space (U+00A0), as multi-word entries of pretrained vocabularies are stored.
std::string pretrained_key(std::string_view folded);

}  // namespace velmora::detail
