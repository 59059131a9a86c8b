// Writes src/document/unicode_case_tables.cpp: the constant case tables behind
// velmora::detail::unicode_lower, unicode_upper, unicode_is_lower and unicode_is_upper,
// taken from ICU's Unicode character data.
//
// Not part of the normal build. Run it from the repository root:
//   g++ -std=c++20 -O2 tools/generate_unicode_case_tables.cpp -o /tmp/generate_unicode_case_tables -licuuc
//   /tmp/generate_unicode_case_tables > src/document/unicode_case_tables.cpp
//
// The tables hold Unicode 15.0 case data. Only characters assigned by Unicode 15.0
// (ICU's age property) get entries, and a mapping whose result contains a later character
// is left out, so an ICU of a newer Unicode version reproduces the tables as long as it
// keeps the case data of the older characters; the committed file was written with ICU 72
// (Unicode 15.0). An ICU older than Unicode 15.0 is refused.

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uversion.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr UChar32 kMaxCodePoint = 0x10FFFF;

bool assigned_by_unicode_15(UChar32 code_point) {
  if (U_IS_SURROGATE(code_point)) return false;
  UVersionInfo age;
  u_charAge(code_point, age);
  if (age[0] == 0) return false;  // unassigned
  return age[0] < 15 || (age[0] == 15 && age[1] == 0);
}

// The full (one-to-many capable) mapping of a code point in the root locale, with no
// context: the unconditional entries of SpecialCasing apply, the conditional ones don't.
std::vector<UChar32> full_mapping(UChar32 code_point, bool upper) {
  icu::UnicodeString text(code_point);
  if (upper) {
    text.toUpper(icu::Locale::getRoot());
  } else {
    text.toLower(icu::Locale::getRoot());
  }
  std::vector<UChar32> result;
  for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) result.push_back(text.char32At(i));
  return result;
}

bool all_assigned_by_unicode_15(const std::vector<UChar32>& code_points) {
  for (UChar32 code_point : code_points) {
    if (!assigned_by_unicode_15(code_point)) return false;
  }
  return true;
}

struct Mapping {
  UChar32 from;
  std::vector<UChar32> to;
};

std::vector<Mapping> changed_mappings(bool upper) {
  std::vector<Mapping> mappings;
  for (UChar32 code_point = 0; code_point <= kMaxCodePoint; ++code_point) {
    if (!assigned_by_unicode_15(code_point)) continue;
    std::vector<UChar32> to = full_mapping(code_point, upper);
    if (to.size() == 1 && to.front() == code_point) continue;
    if (!all_assigned_by_unicode_15(to)) continue;
    mappings.push_back({code_point, std::move(to)});
  }
  return mappings;
}

std::vector<std::pair<UChar32, UChar32>> property_ranges(UProperty property) {
  std::vector<std::pair<UChar32, UChar32>> ranges;
  for (UChar32 code_point = 0; code_point <= kMaxCodePoint; ++code_point) {
    if (!assigned_by_unicode_15(code_point) || !u_hasBinaryProperty(code_point, property)) continue;
    if (!ranges.empty() && ranges.back().second == code_point - 1) {
      ranges.back().second = code_point;
    } else {
      ranges.emplace_back(code_point, code_point);
    }
  }
  return ranges;
}

std::string hex(UChar32 code_point) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%04X", static_cast<unsigned>(code_point));
  return buffer;
}

// Prints the entries of one array, several to a line.
void print_entries(const std::vector<std::string>& entries, std::size_t per_line) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::printf(i % per_line == 0 ? "    %s," : " %s,", entries[i].c_str());
    if (i % per_line == per_line - 1 || i + 1 == entries.size()) std::printf("\n");
  }
}

void print_mapping_table(const char* name, const std::vector<Mapping>& mappings) {
  std::vector<std::string> entries;
  for (const Mapping& mapping : mappings) {
    if (mapping.to.size() == 1) entries.push_back("{" + hex(mapping.from) + ", " + hex(mapping.to.front()) + "}");
  }
  std::printf("// %zu entries.\nconstexpr CaseMapping %s[] = {\n", entries.size(), name);
  print_entries(entries, 4);
  std::printf("};\n\n");
}

void print_expansion_tables(const std::vector<Mapping>& mappings) {
  std::vector<std::string> code_points;
  std::vector<std::string> records;
  for (const Mapping& mapping : mappings) {
    if (mapping.to.size() == 1) continue;
    records.push_back("{" + hex(mapping.from) + ", kUppercaseExpansionCodePoints + " +
                      std::to_string(code_points.size()) + ", " + std::to_string(mapping.to.size()) + "}");
    for (UChar32 code_point : mapping.to) code_points.push_back(hex(code_point));
  }
  std::printf("constexpr char32_t kUppercaseExpansionCodePoints[] = {\n");
  print_entries(code_points, 8);
  std::printf("};\n\n// %zu entries.\nconstexpr CaseExpansion kUppercaseExpansions[] = {\n", records.size());
  print_entries(records, 2);
  std::printf("};\n\n");
}

void print_range_table(const char* name, UProperty property) {
  std::vector<std::string> entries;
  std::size_t code_points = 0;
  for (const auto& [first, last] : property_ranges(property)) {
    entries.push_back("{" + hex(first) + ", " + hex(last) + "}");
    code_points += static_cast<std::size_t>(last - first + 1);
  }
  std::printf("// %zu ranges, %zu code points.\nconstexpr CodePointRange %s[] = {\n", entries.size(), code_points,
              name);
  print_entries(entries, 4);
  std::printf("};\n\n");
}

}  // namespace

int main() {
  UVersionInfo unicode;
  u_getUnicodeVersion(unicode);
  if (unicode[0] < 15) {
    std::fprintf(stderr, "ICU %s knows Unicode %d.%d only; Unicode 15.0 or later is needed\n", U_ICU_VERSION,
                 unicode[0], unicode[1]);
    return 1;
  }
  std::printf(
      "// The constant Unicode 15.0 case tables. Generated by tools/generate_unicode_case_tables.cpp\n"
      "// from ICU %s (Unicode %d.%d); do not edit by hand.\n\n"
      "#include \"velmora/unicode.hpp\"\n\n"
      "namespace velmora::detail {\nnamespace {\n\n",
      U_ICU_VERSION, unicode[0], unicode[1]);
  const std::vector<Mapping> lower = changed_mappings(false);
  const std::vector<Mapping> upper = changed_mappings(true);
  print_mapping_table("kLowercaseMap", lower);
  print_mapping_table("kUppercaseMap", upper);
  print_expansion_tables(upper);
  print_range_table("kLowercaseRanges", UCHAR_LOWERCASE);
  print_range_table("kUppercaseRanges", UCHAR_UPPERCASE);
  print_range_table("kCasedRanges", UCHAR_CASED);
  std::printf(
      "}  // namespace\n\n"
      "const UnicodeCaseTables& unicode_case_tables() noexcept {\n"
      "  static constexpr UnicodeCaseTables tables{kLowercaseMap,    kUppercaseMap,    kUppercaseExpansions,\n"
      "                                            kLowercaseRanges, kUppercaseRanges, kCasedRanges};\n"
      "  return tables;\n"
      "}\n\n"
      "}  // namespace velmora::detail\n");
  return 0;
}
