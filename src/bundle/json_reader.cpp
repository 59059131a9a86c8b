// Strict recursive-descent JSON reader: one pass over the bytes, first error wins, every
// syntax error carries the byte offset where reading stopped.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "velmora/json.hpp"
#include "velmora/unicode.hpp"

namespace velmora::detail {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Converts a decimal token to the nearest double. from_chars reports both overflow and
// underflow as out of range; an underflow is a valid zero or subnormal, so the rare out-of-
// range token is converted again by strtod under the C locale, which rounds underflow
// correctly and overflows to infinity.
bool to_double(std::string_view token, double& value) {
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (ec == std::errc() && end == token.data() + token.size()) return std::isfinite(value);
  if (ec != std::errc::result_out_of_range) return false;
  locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (c_locale == static_cast<locale_t>(0)) return false;
  std::string copy(token);
  char* copy_end = nullptr;
  value = strtod_l(copy.c_str(), &copy_end, c_locale);
  freelocale(c_locale);
  return copy_end == copy.c_str() + copy.size() && std::isfinite(value);
}

class Reader {
 public:
  explicit Reader(std::string_view text) : data_(text.data()), size_(text.size()) {}

  JsonValue parse_document() {
    skip_whitespace();
    JsonValue value = parse_value();
    skip_whitespace();
    if (pos_ < size_) fail("unexpected trailing data");
    return value;
  }

 private:
  [[noreturn]] void fail(std::string_view message) const {
    std::string text(message);
    text += " at JSON byte ";
    text += std::to_string(pos_);
    throw JsonError(text);
  }

  bool at_end() const { return pos_ >= size_; }

  void skip_whitespace() {
    while (pos_ < size_) {
      char c = data_[pos_];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
      ++pos_;
    }
  }

  void expect(char c) {
    if (at_end() || data_[pos_] != c) {
      std::string message = "expected '";
      message += c;
      message += "'";
      fail(message);
    }
    ++pos_;
  }

  JsonValue parse_value() {
    if (at_end()) fail("unexpected end of JSON");
    switch (data_[pos_]) {
      case '{':
        return parse_object();
      case '[':
        return parse_array();
      case '"': {
        std::string text;
        parse_string(text);
        return JsonValue(std::move(text));
      }
      case 't':
        parse_literal("true");
        return JsonValue(true);
      case 'f':
        parse_literal("false");
        return JsonValue(false);
      case 'n':
        parse_literal("null");
        return JsonValue();
      default:
        if (data_[pos_] == '-' || is_digit(data_[pos_])) return parse_number();
        fail("unexpected JSON token");
    }
  }

  void parse_literal(std::string_view word) {
    if (size_ - pos_ < word.size() || std::string_view(data_ + pos_, word.size()) != word) {
      fail("invalid JSON literal");
    }
    pos_ += word.size();
  }

  // Nesting is bounded so that hostile input cannot exhaust the stack.
  void enter_container() {
    if (++depth_ > kMaxJsonDepth) fail("JSON nesting too deep");
  }

  // Members are collected in source order and sorted once at the end: for large objects
  // with unordered keys (vocabularies in id order) one sort over a contiguous array is far
  // cheaper than a tree search per member. Duplicates are found after the sort, and reported
  // at the same offset a member-by-member check would have stopped at.
  struct Member {
    std::string key;
    JsonValue value;
    std::size_t end;  // offset right after the member's value
  };

  JsonValue parse_object() {
    enter_container();
    ++pos_;
    std::vector<Member> members;
    bool ascending = true;
    skip_whitespace();
    if (!at_end() && data_[pos_] == '}') {
      ++pos_;
      --depth_;
      return JsonValue(JsonValue::Object{});
    }
    try {
      while (true) {
        skip_whitespace();
        if (at_end() || data_[pos_] != '"') fail("expected object key");
        std::string key;
        parse_string(key);
        skip_whitespace();
        expect(':');
        skip_whitespace();
        JsonValue value = parse_value();
        if (!members.empty() && !(members.back().key < key)) ascending = false;
        members.push_back(Member{std::move(key), std::move(value), pos_});
        skip_whitespace();
        if (!at_end() && data_[pos_] == '}') {
          ++pos_;
          break;
        }
        expect(',');
      }
    } catch (const JsonError&) {
      // A duplicate among the members read so far came before this error.
      if (!ascending) build_object(members);
      throw;
    }
    --depth_;
    if (ascending) {
      JsonValue::Object object;
      for (Member& member : members) {
        object.emplace_hint(object.end(), std::move(member.key), std::move(member.value));
      }
      return JsonValue(std::move(object));
    }
    return JsonValue(build_object(members));
  }

