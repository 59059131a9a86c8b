// Folding token spacing into MISC pieces and taking it back out.

#include "velmora/misc_spacing.hpp"

#include <algorithm>

#include "document/space_characters.hpp"

namespace velmora::detail {

namespace {

// The white-space character whose six-character escape ("\\u" and four capital hex digits)
// `text` starts with. Only the escapes that escape_misc_spaces writes are read.
const SpaceCharacter* code_escape_at(std::string_view text) {
  if (!text.starts_with("\\u")) return nullptr;
  for (const SpaceCharacter& space : kSpaceCharacters) {
    if (space.misc_escape.size() == 6 && text.starts_with(space.misc_escape)) return &space;
  }
  return nullptr;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view after_equals(std::string_view piece) { return piece.substr(piece.find('=') + 1); }

// Calls `visit` with each piece between "|" separators, in order, skipping empty pieces.
template <class Visit>
void for_each_piece(std::string_view misc, Visit&& visit) {
  while (!misc.empty()) {
    const std::size_t bar = misc.find('|');
    const std::string_view piece = misc.substr(0, bar);
    misc = bar == std::string_view::npos ? std::string_view() : misc.substr(bar + 1);
    if (!piece.empty()) visit(piece);
  }
}

}  // namespace

std::vector<std::string> split_misc(std::string_view misc) {
  std::vector<std::string> pieces;
  for_each_piece(misc, [&pieces](std::string_view piece) { pieces.emplace_back(piece); });
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
      if (const SpaceCharacter* space = code_escape_at(text.substr(i))) {
        out += space->utf8;
        i += space->misc_escape.size();
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
  for (std::size_t i = 0; i < text.size();) {
    if (const SpaceCharacter* space = space_character_at(text.substr(i))) {
      out += space->misc_escape;
      i += space->utf8.size();
      continue;
    }
    switch (text[i]) {
      case '\\': out += "\\\\"; break;
      case '|': out += "\\p"; break;
      default: out += text[i];
    }
    ++i;
  }
  return out;
}

bool append_token_misc(std::string& out, std::optional<std::string_view> misc,
                       std::string_view spaces_before, std::string_view spaces_after) {
  // Writers call this once per word: unless stored and added pieces must be sorted together,
  // the pieces go straight into `out` and nothing is allocated.
  const std::string_view stored_misc = misc.value_or(std::string_view());
  std::size_t stored = 0;
  // A stored spacing piece already says what the reader would take (the MISC wins there), so
  // it is not said twice.
  bool stored_after = false;
  bool stored_before = false;
  bool stored_in_order = true;
  std::string_view previous;
  for_each_piece(stored_misc, [&](std::string_view piece) {
    if (stored > 0 && piece < previous) stored_in_order = false;
    previous = piece;
    ++stored;
    stored_after = stored_after || starts_with(piece, "SpaceAfter=") ||
                   starts_with(piece, "SpacesAfter=");
    stored_before = stored_before || starts_with(piece, "SpacesBefore=");
  });
  std::string after;
  if (!stored_after) {
    if (spaces_after.empty()) {
      after = "SpaceAfter=No";
    } else if (spaces_after != " ") {
      after = "SpacesAfter=" + escape_misc_spaces(spaces_after);
    }
  }
  std::string before;
  if (!stored_before && !spaces_before.empty()) {
    before = "SpacesBefore=" + escape_misc_spaces(spaces_before);
  }

  const std::size_t start = out.size();
  if (after.empty() && before.empty()) {
    if (stored == 0) return false;
    // With nothing added the MISC goes out exactly as stored (empty pieces too): the words of a
    // multi-word token keep their MISC unread, so anything else would not read back the same.
    out += stored_misc;
    return true;
  }
  auto append_piece = [&out, start](std::string_view piece) {
    if (out.size() > start) out += '|';
    out += piece;
  };
  // Added pieces are sorted in among stored ones only when that leaves the stored pieces in
  // their order: reading takes the added pieces out again and must find the rest unchanged.
  if (stored > 0 && stored_in_order) {
    std::vector<std::string_view> pieces;
    pieces.reserve(stored + 2);
    for_each_piece(stored_misc, [&pieces](std::string_view piece) { pieces.push_back(piece); });
    if (!after.empty()) pieces.emplace_back(after);
    if (!before.empty()) pieces.emplace_back(before);
    // string_view compares as unsigned bytes (char_traits<char>), as the order requires.
    std::sort(pieces.begin(), pieces.end());
    for (const std::string_view piece : pieces) append_piece(piece);
  } else {
    for_each_piece(stored_misc, append_piece);
    if (!after.empty()) append_piece(after);
    if (!before.empty()) append_piece(before);
  }
  return out.size() > start;
}

std::optional<std::string> rebuild_token_misc(std::optional<std::string_view> misc,
                                              std::string_view spaces_before,
                                              std::string_view spaces_after) {
  std::string folded;
  if (!append_token_misc(folded, misc, spaces_before, spaces_after)) return std::nullopt;
  return folded;
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
