#pragma once

// The dictionary form of a document: one list per sentence holding, in CoNLL-U order, one
// dict per multi-word token, word and empty word.

#include <nanobind/nanobind.h>

namespace velmora {
class Document;
class Sentence;
class Token;
class Word;
class Span;
}  // namespace velmora

namespace velmora::detail {

/// Builds a document from the dictionary form and an optional text (None: the empty text).
Document document_from_dict(nanobind::handle sentences, nanobind::handle text);

nanobind::list document_to_dict(const Document& document);
nanobind::list sentence_to_dict(const Sentence& sentence);
nanobind::list token_to_dict(const Token& token);
/// A word's entry alone: no token tags, its stored MISC unchanged.
nanobind::dict word_to_dict(const Word& word);
nanobind::dict span_to_dict(const Span& span);

}  // namespace velmora::detail
