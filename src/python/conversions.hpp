#pragma once

// Conversions shared by several families of bindings.

#include <nanobind/nanobind.h>

#include "velmora/coref_values.hpp"

namespace velmora::detail {

/// The dictionary of one coreference attachment: "index", "representative_text", then
/// each of "is_start", "is_end" and "is_representative" only when its flag is set.
nanobind::dict coref_attachment_to_json(const CorefAttachment& attachment);

}  // namespace velmora::detail
