#pragma once

// Finds the web addresses and e-mail addresses of a paragraph text in time linear in its length.
// Searching with the whole address pattern costs, at every start position, a scan over the
// dotted run that follows it (the e-mail local part, or a name before ".com"), so a long run
// such as "a.a.a.a..." takes quadratic time. Here each alternative runs anchored only where a
// cheap necessary condition holds, and a failure is remembered for every start position that
// would fail the same way, so each run is scanned about once.

#include <string_view>
#include <vector>

#include "tokenize/byte_regex.hpp"

namespace velmora::detail {

/// The matches of the address pattern in `text`, exactly as address_pattern().find_all(text).
std::vector<ByteMatch> find_address_matches(std::string_view text);

}  // namespace velmora::detail
