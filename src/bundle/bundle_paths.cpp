// Rules for paths and identity parts named by manifests and model indexes: nothing they
// name may leave the bundle or language directory.

#include <algorithm>
#include <string>
#include <system_error>

#include "velmora/model_bundle.hpp"

namespace velmora::detail {

std::filesystem::path checked_bundle_path(const JsonValue& value, std::string_view where) {
  std::filesystem::path path(value.as_string(where));
  if (path.empty() || path.has_root_directory()) {
    throw ModelBundleError("bundle path must be non-empty and relative at " + std::string(where));
  }
  for (const auto& element : path) {
    if (element == "..") {
      throw ModelBundleError("bundle path may not traverse parents at " + std::string(where));
    }
  }
  return path;
}

std::filesystem::path contained_bundle_path(const std::filesystem::path& base,
                                            const std::filesystem::path& relative,
                                            std::string_view where) {
  std::filesystem::path full = base / relative;
  // A symbolic link inside the directory could still point anywhere; compare the resolved
  // location with the resolved directory. Paths that cannot be resolved (missing files,
  // link loops) are left for the open that follows to report.
  std::error_code error;
  const std::filesystem::path real_base = std::filesystem::canonical(base, error);
  if (error) return full;
  const std::filesystem::path real = std::filesystem::weakly_canonical(full, error);
  if (error) return full;
  auto mismatch = std::mismatch(real_base.begin(), real_base.end(), real.begin(), real.end());
  if (mismatch.first != real_base.end()) {
    throw ModelBundleError("bundle path leaves its directory at " + std::string(where));
  }
  return full;
}

std::uint64_t as_nonnegative_integer(const JsonValue& value, std::string_view where) {
  long long number = value.as_integer(where);
  if (number < 0) {
    throw ModelBundleError("expected a non-negative integer at " + std::string(where));
  }
  return static_cast<std::uint64_t>(number);
}

void validate_model_identity(std::string_view value, std::string_view what) {
  bool valid = !value.empty() && value != "." && value != "..";
  for (char c : value) {
    bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '.' || c == '-' || c == '_';
    if (!allowed) valid = false;
  }
  if (!valid) {
    throw ModelBundleError("invalid " + std::string(what) + ": " + std::string(value));
  }
}

}  // namespace velmora::detail
