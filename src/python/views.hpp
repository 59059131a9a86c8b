#pragma once

// Registration of the view classes, split by file; define_documents calls them in order.

#include <nanobind/nanobind.h>

#include <string>

namespace velmora::detail {

void define_sentence(nanobind::module_ m);
void define_token(nanobind::module_ m);
void define_word(nanobind::module_ m);
void define_span(nanobind::module_ m);

}  // namespace velmora::detail

namespace velmora::detail {

/// Whether a format spec asks for CoNLL-U: its first character is 'c' or 'C'.
inline bool selects_conll(const std::string& spec) {
  return !spec.empty() && (spec[0] == 'c' || spec[0] == 'C');
}

}  // namespace velmora::detail
