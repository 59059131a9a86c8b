// Tagging one sentence: the tag classifiers up to the predicted tag set, CRF decoding of that
// set, and the decoded ids as repaired BIOES tag strings.

#include <c10/core/InferenceMode.h>

#include <algorithm>

#include "ner/crf_decoding.hpp"
#include "ner/model_state.hpp"

namespace velmora::detail {
namespace {

// Scores of the predicted tag set. Chained output layers feed each classifier the tagger rows
// followed by the previous classifier's raw scores.
at::Tensor predicted_scores(const NERPlan::Impl& state, const at::Tensor& rows) {
  const auto predicted = static_cast<std::size_t>(state.predict_tagset);
  if (!state.connect_output_layers) {
    const NERTagClassifier& classifier = state.tag_classifiers[predicted];
    return at::linear(rows, classifier.weight, classifier.bias);
  }
  at::Tensor scores;
  for (std::size_t column = 0; column <= predicted; ++column) {
    const NERTagClassifier& classifier = state.tag_classifiers[column];
    const at::Tensor input = column == 0 ? rows : at::cat({rows, scores}, 1);
    scores = at::linear(input, classifier.weight, classifier.bias);
  }
  return scores;
}

}  // namespace

std::vector<std::string> ner_tag_sentence(const NERPlan::Impl& state, const std::vector<std::string>& tokens) {
  if (tokens.empty()) return {};
  c10::InferenceMode inference;
  const at::Tensor rows = run_ner_tagger_lstm(state, tokens);
  const auto predicted = static_cast<std::size_t>(state.predict_tagset);
  const std::vector<std::int64_t> ids =
      ner_viterbi_decode(predicted_scores(state, rows), state.tag_classifiers[predicted].transitions);

  // Ids 0 to 3 are the vocabulary's reserved entries; they read as the first real tag, id 4.
  constexpr std::int64_t kFirstTagId = 4;
  const std::vector<std::string>& column = state.tag_vocab[predicted];
  std::vector<std::string> tags;
  tags.reserve(ids.size());
  for (std::int64_t id : ids) {
    const std::int64_t index = std::max(id, kFirstTagId);
    if (index >= static_cast<std::int64_t>(column.size())) throw NERModelError("NER CRF produced an invalid tag id");
    tags.push_back(column[static_cast<std::size_t>(index)]);
  }
  repair_bioes_tags(tags);
  return tags;
}

}  // namespace velmora::detail
