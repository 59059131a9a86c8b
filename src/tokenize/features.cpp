#include "tokenize/features.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "tokenize/patterns.hpp"
#include "velmora/errors.hpp"
#include "velmora/unicode.hpp"

namespace velmora::detail {
namespace {

// Decimal digits of Unicode 15.0 as inclusive ranges, ascending.
constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 64> kDigitRanges{{
    {0x30, 0x39},       {0x660, 0x669},     {0x6F0, 0x6F9},     {0x7C0, 0x7C9},     {0x966, 0x96F},
    {0x9E6, 0x9EF},     {0xA66, 0xA6F},     {0xAE6, 0xAEF},     {0xB66, 0xB6F},     {0xBE6, 0xBEF},
    {0xC66, 0xC6F},     {0xCE6, 0xCEF},     {0xD66, 0xD6F},     {0xDE6, 0xDEF},     {0xE50, 0xE59},
    {0xED0, 0xED9},     {0xF20, 0xF29},     {0x1040, 0x1049},   {0x1090, 0x1099},   {0x17E0, 0x17E9},
    {0x1810, 0x1819},   {0x1946, 0x194F},   {0x19D0, 0x19D9},   {0x1A80, 0x1A89},   {0x1A90, 0x1A99},
    {0x1B50, 0x1B59},   {0x1BB0, 0x1BB9},   {0x1C40, 0x1C49},   {0x1C50, 0x1C59},   {0xA620, 0xA629},
    {0xA8D0, 0xA8D9},   {0xA900, 0xA909},   {0xA9D0, 0xA9D9},   {0xA9F0, 0xA9F9},   {0xAA50, 0xAA59},
    {0xABF0, 0xABF9},   {0xFF10, 0xFF19},   {0x104A0, 0x104A9}, {0x10D30, 0x10D39}, {0x11066, 0x1106F},
    {0x110F0, 0x110F9}, {0x11136, 0x1113F}, {0x111D0, 0x111D9}, {0x112F0, 0x112F9}, {0x11450, 0x11459},
    {0x114D0, 0x114D9}, {0x11650, 0x11659}, {0x116C0, 0x116C9}, {0x11730, 0x11739}, {0x118E0, 0x118E9},
    {0x11950, 0x11959}, {0x11C50, 0x11C59}, {0x11D50, 0x11D59}, {0x11DA0, 0x11DA9}, {0x11F50, 0x11F59},
    {0x16A60, 0x16A69}, {0x16AC0, 0x16AC9}, {0x16B50, 0x16B59}, {0x1D7CE, 0x1D7FF}, {0x1E140, 0x1E149},
    {0x1E2F0, 0x1E2F9}, {0x1E4F0, 0x1E4F9}, {0x1E950, 0x1E959}, {0x1FBF0, 0x1FBF9},
}};

enum class SimpleFeature { kSpaceBefore, kCapitalized, kNumeric };

bool listed(const std::vector<std::string>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Fills the 2K dictionary columns of unit u: windows growing to the right, then to the left,
// each extended while the spelled string can still grow into a lexicon word.
void fill_dictionary_columns(const TokenizerPlan::Impl& state, const TokenizerParagraph& units,
                             const std::vector<std::string>& lowered, std::size_t u, float* columns) {
  const auto k = static_cast<std::size_t>(state.num_dict_feat);
  const std::size_t n = units.size();
  std::string forward = units[u].text;
  std::string backward = units[u].text;
  bool forward_open = true;
  bool backward_open = true;
  for (std::size_t w = 1; w <= k; ++w) {
    if (forward_open && u + w <= n - 1) {
      forward += lowered[u + w];
      if (state.lexicon_words.contains(forward)) columns[w - 1] = 1.0F;
      forward_open = state.lexicon_prefixes.contains(forward);
    }
    if (backward_open && u >= w) {
      backward.insert(0, lowered[u - w]);
      if (state.lexicon_words.contains(backward)) columns[k + w - 1] = 1.0F;
      backward_open = state.lexicon_suffixes.contains(backward);
    }
    if (!forward_open && !backward_open) break;
  }
}

}  // namespace

bool is_decimal_digit(std::uint32_t code_point) {
  for (const auto& [first, last] : kDigitRanges) {
    if (code_point < first) return false;
    if (code_point <= last) return true;
  }
  return false;
}

void add_lexicon_entry(TokenizerPlan::Impl& state, std::string_view entry) {
  const std::vector<TokenizerUnit> units = decode_tokenizer_units(entry);
  const std::size_t n = units.size();
  if (n < 2) return;
  state.lexicon_words.emplace(entry);
  std::size_t prefix_bytes = 0;
  for (std::size_t k = 1; k < n; ++k) {
    prefix_bytes += units[k - 1].text.size();
    state.lexicon_prefixes.emplace(entry.substr(0, prefix_bytes));
    state.lexicon_suffixes.emplace(entry.substr(prefix_bytes));
  }
}

std::vector<float> tokenizer_unit_features(const TokenizerPlan::Impl& state, const TokenizerParagraph& units) {
  std::vector<SimpleFeature> simple;
  for (const std::string& name : state.feat_funcs) {
    if (name == "space_before") simple.push_back(SimpleFeature::kSpaceBefore);
    if (name == "capitalized") simple.push_back(SimpleFeature::kCapitalized);
    if (name == "numeric") simple.push_back(SimpleFeature::kNumeric);
  }
  const bool end_of_para = listed(state.feat_funcs, "end_of_para");
  const bool start_of_para = listed(state.feat_funcs, "start_of_para");

  const std::size_t n = units.size();
  // Pattern columns in their fixed order, whatever the order of the feature list.
  static constexpr std::pair<std::string_view, BytePattern FeaturePatterns::*> kPatternFeatures[] = {
      {"labeled_field", &FeaturePatterns::labeled_field},
      {"phone_id", &FeaturePatterns::phone_id},
      {"date_pattern", &FeaturePatterns::date},
      {"currency", &FeaturePatterns::currency},
  };
  std::vector<std::vector<float>> pattern_marks;
  std::string text;
  for (const auto& [name, pattern] : kPatternFeatures) {
    if (!listed(state.feat_funcs, name)) continue;
    if (text.empty()) text = paragraph_text(units);
    std::vector<float>& marks = pattern_marks.emplace_back(n, 0.0F);
    mark_regex_matches(text, feature_patterns().*pattern, marks);
  }

  const std::size_t dictionary_columns = state.use_dictionary ? 2 * static_cast<std::size_t>(state.num_dict_feat) : 0;
  const std::size_t width = simple.size() + (end_of_para ? 1 : 0) + (start_of_para ? 1 : 0) +
                            pattern_marks.size() + dictionary_columns;
  if (state.feat_dim < 0 || width != static_cast<std::size_t>(state.feat_dim)) {
    throw TokenizerModelError("tokenizer feature dimension does not match feat_funcs");
  }

  std::vector<std::string> lowered;
  if (state.use_dictionary) {
    lowered.reserve(n);
    for (const auto& unit : units) lowered.push_back(unicode_lower(unit.text));
  }

  std::vector<float> features;
  features.reserve(n * width);
  for (std::size_t u = 0; u < n; ++u) {
    const TokenizerUnit& unit = units[u];
    for (SimpleFeature feature : simple) {
      bool on = false;
      switch (feature) {
        case SimpleFeature::kSpaceBefore: on = unit.code_point == 0x20; break;
        case SimpleFeature::kCapitalized: on = unicode_is_upper(unit.text); break;
        case SimpleFeature::kNumeric: on = is_decimal_digit(unit.code_point); break;
      }
      features.push_back(on ? 1.0F : 0.0F);
    }
    if (end_of_para) features.push_back(u + 1 == n ? 1.0F : 0.0F);
    if (start_of_para) features.push_back(u == 0 ? 1.0F : 0.0F);
    for (const auto& marks : pattern_marks) features.push_back(marks[u]);
    if (dictionary_columns > 0) {
      features.resize(features.size() + dictionary_columns, 0.0F);
      fill_dictionary_columns(state, units, lowered, u, features.data() + features.size() - dictionary_columns);
    }
  }
  return features;
}

}  // namespace velmora::detail
