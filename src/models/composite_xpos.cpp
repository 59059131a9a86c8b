// Component keys of composite XPOS vocabularies.

#include "models/composite_xpos.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

namespace velmora::detail {

bool parse_composite_xpos_key(std::string_view key, std::uint64_t& index) {
  if (key.empty() || !std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), index);
  if (error == std::errc::result_out_of_range) index = std::numeric_limits<std::uint64_t>::max();
  return true;
}

}  // namespace velmora::detail
