// Tagging sentences: the tag classifiers up to the predicted tag set, CRF decoding of that set
// sentence by sentence, and the decoded ids as repaired BIOES tag strings.

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

std::vector<std::vector<std::string>> ner_tag_sentences(const NERPlan::Impl& state,
                                                        const std::vector<const std::vector<std::string>*>& sentences) {
  std::vector<std::vector<std::string>> tags_of(sentences.size());
  std::vector<const std::vector<std::string>*> tagged;
  for (const std::vector<std::string>* tokens : sentences) {
    if (!tokens->empty()) tagged.push_back(tokens);
  }
  if (tagged.empty()) return tags_of;
  const at::Tensor scores = predicted_scores(state, run_ner_tagger(state, tagged));
  const auto predicted = static_cast<std::size_t>(state.predict_tagset);
  const at::Tensor& transitions = state.tag_classifiers[predicted].transitions;
  const std::vector<std::string>& column = state.tag_vocab[predicted];
  // Ids 0 to 3 are the vocabulary's reserved entries; they read as the first real tag, id 4.
  constexpr std::int64_t kFirstTagId = 4;

  std::int64_t start = 0;
  for (std::size_t s = 0; s < sentences.size(); ++s) {
    const auto count = static_cast<std::int64_t>(sentences[s]->size());
    if (count == 0) continue;
    const std::vector<std::int64_t> ids = ner_viterbi_decode(scores.narrow(0, start, count), transitions);
    start += count;
    std::vector<std::string>& tags = tags_of[s];
    tags.reserve(ids.size());
    for (std::int64_t id : ids) {
      const std::int64_t index = std::max(id, kFirstTagId);
      if (index >= static_cast<std::int64_t>(column.size())) throw NERModelError("NER CRF produced an invalid tag id");
      tags.push_back(column[static_cast<std::size_t>(index)]);
    }
    repair_bioes_tags(tags);
  }
  return tags_of;
}

}  // namespace velmora::detail
