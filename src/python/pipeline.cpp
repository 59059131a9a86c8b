#include "bindings.hpp"
namespace velmora::detail { void define_pipeline(nanobind::module_) {} }
