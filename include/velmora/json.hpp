#pragma once

// The one JSON reader of the system: a strict parser into an immutable value tree, used for
// bundle manifests, model indexes and every model's assets. Typed accessors take a short
// path ("manifest.tensor_alignment") that only words the error message.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velmora::detail {

/// A JSON syntax, file or type error; the message names the byte offset or the value's path.
class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// One JSON value. Integers (fitting 64 signed bits, written without fraction or exponent)
/// and other numbers are distinct kinds; objects are sorted by key bytes.
class JsonValue {
 public:
  using Array = std::vector<JsonValue>;
  using Object = std::map<std::string, JsonValue, std::less<>>;

  JsonValue() = default;
  JsonValue(bool value) : value_(value) {}
  JsonValue(long long value) : value_(value) {}
  JsonValue(double value) : value_(value) {}
  JsonValue(std::string value) : value_(std::move(value)) {}
  /// Keeps a string literal from silently becoming a boolean.
  JsonValue(const char* value) : value_(std::string(value)) {}
  JsonValue(Array value) : value_(std::move(value)) {}
  JsonValue(Object value) : value_(std::move(value)) {}

  bool is_null() const noexcept { return value_.index() == 0; }
  bool is_bool() const noexcept { return value_.index() == 1; }
  bool is_integer() const noexcept { return value_.index() == 2; }
  /// True for an integer or any other number.
  bool is_number() const noexcept { return value_.index() == 2 || value_.index() == 3; }
  bool is_string() const noexcept { return value_.index() == 4; }
  bool is_array() const noexcept { return value_.index() == 5; }
  bool is_object() const noexcept { return value_.index() == 6; }

  bool as_bool(std::string_view path) const;
  long long as_integer(std::string_view path) const;
  /// An integer is converted to double; a number is returned as is.
  double as_number(std::string_view path) const;
  const std::string& as_string(std::string_view path) const;
  const Array& as_array(std::string_view path) const;
  const Object& as_object(std::string_view path) const;

  /// The member `key` of this object; `path` names this object in the error.
  const JsonValue& at(std::string_view key, std::string_view path) const;
  /// The member `key`, or null when this is not an object or has no such member.
  const JsonValue* find(std::string_view key) const noexcept;

  [[noreturn]] static void throw_type(std::string_view kind, std::string_view path);

 private:
  std::variant<std::nullptr_t, bool, long long, double, std::string, Array, Object> value_{nullptr};
};

/// Parses one complete JSON text; errors end with " at JSON byte " and the offset. Strings
/// and keys must be well-formed UTF-8 (a stray byte fails at its sequence's first byte).
JsonValue parse_json(std::string_view text);

/// The whole content of a regular file, byte for byte.
std::string load_text_file(const std::filesystem::path& path);

/// parse_json(load_text_file(path)).
JsonValue load_json(const std::filesystem::path& path);

/// Deepest nesting of arrays and objects that parse_json accepts.
inline constexpr std::size_t kMaxJsonDepth = 512;

}  // namespace velmora::detail
