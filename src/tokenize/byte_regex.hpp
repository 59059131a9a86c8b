#pragma once

// A compiled regular expression over raw bytes with the matching rules of the standard
// library's ECMAScript grammar in the classic locale (ASCII \s, \b and ranges; leftmost match,
// first matching alternative), backed by PCRE2 with its JIT. Unlike std::regex it keeps no
// per-character recursion on the machine stack, so no input can overflow the stack.

#include <cstddef>
#include <memory>
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
  struct Compiled;
  std::unique_ptr<Compiled> compiled_;
};

}  // namespace velmora::detail
