#include "tokenize/address_search.hpp"

#include <cstddef>
#include <initializer_list>
#include <limits>

#include "tokenize/patterns.hpp"

namespace velmora::detail {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// The byte classes of the address pattern that decide where a match can start.
bool local_part_byte(unsigned char c) {  // [a-z0-9!#$%&'*+/=?^_`{|}~-]
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+/=?^_`{|}~-").find(static_cast<char>(c)) != std::string_view::npos;
}
bool quoted_byte(unsigned char c) {  // [\x01-\x08\x0b\x0c\x0e-\x1f\x21\x23-\x5b\x5d-\x7f]
  return (c >= 0x01 && c <= 0x08) || c == 0x0b || c == 0x0c || (c >= 0x0e && c <= 0x1f) || c == 0x21 ||
         (c >= 0x23 && c <= 0x5b) || (c >= 0x5d && c <= 0x7f);
}
bool escaped_byte(unsigned char c) {  // [\x01-\x09\x0b\x0c\x0e-\x7f]
  return (c >= 0x01 && c <= 0x09) || c == 0x0b || c == 0x0c || (c >= 0x0e && c <= 0x7f);
}
bool alphanumeric(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool domain_start(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// Where the deterministic scans of the pattern end, for every start position, computed from
// right to left. Each scan has one way forward at every byte, so all start positions inside
// one scanned stretch end where it ends.
struct AddressScans {
  // From a local-part byte: the end of the e-mail local part [X]+(\.[X]+)* starting there.
  std::vector<std::size_t> local_end;
  // From a position inside a quoted local part: the closing quote, or kNone.
  std::vector<std::size_t> quote_close;
  // From an alphanumeric byte: the end of its run of alphanumerics.
  std::vector<std::size_t> alphanumeric_end;
  // Whether a ']' follows before any byte that an address literal cannot hold.
  std::vector<bool> bracket_ahead;

  explicit AddressScans(std::string_view text) {
    const std::size_t n = text.size();
    auto at = [&](std::size_t i) { return i < n ? static_cast<unsigned char>(text[i]) : 0; };
    local_end.assign(n + 1, kNone);
    quote_close.assign(n + 2, kNone);
    alphanumeric_end.assign(n + 1, kNone);
    bracket_ahead.assign(n + 1, false);
    for (std::size_t i = n; i-- > 0;) {
      const unsigned char c = at(i);
      if (local_part_byte(c)) {
        if (local_part_byte(at(i + 1))) {
          local_end[i] = local_end[i + 1];
        } else if (at(i + 1) == '.' && local_part_byte(at(i + 2))) {
          local_end[i] = local_end[i + 2];
        } else {
          local_end[i] = i + 1;
        }
      }
      if (c == '"') {
        quote_close[i] = i;
      } else if (quoted_byte(c)) {
        quote_close[i] = quote_close[i + 1];
      } else if (c == '\\' && i + 1 < n && escaped_byte(at(i + 1))) {
        quote_close[i] = quote_close[i + 2];
      }
      if (alphanumeric(c)) alphanumeric_end[i] = alphanumeric(at(i + 1)) ? alphanumeric_end[i + 1] : i + 1;
      // A literal holds no NUL, CR, LF or non-ASCII byte, and a tab or space only after a
      // backslash.
      const bool stop = c == 0 || c == '\n' || c == '\r' || c >= 0x80 ||
                        ((c == '\t' || c == ' ') && (i == 0 || text[i - 1] != '\\'));
      bracket_ahead[i] = c == ']' || (!stop && bracket_ahead[i + 1]);
    }
  }
};

bool starts_with_any(std::string_view text, std::initializer_list<std::string_view> prefixes) {
  for (std::string_view prefix : prefixes) {
    if (text.starts_with(prefix)) return true;
  }
  return false;
}

}  // namespace

std::vector<ByteMatch> find_address_matches(std::string_view text) {
  const std::size_t n = text.size();
  const AddressScans scans(text);
  ByteMatcher email(email_pattern(), text);
  ByteMatcher web(web_pattern(), text);
  // An e-mail match at p is decided by what follows the at-sign its local part runs into, and
  // a match of the last web alternative by what follows its alphanumeric run; failures are
  // remembered by that at-sign and that run's end.
  std::vector<bool> at_sign_failed(n, false);
  std::vector<bool> run_end_failed(n, false);
  std::vector<ByteMatch> matches;
  std::size_t p = 0;
  while (p < n) {
    const auto c = static_cast<unsigned char>(text[p]);

    // The address pattern tries the e-mail alternative first: it decides whenever it matches.
    std::size_t at_sign = kNone;
    if (local_part_byte(c)) {
      at_sign = scans.local_end[p];
    } else if (c == '"' && scans.quote_close[p + 1] != kNone) {
      at_sign = scans.quote_close[p + 1] + 1;
    }
    if (at_sign < n && text[at_sign] == '@' && !at_sign_failed[at_sign] && at_sign + 1 < n) {
      const auto next = static_cast<unsigned char>(text[at_sign + 1]);
      if (domain_start(next) || (next == '[' && scans.bracket_ahead[at_sign + 2])) {
        if (const auto match = email.find(p, true)) {
          matches.push_back(*match);
          p = match->end;
          continue;
        }
        at_sign_failed[at_sign] = true;
      }
    }

    // Web addresses: a scheme or "www." prefix, or a name followed by one of the fixed endings.
    const bool prefixed = starts_with_any(text.substr(p), {"http://", "https://", "www."});
    std::size_t run_end = kNone;
    if (alphanumeric(c)) {
      const std::size_t end = scans.alphanumeric_end[p];
      if (end < n && text[end] == '.' && !run_end_failed[end] &&
          starts_with_any(text.substr(end + 1), {"gov.", "org.", "edu.", "net.", "com.", "co."})) {
        run_end = end;
      }
    }
    if (prefixed || run_end != kNone) {
      if (const auto match = web.find(p, true)) {
        matches.push_back(*match);
        p = match->end;
        continue;
      }
      if (run_end != kNone) run_end_failed[run_end] = true;
    }
    ++p;
  }
  return matches;
}

}  // namespace velmora::detail
