#include "ner/crf_decoding.hpp"

#include <ATen/ATen.h>

#include <string_view>

#include "velmora/errors.hpp"

namespace velmora::detail {

std::vector<std::int64_t> ner_viterbi_decode(const at::Tensor& emission_scores, const at::Tensor& transition_scores) {
  const at::Tensor emissions = emission_scores.to(at::kFloat).contiguous();
  const at::Tensor transitions = transition_scores.to(at::kFloat).contiguous();
  if (emissions.dim() != 2 || transitions.dim() != 2 || emissions.size(1) == 0 ||
      transitions.size(0) != emissions.size(1) || transitions.size(1) != emissions.size(1)) {
    throw NERModelError("NER CRF tensors have incompatible dimensions");
  }
  const std::int64_t steps = emissions.size(0);
  const std::int64_t tags = emissions.size(1);
  if (steps == 0) return {};
  const float* emission = emissions.const_data_ptr<float>();
  const float* transition = transitions.const_data_ptr<float>();

  std::vector<float> score(emission, emission + tags);
  std::vector<float> next(static_cast<std::size_t>(tags));
  std::vector<std::int64_t> back(static_cast<std::size_t>(steps * tags), 0);
  for (std::int64_t t = 1; t < steps; ++t) {
    const float* row = emission + t * tags;
    std::int64_t* pointers = back.data() + t * tags;
    for (std::int64_t j = 0; j < tags; ++j) {
      float best = score[0] + transition[j];
      std::int64_t from = 0;
      for (std::int64_t i = 1; i < tags; ++i) {
        const float candidate = score[static_cast<std::size_t>(i)] + transition[i * tags + j];
        // Strictly greater: ties keep the lower index, and a NaN on either side never wins.
        if (candidate > best) {
          best = candidate;
          from = i;
        }
      }
      next[static_cast<std::size_t>(j)] = best + row[j];
      pointers[j] = from;
    }
    score.swap(next);
  }

  std::int64_t last = 0;
  for (std::int64_t j = 1; j < tags; ++j) {
    if (score[static_cast<std::size_t>(j)] > score[static_cast<std::size_t>(last)]) last = j;
  }
  std::vector<std::int64_t> path(static_cast<std::size_t>(steps));
  path.back() = last;
  for (std::int64_t t = steps - 1; t > 0; --t) {
    path[static_cast<std::size_t>(t - 1)] = back[static_cast<std::size_t>(t * tags + path[static_cast<std::size_t>(t)])];
  }
  return path;
}

namespace {

bool has_prefix(std::string_view tag, char prefix) { return tag.size() >= 2 && tag[0] == prefix && tag[1] == '-'; }

// Whether `tag` is exactly one of the two prefixes followed by `type`.
bool is_either(std::string_view tag, char first, char second, std::string_view type) {
  return (has_prefix(tag, first) || has_prefix(tag, second)) && tag.substr(2) == type;
}

std::string with_prefix(char prefix, std::string_view type) {
  std::string tag{prefix, '-'};
  tag += type;
  return tag;
}

}  // namespace

void repair_bioes_tags(std::vector<std::string>& tags) {
  const std::size_t count = tags.size();
  // An inside tag closes a run that does not continue and opens one that was not opened.
  for (std::size_t i = 0; i < count; ++i) {
    if (!has_prefix(tags[i], 'I')) continue;
    const std::string type = tags[i].substr(2);
    if (i + 1 == count || !is_either(tags[i + 1], 'I', 'E', type)) tags[i] = with_prefix('E', type);
    if (i == 0 || !is_either(tags[i - 1], 'B', 'I', type)) tags[i] = with_prefix('B', type);
  }
  // A begin tag that is not continued and an end tag that was not opened stand alone.
  for (std::size_t i = 0; i < count; ++i) {
    if (has_prefix(tags[i], 'B')) {
      const std::string type = tags[i].substr(2);
      if (i + 1 == count || !is_either(tags[i + 1], 'I', 'E', type)) tags[i] = with_prefix('S', type);
    } else if (has_prefix(tags[i], 'E')) {
      const std::string type = tags[i].substr(2);
      if (i == 0 || !is_either(tags[i - 1], 'B', 'I', type)) tags[i] = with_prefix('S', type);
    }
  }
}

}  // namespace velmora::detail
