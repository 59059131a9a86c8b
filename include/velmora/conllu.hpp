#pragma once

// Pieces of the CoNLL-U writer behind Document::to_conll and Sentence::to_conll.

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {
class DocumentStorage;
}

namespace velmora::detail {

/// A LEMMA/UPOS/XPOS/FEATS/DEPREL/DEPS column: "_" for no value or the empty string, the
/// pooled string otherwise. In this column and every other, a tab or a line break (any character
/// at which str.splitlines() ends a line) is written as a space so that it cannot split the line.
/// Comment lines get the same for line breaks; the generated "# text" line also writes U+2000 and
/// U+2001 as their NFC forms U+2002 and U+2003.
std::string conll_field(const std::vector<std::string>& strings, std::uint32_t id);

/// The ten-column line of one word or empty word, without a line end. The MISC of a word of a
/// single-word token carries the token's spacing, folded as by rebuild_token_misc.
std::string conll_word_line(const DocumentStorage& storage, std::uint32_t row);

/// Appends one sentence block (comments, generated lines, data lines) to `out`.
void append_conll_sentence(std::string& out, const DocumentStorage& storage,
                           std::uint32_t sentence);

}  // namespace velmora::detail
