#include "bindings.hpp"
namespace velmora::detail { void define_processors(nanobind::module_) {} }
