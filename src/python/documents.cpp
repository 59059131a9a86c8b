#include "bindings.hpp"
namespace velmora::detail { void define_documents(nanobind::module_) {} }
