#pragma once

// The MISC-field spacing conventions: a token's spacing travels as "SpaceAfter=No",
// "SpacesAfter=..." and "SpacesBefore=..." pieces with escaped white space. The dictionary form
// and the CoNLL-U writer fold spacing with the same rule, so both give the same MISC.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::detail {

/// The pieces between "|" separators, in order, empty pieces dropped.
std::vector<std::string> split_misc(std::string_view misc);
/// The pieces joined with "|".
std::string join_misc(const std::vector<std::string>& pieces);
/// Undoes escape_misc_spaces; unknown escapes and a final lone backslash are copied.
std::string unescape_misc_spaces(std::string_view text);
/// Writes backslash and vertical bar as "\\" and "\p", and every white-space character (the
/// Unicode ones and U+001C..U+001F) as a backslash escape: "\t", "\n", "\r" and "\s" for tab,
/// line feed, carriage return and space, "\u" and four capital hex digits for the others, so
/// that no MISC piece holds white space or a line break.
std::string escape_misc_spaces(std::string_view text);
/// Folds a token's spacing into its MISC: "SpaceAfter=No" or "SpacesAfter=..." unless one
/// space follows, "SpacesBefore=..." when something precedes; a kind of piece that the MISC
/// already holds is not added again. Added pieces are sorted byte-wise in among stored pieces
/// that are themselves in that order, else appended; with nothing added the stored MISC is
/// returned unchanged. No pieces give no value.
std::optional<std::string> rebuild_token_misc(std::optional<std::string_view> misc,
                                              std::string_view spaces_before,
                                              std::string_view spaces_after);
/// The same folded MISC appended to `out`; false, with nothing appended, when it has no value.
bool append_token_misc(std::string& out, std::optional<std::string_view> misc,
                       std::string_view spaces_before, std::string_view spaces_after);

/// What a token's MISC says about its spacing, and the pieces that remain.
struct CleanedMisc {
  std::optional<std::string> misc;
  std::optional<std::string> spaces_before;
  std::optional<std::string> spaces_after;
};
/// Takes the spacing pieces out of a MISC field; the last spacing piece wins.
CleanedMisc clean_token_misc(std::string_view misc);

}  // namespace velmora::detail
