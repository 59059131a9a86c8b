#pragma once

#include <string>

namespace velmora {

/// The version of the native library, the same as the Python module's __version__.
std::string native_version();

}  // namespace velmora