  // Sorts unordered members into an object; fails with "duplicate object key" at the end of
  // the earliest member whose key appeared before it.
  JsonValue::Object build_object(std::vector<Member>& members) {
    // Sort positions by key; the first eight key bytes, read big-endian, decide most
    // comparisons without touching the strings. Ties between equal keys keep source order.
    struct Position {
      std::uint64_t prefix;
      std::uint32_t index;
    };
    std::vector<Position> positions(members.size());
    for (std::uint32_t i = 0; i < positions.size(); ++i) {
      const std::string& key = members[i].key;
      std::uint64_t prefix = 0;
      for (std::size_t b = 0; b < 8; ++b) {
        prefix = (prefix << 8) | (b < key.size() ? static_cast<unsigned char>(key[b]) : 0u);
      }
      positions[i] = Position{prefix, i};
    }
    std::sort(positions.begin(), positions.end(), [&](const Position& a, const Position& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      const int order = members[a.index].key.compare(members[b.index].key);
      return order != 0 ? order < 0 : a.index < b.index;
    });
    std::vector<std::uint32_t> order(positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i) order[i] = positions[i].index;
    std::size_t duplicate_end = 0;
    bool duplicate = false;
    for (std::size_t i = 1; i < order.size(); ++i) {
      if (members[order[i]].key == members[order[i - 1]].key) {
        // Sorted order puts the repetitions of a key after its first occurrence, in source
        // order; every repetition's end is a candidate, the earliest one wins.
        const std::size_t end = members[order[i]].end;
        if (!duplicate || end < duplicate_end) duplicate_end = end;
        duplicate = true;
      }
    }
    if (duplicate) {
      pos_ = duplicate_end;
      fail("duplicate object key");
    }
    JsonValue::Object object;
    for (std::uint32_t index : order) {
      object.emplace_hint(object.end(), std::move(members[index].key),
                          std::move(members[index].value));
    }
    return object;
  }

  JsonValue parse_array() {
    enter_container();
    ++pos_;
    JsonValue::Array elements;
    skip_whitespace();
    if (!at_end() && data_[pos_] == ']') {
      ++pos_;
      --depth_;
      return JsonValue(std::move(elements));
    }
    while (true) {
      skip_whitespace();
      elements.push_back(parse_value());
      skip_whitespace();
      if (!at_end() && data_[pos_] == ']') {
        ++pos_;
        --depth_;
        return JsonValue(std::move(elements));
      }
      expect(',');
    }
  }

  std::uint32_t read_hex4() {
    if (size_ - pos_ < 4) fail("truncated Unicode escape");
    std::uint32_t unit = 0;
    for (int i = 0; i < 4; ++i) {
      int digit = hex_value(data_[pos_++]);
      if (digit < 0) fail("invalid Unicode escape");
      unit = (unit << 4) | static_cast<std::uint32_t>(digit);
    }
    return unit;
  }

  void parse_string(std::string& out) {
    ++pos_;  // opening quotation mark
    while (true) {
      // Copy the run of plain bytes in one append. Bytes above 0x7F must form well-formed
      // UTF-8: strings become Python text and keys of vocabularies, where a stray byte would
      // only fail much later and far from the file that held it.
      std::size_t run = pos_;
      while (run < size_) {
        unsigned char c = static_cast<unsigned char>(data_[run]);
        if (c >= 0x80) {
          run += utf8_sequence_length(run);
          continue;
        }
        if (c == '"' || c == '\\' || c < 0x20) break;
        ++run;
      }
      out.append(data_ + pos_, run - pos_);
      pos_ = run;
      if (at_end()) fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(data_[pos_++]);
      if (c == '"') return;
      if (c < 0x20) fail("unescaped control character in string");
      // A backslash escape.
      if (at_end()) fail("truncated string escape");
      char escape = data_[pos_++];
      switch (escape) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': parse_unicode_escape(out); break;
        default: fail("invalid string escape");
      }
    }
  }

