// Typed access to JSON values, with errors that name the caller's path.

#include <string>

#include "velmora/json.hpp"

namespace velmora::detail {

namespace {

std::string path_suffix(std::string_view path) {
  if (path.empty()) return {};
  std::string suffix = " at ";
  suffix.append(path);
  return suffix;
}

}  // namespace

void JsonValue::throw_type(std::string_view kind, std::string_view path) {
  std::string message = "expected JSON ";
  message.append(kind);
  message += path_suffix(path);
  throw JsonError(message);
}

bool JsonValue::as_bool(std::string_view path) const {
  if (const auto* value = std::get_if<bool>(&value_)) return *value;
  throw_type("boolean", path);
}

long long JsonValue::as_integer(std::string_view path) const {
  if (const auto* value = std::get_if<long long>(&value_)) return *value;
  throw_type("integer", path);
}

double JsonValue::as_number(std::string_view path) const {
  if (const auto* value = std::get_if<double>(&value_)) return *value;
  if (const auto* value = std::get_if<long long>(&value_)) return static_cast<double>(*value);
  throw_type("number", path);
}

const std::string& JsonValue::as_string(std::string_view path) const {
  if (const auto* value = std::get_if<std::string>(&value_)) return *value;
  throw_type("string", path);
}

const JsonValue::Array& JsonValue::as_array(std::string_view path) const {
  if (const auto* value = std::get_if<Array>(&value_)) return *value;
  throw_type("array", path);
}

const JsonValue::Object& JsonValue::as_object(std::string_view path) const {
  if (const auto* value = std::get_if<Object>(&value_)) return *value;
  throw_type("object", path);
}

const JsonValue& JsonValue::at(std::string_view key, std::string_view path) const {
  const Object& object = as_object(path);
  auto found = object.find(key);
  if (found == object.end()) {
    std::string message = "missing JSON key '";
    message.append(key);
    message += "'";
    message += path_suffix(path);
    throw JsonError(message);
  }
  return found->second;
}

const JsonValue* JsonValue::find(std::string_view key) const noexcept {
  const auto* object = std::get_if<Object>(&value_);
  if (object == nullptr) return nullptr;
  auto found = object->find(key);
  return found == object->end() ? nullptr : &found->second;
}

}  // namespace velmora::detail
