// From antecedent decisions to the prediction: connected components of the antecedent links
// become clusters, a span predictor over each head's sentence finds the mention the head
// heads, and a small classifier marks clustered heads that stand for zero anaphors.

#include <algorithm>
#include <cmath>
#include <limits>

#include "coref/model_state.hpp"
#include "models/parallel_units.hpp"

namespace velmora::detail {
namespace {

// Every word of the head's sentence is compared with the head by position; words further than
// this share one relative-position row.
constexpr std::int64_t kMaxRelativePosition = 63;

WordSpan predict_span(const CorefModel& model, const at::Tensor& words, const std::vector<std::uint64_t>& sentence_ids,
                      std::int64_t head) {
  std::vector<std::int64_t> sentence_words;
  std::vector<std::int64_t> positions;
  const std::uint64_t sentence = sentence_ids[static_cast<std::size_t>(head)];
  for (std::size_t word = 0; word < sentence_ids.size(); ++word) {
    if (sentence_ids[word] != sentence) continue;
    sentence_words.push_back(static_cast<std::int64_t>(word));
    const std::int64_t distance = head - static_cast<std::int64_t>(word);
    positions.push_back(std::abs(distance) <= kMaxRelativePosition ? distance + kMaxRelativePosition
                                                                   : 2 * kMaxRelativePosition + 1);
  }
  const auto length = static_cast<std::int64_t>(sentence_words.size());
  const at::Tensor rows = words.index_select(0, coref_long_tensor(sentence_words.data(), {length}));
  const at::Tensor head_rows = words[head].unsqueeze(0).expand({length, words.size(1)});
  const at::Tensor relative = at::embedding(coref_tensor(model, "sp.emb.weight"),
                                            coref_long_tensor(positions.data(), {length}));
  at::Tensor hidden = at::cat({head_rows, rows, relative}, 1).unsqueeze(0);
  hidden = at::relu(at::linear(hidden, coref_tensor(model, "sp.ffnn.0.weight"), coref_tensor(model, "sp.ffnn.0.bias")));
  hidden = at::relu(at::linear(hidden, coref_tensor(model, "sp.ffnn.3.weight"), coref_tensor(model, "sp.ffnn.3.bias")));
  hidden = at::linear(hidden, coref_tensor(model, "sp.ffnn.6.weight"), coref_tensor(model, "sp.ffnn.6.bias"));
  hidden = hidden.transpose(1, 2);
  hidden = at::conv1d(hidden, coref_tensor(model, "sp.conv.0.weight"), coref_tensor(model, "sp.conv.0.bias"), 1, 1);
  hidden = at::conv1d(hidden, coref_tensor(model, "sp.conv.1.weight"), coref_tensor(model, "sp.conv.1.bias"), 1, 1);
  const at::Tensor scores = hidden.transpose(1, 2).squeeze(0).contiguous();  // [L, 2]: start, end
  const at::Tensor starts = scores.select(1, 0).contiguous();
  const at::Tensor ends = scores.select(1, 1).contiguous();
  return coref_span_from_scores(sentence_words, starts.data_ptr<float>(), ends.data_ptr<float>(), head);
}

// The logit of one clustered word: positive marks a zero anaphor.
float zero_logit(const CorefModel& model, const at::Tensor& words, std::int64_t head) {
  const at::Tensor hidden = at::relu(at::linear(words[head].unsqueeze(0), coref_tensor(model, "zeros_predictor.0.weight"),
                                                coref_tensor(model, "zeros_predictor.0.bias")));
  return at::linear(hidden, coref_tensor(model, "zeros_predictor.2.weight"), coref_tensor(model, "zeros_predictor.2.bias"))
      .item<float>();
}

}  // namespace

std::vector<std::vector<std::uint64_t>> coref_clusters(const CorefAntecedents& antecedents) {
  const std::size_t n = antecedents.antecedent.size();
  std::vector<std::vector<std::size_t>> links(n);
  for (std::size_t word = 0; word < n; ++word) {
    const std::int64_t antecedent = antecedents.antecedent[word];
    if (antecedent < 0) continue;
    links[word].push_back(static_cast<std::size_t>(antecedent));
    links[static_cast<std::size_t>(antecedent)].push_back(word);
  }
  std::vector<bool> visited(n, false);
  std::vector<std::vector<std::uint64_t>> clusters;
  for (std::size_t word = 0; word < n; ++word) {
    if (links[word].empty() || visited[word]) continue;
    std::vector<std::uint64_t> cluster;
    std::vector<std::size_t> stack{word};
    while (!stack.empty()) {
      const std::size_t current = stack.back();
      stack.pop_back();
      if (visited[current]) continue;
      visited[current] = true;
      cluster.push_back(current);
      stack.insert(stack.end(), links[current].begin(), links[current].end());
    }
    std::sort(cluster.begin(), cluster.end());
    cluster.erase(std::unique(cluster.begin(), cluster.end()), cluster.end());
    clusters.push_back(std::move(cluster));
  }
  for (std::size_t word = 0; word < n; ++word) {
    if (antecedents.mention[word] && !visited[word]) clusters.push_back({word});
  }
  std::sort(clusters.begin(), clusters.end());
  return clusters;
}

WordSpan coref_span_from_scores(const std::vector<std::int64_t>& sentence_words, const float* start_scores,
                                const float* end_scores, std::int64_t head) {
  float best_start = -std::numeric_limits<float>::infinity();
  float best_end = -std::numeric_limits<float>::infinity();
  std::int64_t start = head;
  std::int64_t last = head;
  for (std::size_t position = 0; position < sentence_words.size(); ++position) {
    const std::int64_t word = sentence_words[position];
    // Strictly greater: ties keep the earliest word, and NaN never compares greater.
    if (word <= head && start_scores[position] > best_start) {
      best_start = start_scores[position];
      start = word;
    }
    if (word >= head && end_scores[position] > best_end) {
      best_end = end_scores[position];
      last = word;
    }
  }
  return {static_cast<std::uint64_t>(start), static_cast<std::uint64_t>(last + 1)};
}

CorefPrediction coref_forward(const CorefModel& model, const std::vector<std::string>& words,
                              const std::vector<std::uint64_t>& sentence_ids, const std::vector<std::string>& speakers) {
  c10::InferenceMode inference;
  CorefPrediction prediction;
  if (words.empty()) return prediction;
  const at::Tensor vectors = coref_pool_subwords(model, coref_encode_words(model, words, sentence_ids));
  const CorefAntecedents antecedents = coref_score_antecedents(model, vectors, speakers);

  prediction.word_clusters = coref_clusters(antecedents);
  // Every clustered head's span and zero decision, one head per unit of work.
  std::vector<std::pair<std::size_t, std::uint64_t>> heads;  // cluster, head
  for (std::size_t c = 0; c < prediction.word_clusters.size(); ++c) {
    for (const std::uint64_t head : prediction.word_clusters[c]) heads.emplace_back(c, head);
  }
  std::vector<WordSpan> spans(heads.size());
  std::vector<std::uint8_t> zero(heads.size(), 0);
  for_each_unit(heads.size(), [&](std::size_t h) {
    c10::InferenceMode unit_inference;
    const auto head = static_cast<std::int64_t>(heads[h].second);
    spans[h] = predict_span(model, vectors, sentence_ids, head);
    zero[h] = model.use_zeros && zero_logit(model, vectors, head) > 0.0F;
  });
  prediction.span_clusters.resize(prediction.word_clusters.size());
  prediction.zero_words.resize(prediction.word_clusters.size());
  for (std::size_t h = 0; h < heads.size(); ++h) {
    const auto [cluster, head] = heads[h];
    prediction.span_clusters[cluster].push_back(spans[h]);
    if (zero[h] != 0) prediction.zero_words[cluster].push_back(head);
  }
  return prediction;
}

}  // namespace velmora::detail
