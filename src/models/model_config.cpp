#include "models/model_config.hpp"

namespace velmora::detail {
namespace {

std::string config_path(std::string_view key) { return "assets.config." + std::string(key); }

// The member at `key`, or null when absent or JSON null.
const JsonValue* present(const JsonValue& config, std::string_view key) {
  const JsonValue* value = config.find(key);
  return value == nullptr || value->is_null() ? nullptr : value;
}

}  // namespace

bool config_has(const JsonValue& config, std::string_view key) { return present(config, key) != nullptr; }

std::int64_t config_int(const JsonValue& config, std::string_view key, std::int64_t fallback) {
  const JsonValue* value = present(config, key);
  return value == nullptr ? fallback : value->as_integer(config_path(key));
}

bool config_bool(const JsonValue& config, std::string_view key, bool fallback) {
  const JsonValue* value = present(config, key);
  return value == nullptr ? fallback : value->as_bool(config_path(key));
}

double config_double(const JsonValue& config, std::string_view key, double fallback) {
  const JsonValue* value = present(config, key);
  return value == nullptr ? fallback : value->as_number(config_path(key));
}

const std::string& config_string(const JsonValue& config, std::string_view key) {
  return config.at(key, "assets.config").as_string(config_path(key));
}

StringMap<std::int64_t> read_unit2id(const JsonValue& vocabulary, std::string_view path) {
  const std::string map_path = std::string(path) + "._unit2id";
  const JsonValue::Object& members = vocabulary.at("_unit2id", path).as_object(map_path);
  StringMap<std::int64_t> ids;
  ids.reserve(members.size());
  for (const auto& [unit, id] : members) ids.emplace(unit, id.as_integer(map_path + "." + unit));
  return ids;
}

std::vector<std::string> read_id2unit(const JsonValue& vocabulary, std::string_view path) {
  const std::string array_path = std::string(path) + "._id2unit";
  const std::string element_path = array_path + "[]";
  const std::vector<JsonValue>& elements = vocabulary.at("_id2unit", path).as_array(array_path);
  std::vector<std::string> labels;
  labels.reserve(elements.size());
  for (const JsonValue& label : elements) labels.push_back(label.as_string(element_path));
  return labels;
}

}  // namespace velmora::detail
