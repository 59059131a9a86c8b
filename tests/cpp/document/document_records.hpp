#pragma once

// Small builders of input records and an error matcher shared by the document tests.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "velmora/document.hpp"

namespace doc_test {

using velmora::SentenceInput;
using velmora::TokenInput;
using velmora::WordInput;

inline WordInput word(int id, std::string text) {
  WordInput w;
  w.id = id;
  w.text = std::move(text);
  return w;
}

inline WordInput empty_word(int id, int empty_index, std::string text) {
  WordInput w = word(id, std::move(text));
  w.empty_index = empty_index;
  return w;
}

/// A single-word token with a single space after it.
inline TokenInput token(int id, std::string text, std::optional<int> start = std::nullopt,
                        std::optional<int> end = std::nullopt) {
  TokenInput t;
  t.id_start = t.id_end = id;
  t.text = text;
  t.start_char = start;
  t.end_char = end;
  t.spaces_after.assign(1, ' ');  // (assigning a literal trips a GCC 12 false warning)
  t.words.push_back(word(id, std::move(text)));
  return t;
}

/// The token with this spacing around it.
inline TokenInput spaced(TokenInput t, std::string before, std::string after) {
  t.spaces_before = std::move(before);
  t.spaces_after = std::move(after);
  return t;
}

inline TokenInput tagged(TokenInput t, std::string tag) {
  t.ner = std::move(tag);
  return t;
}

/// A multi-word token covering ids [first, first + forms.size()).
inline TokenInput mwt(int first, std::string text, std::vector<std::string> forms) {
  TokenInput t;
  t.id_start = first;
  t.id_end = first + static_cast<int>(forms.size()) - 1;
  t.text = std::move(text);
  t.spaces_after.assign(1, ' ');  // (assigning a literal trips a GCC 12 false warning)
  for (std::size_t i = 0; i < forms.size(); ++i) {
    t.words.push_back(word(first + static_cast<int>(i), forms[i]));
  }
  return t;
}

/// A sentence of single-word tokens numbered from 1.
inline SentenceInput sentence(const std::vector<std::string>& forms) {
  SentenceInput s;
  for (std::size_t i = 0; i < forms.size(); ++i) {
    s.tokens.push_back(token(static_cast<int>(i) + 1, forms[i]));
  }
  return s;
}

inline SentenceInput sentence_of(std::vector<TokenInput> tokens) {
  SentenceInput s;
  s.tokens = std::move(tokens);
  return s;
}

/// `prefix` followed by the number. (Spelled out because GCC 12 warns falsely on a literal plus
/// std::to_string.)
inline std::string numbered(const char* prefix, long number) {
  std::string out(prefix);
  out += std::to_string(number);
  return out;
}

/// Runs `action` and expects it to throw `Error` with exactly `message`.
template <class Error, class Action>
void expect_error(Action&& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "expected an error: " << message;
  } catch (const Error& error) {
    EXPECT_EQ(error.what(), message);
  } catch (const std::exception& error) {
    ADD_FAILURE() << "wrong error type for \"" << error.what() << "\", expected: " << message;
  }
}

template <class Sequence>
std::vector<std::string> texts_of(const Sequence& sequence) {
  std::vector<std::string> out;
  for (std::uint64_t i = 0; i < sequence.size(); ++i) {
    out.push_back(sequence.at(static_cast<long>(i)).text());
  }
  return out;
}

/// Word ids as "N" or "N.M".
inline std::vector<std::string> ids_of(const velmora::WordSequence& words) {
  std::vector<std::string> out;
  for (std::uint64_t i = 0; i < words.size(); ++i) {
    const velmora::Word w = words.at(static_cast<long>(i));
    std::string id = std::to_string(w.id());
    if (w.empty_index()) id += numbered(".", *w.empty_index());
    out.push_back(id);
  }
  return out;
}

}  // namespace doc_test
