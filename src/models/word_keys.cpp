#include "models/word_keys.hpp"

#include <algorithm>
#include <array>

#include "velmora/unicode.hpp"
#include "velmora/utf8_text.hpp"

namespace velmora::detail {
namespace {

constexpr std::array<std::string_view, 5> kQuestionMarks{"?", "\xEF\xBC\x9F", "\xEF\xB8\x96", "\xEF\xB9\x96",
                                                          "\xE2\x81\x87"};
constexpr std::array<std::string_view, 5> kExclamationMarks{"!", "\xEF\xBC\x81", "\xEF\xB8\x95", "\xEF\xB9\x97",
                                                            "\xE2\x80\xBC"};

bool is_question_mark(std::string_view point) {
  return std::find(kQuestionMarks.begin(), kQuestionMarks.end(), point) != kQuestionMarks.end();
}

bool is_exclamation_mark(std::string_view point) {
  return std::find(kExclamationMarks.begin(), kExclamationMarks.end(), point) != kExclamationMarks.end();
}

}  // namespace

std::vector<std::string> split_code_points(const std::string& text) {
  const Utf8Text utf8{std::string(text)};
  std::vector<std::string> points;
  points.reserve(utf8.codepoint_count());
  for (std::size_t i = 0; i < utf8.codepoint_count(); ++i) points.push_back(utf8.slice(i, i + 1));
  return points;
}

std::string fold_punctuation(const std::string& word) {
  const std::vector<std::string> points = split_code_points(word);
  if (points.size() < 2) return word;
  const bool all_marks = std::all_of(points.begin(), points.end(), [](const std::string& point) {
    return is_question_mark(point) || is_exclamation_mark(point);
  });
  if (!all_marks) return word;
  return is_question_mark(points.front()) ? "?" : "!";
}

std::string pretrained_key(std::string_view folded) {
  const std::string lower = unicode_lower(folded);
  std::string key;
  key.reserve(lower.size());
  for (const char c : lower) {
    if (c == ' ') {
      key += "\xC2\xA0";
    } else {
      key += c;
    }
  }
  return key;
}

}  // namespace velmora::detail
