#pragma once

// A compiled regular expression over raw bytes with the matching rules of the standard
// library's ECMAScript grammar in the classic locale (ASCII \s, \b and ranges; leftmost match,
// first matching alternative), backed by PCRE2 with its JIT. Unlike std::regex it keeps no
// per-character recursion on the machine stack, so no input can overflow the stack.

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace velmora::detail {

struct ByteMatch {
  std::size_t begin;  // byte offsets, end exclusive
  std::size_t end;
};

class BytePattern {
 public:
  /// Compiles `pattern`; a pattern PCRE2 refuses fails with std::invalid_argument.
  explicit BytePattern(std::string_view pattern);
  ~BytePattern();
  BytePattern(const BytePattern&) = delete;
  BytePattern& operator=(const BytePattern&) = delete;

  /// Successive non-overlapping matches from left to right, as std::regex_iterator finds them.
  /// A text whose matching exceeds the engine's resource limits fails with TokenizerModelError.
  std::vector<ByteMatch> find_all(std::string_view text) const;

 private:
  friend class ByteMatcher;
  struct Compiled;
  std::unique_ptr<Compiled> compiled_;
};

/// Repeated matching of one pattern against one text, reusing one set of match buffers.
class ByteMatcher {
 public:
  /// `pattern` and `text` must outlive the matcher.
  ByteMatcher(const BytePattern& pattern, std::string_view text);
  ~ByteMatcher();
  ByteMatcher(const ByteMatcher&) = delete;
  ByteMatcher& operator=(const ByteMatcher&) = delete;

  /// The leftmost match that starts at `offset` or later, or with `anchored` only one that
  /// starts at `offset`; `non_empty_at_start` refuses an empty match at `offset`. Resource
  /// limits fail with TokenizerModelError, as for find_all.
  std::optional<ByteMatch> find(std::size_t offset, bool anchored, bool non_empty_at_start = false);

 private:
  struct Buffers;
  const BytePattern& pattern_;
  std::string_view text_;
  std::unique_ptr<Buffers> buffers_;
};

}  // namespace velmora::detail