  // The length of the well-formed UTF-8 sequence whose lead byte (0x80 or above) is at
  // `start`; fails at the lead byte when the sequence is cut off, overlong, a surrogate,
  // above U+10FFFF, or not a sequence at all.
  std::size_t utf8_sequence_length(std::size_t start) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data_[start + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    // The second byte's range carries the overlong, surrogate and range rules.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    bool valid = length != 0 && size_ - start >= length && byte(1) >= low && byte(1) <= high;
    for (std::size_t i = 2; valid && i < length; ++i) valid = (byte(i) & 0xC0) == 0x80;
    if (!valid) {
      pos_ = start;
      fail("invalid UTF-8 in string");
    }
    return length;
  }

  void parse_unicode_escape(std::string& out) {
    std::uint32_t unit = read_hex4();
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (size_ - pos_ < 6 || data_[pos_] != '\\' || data_[pos_ + 1] != 'u') {
        fail("missing low surrogate");
      }
      pos_ += 2;
      std::uint32_t low = read_hex4();
      if (low < 0xDC00 || low > 0xDFFF) fail("invalid low surrogate");
      append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
      return;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) fail("unpaired low surrogate");
    append_utf8(out, unit);
  }

  JsonValue parse_number() {
    std::size_t start = pos_;
    bool negative = data_[pos_] == '-';
    if (negative) ++pos_;
    if (at_end()) fail("truncated number");
    // The magnitude is accumulated while scanning; `fits` stays true while it can still be
    // a signed 64-bit integer.
    std::uint64_t magnitude = 0;
    bool fits = true;
    const std::uint64_t limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
    if (data_[pos_] == '0') {
      ++pos_;
      if (!at_end() && is_digit(data_[pos_])) fail("leading zero in number");
    } else if (is_digit(data_[pos_])) {
      while (!at_end() && is_digit(data_[pos_])) {
        std::uint64_t digit = static_cast<std::uint64_t>(data_[pos_] - '0');
        if (fits && magnitude <= (limit - digit) / 10) {
          magnitude = magnitude * 10 + digit;
        } else {
          fits = false;
        }
        ++pos_;
      }
    } else {
      fail("invalid number");
    }
    bool integral = true;
    if (!at_end() && data_[pos_] == '.') {
      integral = false;
      ++pos_;
      if (at_end() || !is_digit(data_[pos_])) fail("missing fractional digits");
      while (!at_end() && is_digit(data_[pos_])) ++pos_;
    }
    if (!at_end() && (data_[pos_] == 'e' || data_[pos_] == 'E')) {
      integral = false;
      ++pos_;
      if (!at_end() && (data_[pos_] == '+' || data_[pos_] == '-')) ++pos_;
      if (at_end() || !is_digit(data_[pos_])) fail("missing exponent digits");
      while (!at_end() && is_digit(data_[pos_])) ++pos_;
    }
    if (integral && fits) {
      if (!negative) return JsonValue(static_cast<long long>(magnitude));
      // Negate in unsigned arithmetic so that the minimum value does not overflow.
      return JsonValue(static_cast<long long>(0 - magnitude));
    }
    double value = 0.0;
    if (!to_double(std::string_view(data_ + start, pos_ - start), value)) {
      fail("invalid floating-point number");
    }
    return JsonValue(value);
  }

  const char* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::size_t depth_ = 0;
};

// Closes a descriptor on every exit path.
struct FileDescriptor {
  int fd;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

JsonValue parse_json(std::string_view text) { return Reader(text).parse_document(); }

std::string load_text_file(const std::filesystem::path& path) {
  // Non-blocking open so that a FIFO cannot stall us before the regular-file check.
  FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0) throw JsonError("cannot open JSON file: " + path.string());
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) throw JsonError("cannot read JSON file: " + path.string());
  if (!S_ISREG(info.st_mode)) throw JsonError("JSON file is not a regular file: " + path.string());
  std::string content;
  content.resize(static_cast<std::size_t>(info.st_size));
  std::size_t filled = 0;
  while (true) {
    if (filled == content.size()) content.resize(content.size() + 4096 + content.size() / 2);
    ssize_t got = ::read(file.fd, content.data() + filled, content.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw JsonError("cannot read JSON file: " + path.string());
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  content.resize(filled);
  return content;
}

JsonValue load_json(const std::filesystem::path& path) { return parse_json(load_text_file(path)); }

}  // namespace velmora::detail
