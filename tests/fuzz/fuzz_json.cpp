// Feeds arbitrary bytes to the JSON reader: it must either return a value or throw
// JsonError, never crash, hang or leak; a value it returns must survive a walk.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "velmora/json.hpp"

namespace {

using velmora::detail::JsonValue;

std::size_t walk(const JsonValue& value) {
  std::size_t count = 1;
  if (value.is_array()) {
    for (const JsonValue& element : value.as_array("")) count += walk(element);
  } else if (value.is_object()) {
    for (const auto& [key, member] : value.as_object("")) count += key.size() + walk(member);
  } else if (value.is_number()) {
    (void)value.as_number("");
  } else if (value.is_string()) {
    count += value.as_string("").size();
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const JsonValue value =
        velmora::detail::parse_json(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)walk(value);
  } catch (const velmora::detail::JsonError&) {
  }
  return 0;
}
