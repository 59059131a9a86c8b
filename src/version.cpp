#include "velmora/version.hpp"

namespace velmora {

std::string native_version() { return VELMORA_VERSION; }

}  // namespace velmora
