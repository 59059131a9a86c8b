#pragma once

// The process's peak resident memory since a reset, from Linux's /proc counters.

#include <fstream>
#include <optional>
#include <string>

namespace depparse_test {

/// Restarts the peak count at the current resident size; false where the system cannot.
inline bool reset_peak_memory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.close();
  return static_cast<bool>(clear);
}

/// A /proc/self/status field in MiB (VmHWM: the peak, VmRSS: now), or none.
inline std::optional<double> status_mib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
  }
  return std::nullopt;
}

}  // namespace depparse_test
