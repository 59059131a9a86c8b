#pragma once

// Decoding of one tag set: linear-chain CRF Viterbi over emission and transition scores, and
// the repair of decoded tag strings into well-formed BIOES runs.

#include <cstdint>
#include <string>
#include <vector>

#include <ATen/core/Tensor.h>

namespace velmora::detail {

/// The best tag path of contiguous float32 emissions [n, T] under transitions [T, T] (previous
/// tag row, current tag column); no start or end scores. Ties keep the lower tag index, and a
/// NaN candidate never replaces the best so far.
std::vector<std::int64_t> ner_viterbi_decode(const at::Tensor& emissions, const at::Tensor& transitions);

/// Rewrites stray I-, unopened E- and unfinished B- tags so that every run is B- I-* E- or S-
/// of one type; all other tags stay as they are.
void repair_bioes_tags(std::vector<std::string>& tags);

}  // namespace velmora::detail
