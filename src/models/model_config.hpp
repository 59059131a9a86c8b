#pragma once

// Typed reads from a model's assets JSON, shared by every model loader. Type errors name the
// path "assets.config." followed by the key; JSON errors raised while a model loads are turned
// into that model's own error.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "models/string_hash.hpp"
#include "velmora/json.hpp"

namespace velmora::detail {

/// True when `key` is present and not null (a model names a transformer by "bert_model", for example).
bool config_has(const JsonValue& config, std::string_view key);
/// The integer at `key`; `fallback` when the key is absent or null.
std::int64_t config_int(const JsonValue& config, std::string_view key, std::int64_t fallback);
/// The boolean at `key`; `fallback` when the key is absent or null.
bool config_bool(const JsonValue& config, std::string_view key, bool fallback);
/// The number (integer or floating point) at `key`; `fallback` when absent or null.
double config_double(const JsonValue& config, std::string_view key, double fallback = 0.0);
/// The string at `key`, which must be present (missing-key path "assets.config").
const std::string& config_string(const JsonValue& config, std::string_view key);

/// The unit-to-id map of a vocabulary object's "_unit2id" member; `path` names the vocabulary
/// ("assets.vocab"), the member is read under path + "._unit2id" and each id under
/// path + "._unit2id." + unit.
StringMap<std::int64_t> read_unit2id(const JsonValue& vocabulary, std::string_view path);
/// The labels of a vocabulary object's "_id2unit" array, in id order; the array is read under
/// path + "._id2unit" and each label under path + "._id2unit[]".
std::vector<std::string> read_id2unit(const JsonValue& vocabulary, std::string_view path);

/// Runs a model loader, turning JSON errors into the model's own error with the same message.
template <class Error, class Load>
decltype(auto) with_model_error(Load&& load) {
  try {
    return std::forward<Load>(load)();
  } catch (const JsonError& error) {
    throw Error(error.what());
  }
}

}  // namespace velmora::detail
