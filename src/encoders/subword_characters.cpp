#include "encoders/subword_characters.hpp"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <stdexcept>

#include "velmora/unicode.hpp"

namespace velmora::detail {

namespace {

constexpr std::array<CodePointRange, 10> kWhitespace = {{{0x09, 0x0D},
                                                          {0x1C, 0x20},
                                                          {0x85, 0x85},
                                                          {0xA0, 0xA0},
                                                          {0x1680, 0x1680},
                                                          {0x2000, 0x200A},
                                                          {0x2028, 0x2029},
                                                          {0x202F, 0x202F},
                                                          {0x205F, 0x205F},
                                                          {0x3000, 0x3000}}};

// Binary search for the first range whose low exceeds the code point; the one before it decides.
bool in_ranges(const auto& ranges, std::uint32_t code_point) noexcept {
  const auto below = [](std::uint32_t value, const CodePointRange& range) { return value < range.first; };
  const auto after = std::upper_bound(ranges.begin(), ranges.end(), code_point, below);
  return after != ranges.begin() && std::prev(after)->last >= code_point;
}

// ICU's database stops at Unicode 15.0; 15.1 assigned CJK extension I (letters) and a few
// ideographic description characters (symbols), which would otherwise read as unassigned.
std::int8_t general_category(std::uint32_t code_point) noexcept {
  if (code_point >= 0x2EBF0 && code_point <= 0x2EE5D) return U_OTHER_LETTER;
  if ((code_point >= 0x2FFC && code_point <= 0x2FFF) || code_point == 0x31EF) return U_OTHER_SYMBOL;
  return u_charType(static_cast<UChar32>(code_point));
}

constexpr std::uint32_t category_mask(std::int8_t category) { return 1U << static_cast<unsigned>(category); }

bool in_categories(std::uint32_t code_point, std::uint32_t mask) noexcept {
  return (category_mask(general_category(code_point)) & mask) != 0;
}

constexpr std::uint32_t kMarks =
    category_mask(U_NON_SPACING_MARK) | category_mask(U_COMBINING_SPACING_MARK) | category_mask(U_ENCLOSING_MARK);
constexpr std::uint32_t kLetters = category_mask(U_UPPERCASE_LETTER) | category_mask(U_LOWERCASE_LETTER) |
                                   category_mask(U_TITLECASE_LETTER) | category_mask(U_MODIFIER_LETTER) |
                                   category_mask(U_OTHER_LETTER);
constexpr std::uint32_t kNumbers =
    category_mask(U_DECIMAL_DIGIT_NUMBER) | category_mask(U_LETTER_NUMBER) | category_mask(U_OTHER_NUMBER);
constexpr std::uint32_t kPunctuation = category_mask(U_CONNECTOR_PUNCTUATION) | category_mask(U_DASH_PUNCTUATION) |
                                       category_mask(U_START_PUNCTUATION) | category_mask(U_END_PUNCTUATION) |
                                       category_mask(U_INITIAL_PUNCTUATION) | category_mask(U_FINAL_PUNCTUATION) |
                                       category_mask(U_OTHER_PUNCTUATION);
constexpr std::uint32_t kControls = category_mask(U_CONTROL_CHAR) | category_mask(U_FORMAT_CHAR) |
                                    category_mask(U_SURROGATE) | category_mask(U_PRIVATE_USE_CHAR) |
                                    category_mask(U_UNASSIGNED);

const icu::Normalizer2& nfd() {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* normalizer = icu::Normalizer2::getNFDInstance(status);
  if (U_FAILURE(status) || normalizer == nullptr) {
    throw std::runtime_error(std::string("ICU NFD normalizer is unavailable: ") + u_errorName(status));
  }
  return *normalizer;
}

}  // namespace

bool is_subword_whitespace(std::uint32_t code_point) noexcept { return in_ranges(kWhitespace, code_point); }

bool is_mark(std::uint32_t code_point) noexcept { return in_categories(code_point, kMarks); }

bool is_letter_or_mark(std::uint32_t code_point) noexcept { return in_categories(code_point, kLetters | kMarks); }

bool is_number(std::uint32_t code_point) noexcept { return in_categories(code_point, kNumbers); }

bool is_punctuation(std::uint32_t code_point) noexcept { return in_categories(code_point, kPunctuation); }

bool is_control(std::uint32_t code_point) noexcept { return in_categories(code_point, kControls); }

bool is_cjk_ideograph(std::uint32_t c) noexcept {
  return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x20000 && c <= 0x2A6DF) ||
         (c >= 0x2A700 && c <= 0x2CEAF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x2F800 && c <= 0x2FA1F);
}

void append_without_accents(std::uint32_t code_point, std::vector<std::uint32_t>& out) {
  if (code_point < 0xC0) {
    out.push_back(code_point);
    return;
  }
  icu::UnicodeString decomposition;
  if (!nfd().getDecomposition(static_cast<UChar32>(code_point), decomposition)) {
    if (general_category(code_point) != U_NON_SPACING_MARK) out.push_back(code_point);
    return;
  }
  for (std::int32_t i = 0; i < decomposition.length();) {
    const UChar32 part = decomposition.char32At(i);
    if (general_category(static_cast<std::uint32_t>(part)) != U_NON_SPACING_MARK) {
      out.push_back(static_cast<std::uint32_t>(part));
    }
    i += U16_LENGTH(part);
  }
}

}  // namespace velmora::detail
