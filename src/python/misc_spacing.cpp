#include "misc_spacing.hpp"

#include <algorithm>

namespace velmora::detail {

namespace {

constexpr std::string_view kNoBreakSpace = "\xC2\xA0";
constexpr std::string_view kNoBreakSpaceEscape = "\\u00A0";

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view after_equals(std::string_view piece) { return piece.substr(piece.find('=') + 1); }

}  // namespace

std::vector<std::string> split_misc(std::string_view misc) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= misc.size()) {
    std::size_t bar = misc.find('|', start);
    if (bar == std::string_view::npos) bar = misc.size();
    if (bar > start) pieces.emplace_back(misc.substr(start, bar - start));
    start = bar + 1;
  }
  return pieces;
}

std::string join_misc(const std::vector<std::string>& pieces) {
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) joined += '|';
    joined += pieces[i];
  }
  return joined;
}

std::string unescape_misc_spaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char replacement = 0;
      switch (text[i + 1]) {
        case 's': replacement = ' '; break;
        case 't': replacement = '\t'; break;
        case 'r': replacement = '\r'; break;
        case 'n': replacement = '\n'; break;
        case 'p': replacement = '|'; break;
        case '\\': replacement = '\\'; break;
        default: break;
      }
      if (replacement != 0) {
        out += replacement;
        i += 2;
        continue;
      }
      if (text.substr(i, kNoBreakSpaceEscape.size()) == kNoBreakSpaceEscape) {
        out += kNoBreakSpace;
        i += kNoBreakSpaceEscape.size();
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

std::string escape_misc_spaces(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case ' ': out += "\\s"; break;
      case '\\': out += "\\\\"; break;
      case '|': out += "\\p"; break;
      default:
        if (text.substr(i, kNoBreakSpace.size()) == kNoBreakSpace) {
          out += kNoBreakSpaceEscape;
          ++i;
        } else {
          out += text[i];
        }
    }
  }
  return out;
}

std::optional<std::string> rebuild_token_misc(const std::optional<std::string>& misc,
                                              std::string_view spaces_before,
                                              std::string_view spaces_after) {
  std::vector<std::string> pieces = misc ? split_misc(*misc) : std::vector<std::string>{};
  std::vector<std::string> added;
  if (spaces_after.empty())
    added.emplace_back("SpaceAfter=No");
  else if (spaces_after != " ")
    added.push_back("SpacesAfter=" + escape_misc_spaces(spaces_after));
  if (!spaces_before.empty()) added.push_back("SpacesBefore=" + escape_misc_spaces(spaces_before));
  if (pieces.empty() && added.empty()) return std::nullopt;
  // With nothing added the MISC goes out exactly as stored (empty pieces too): the words of a
  // multi-word token keep their MISC unread, so anything else would not read back the same.
  if (added.empty()) return misc;
  // Added pieces are sorted in among stored ones only when that leaves the stored pieces in
  // their order: reading takes the added pieces out again and must find the rest unchanged.
  // std::string compares as unsigned bytes (char_traits<char>::lt), as the order requires.
  const bool sort = !pieces.empty() && std::is_sorted(pieces.begin(), pieces.end());
  pieces.insert(pieces.end(), added.begin(), added.end());
  if (sort) std::sort(pieces.begin(), pieces.end());
  return join_misc(pieces);
}

CleanedMisc clean_token_misc(std::string_view misc) {
  CleanedMisc cleaned;
  std::vector<std::string> kept;
  for (std::string& piece : split_misc(misc)) {
    if (piece == "SpaceAfter=No~" || piece == "SpaceAfter=No")
      cleaned.spaces_after = "";
    else if (piece == "SpaceAfter=Yes")
      cleaned.spaces_after = " ";
    else if (starts_with(piece, "SpaceAfter=") || starts_with(piece, "SpacesAfter="))
      cleaned.spaces_after = unescape_misc_spaces(after_equals(piece));
    else if (starts_with(piece, "SpacesBefore="))
      cleaned.spaces_before = unescape_misc_spaces(after_equals(piece));
    else
      kept.push_back(std::move(piece));
  }
  if (!kept.empty()) cleaned.misc = join_misc(kept);
  return cleaned;
}

}  // namespace velmora::detail
