#define PCRE2_CODE_UNIT_WIDTH 8
#include "tokenize/byte_regex.hpp"

#include <pcre2.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "velmora/errors.hpp"

namespace velmora::detail {
namespace {

// The JIT first runs on its small default stack; a text that needs more gets a private stack
// of up to this size for that call only. PCRE2's default match limit (ten million steps per
// attempt) still bounds runaway backtracking; hitting it, or this stack, is reported as an
// error rather than a crash.
constexpr std::size_t kLargeJitStack = std::size_t{256} << 20;

struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct JitStackDeleter {
  void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};

std::string pcre2_message(int code) {
  PCRE2_UCHAR buffer[256];
  const int length = pcre2_get_error_message(code, buffer, sizeof buffer);
  return length < 0 ? "error " + std::to_string(code) : std::string(reinterpret_cast<char*>(buffer));
}

pcre2_code* compile(std::string_view pattern, std::uint32_t options) {
  int error = 0;
  PCRE2_SIZE error_offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options, &error,
                                   &error_offset, nullptr);
  if (code == nullptr) throw std::invalid_argument("invalid regular expression: " + pcre2_message(error));
  // Without JIT support matching falls back to the interpreter, which is slower but equal.
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
  return code;
}

}  // namespace

// An anchored match asked for at match time bypasses the JIT code and runs in the much slower
// interpreter, so the pattern is also compiled anchored, for anchored searches.
struct BytePattern::Compiled {
  pcre2_code* code = nullptr;
  pcre2_code* anchored = nullptr;
  ~Compiled() {
    pcre2_code_free(code);
    pcre2_code_free(anchored);
  }
};

BytePattern::BytePattern(std::string_view pattern) : compiled_(std::make_unique<Compiled>()) {
  compiled_->code = compile(pattern, 0);
  compiled_->anchored = compile(pattern, PCRE2_ANCHORED);
}

BytePattern::~BytePattern() = default;

struct ByteMatcher::Buffers {
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> data;
  std::unique_ptr<pcre2_match_context, MatchContextDeleter> context;
  std::unique_ptr<pcre2_jit_stack, JitStackDeleter> stack;
};

ByteMatcher::ByteMatcher(const BytePattern& pattern, std::string_view text)
    : pattern_(pattern), text_(text), buffers_(std::make_unique<Buffers>()) {
  buffers_->data.reset(pcre2_match_data_create_from_pattern(pattern_.compiled_->code, nullptr));
  if (!buffers_->data) throw std::bad_alloc();
}

ByteMatcher::~ByteMatcher() = default;

std::optional<ByteMatch> ByteMatcher::find(std::size_t offset, bool anchored, bool non_empty_at_start) {
  const std::uint32_t options = non_empty_at_start ? PCRE2_NOTEMPTY_ATSTART : 0U;
  const auto* subject = reinterpret_cast<PCRE2_SPTR>(text_.data());
  pcre2_code* code = anchored ? pattern_.compiled_->anchored : pattern_.compiled_->code;
  Buffers& b = *buffers_;
  int rc = pcre2_match(code, subject, text_.size(), offset, options, b.data.get(), b.context.get());
  // Retried once on a large JIT stack when the default one is short; the stack is kept.
  if (rc == PCRE2_ERROR_JIT_STACKLIMIT && !b.stack) {
    b.context.reset(pcre2_match_context_create(nullptr));
    b.stack.reset(pcre2_jit_stack_create(32 * 1024, kLargeJitStack, nullptr));
    if (!b.context || !b.stack) throw std::bad_alloc();
    pcre2_jit_stack_assign(b.context.get(), nullptr, b.stack.get());
    rc = pcre2_match(code, subject, text_.size(), offset, options, b.data.get(), b.context.get());
  }
  if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
  if (rc < 0) throw TokenizerModelError("regular expression matching failed: " + pcre2_message(rc));
  const PCRE2_SIZE* span = pcre2_get_ovector_pointer(b.data.get());
  return ByteMatch{span[0], span[1]};
}

std::vector<ByteMatch> BytePattern::find_all(std::string_view text) const {
  std::vector<ByteMatch> matches;
  ByteMatcher matcher(*this, text);
  // std::regex_iterator: after an empty match, first look for a non-empty match anchored at
  // the same position, then search again one byte further on.
  std::size_t offset = 0;
  bool after_empty = false;
  while (offset <= text.size()) {
    std::optional<ByteMatch> found;
    if (after_empty) {
      found = matcher.find(offset, true, true);
      if (!found) {
        if (offset == text.size()) break;
        ++offset;
      }
    }
    if (!found) found = matcher.find(offset, false);
    if (!found) break;
    matches.push_back(*found);
    after_empty = found->begin == found->end;
    offset = found->end;
  }
  return matches;
}

}  // namespace velmora::detail
