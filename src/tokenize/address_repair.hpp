#pragma once

// Keeps web addresses and e-mail addresses whole: the network readily splits them at dots,
// slashes or the at-sign.

#include <cstdint>
#include <vector>

#include "tokenize/units.hpp"

namespace velmora::detail {

/// Makes every run of units covered by the address pattern exactly one token: labels inside
/// the run become 0 and the run's last unit ends a token (keeping a sentence or multi-word end).
void repair_address_labels(const TokenizerParagraph& units, std::vector<std::int64_t>& labels);

}  // namespace velmora::detail
