// The tagger's classifier heads: UPOS from a two-layer classifier; XPOS (plain or one scorer per
// composite component) and every morphological feature from biaffine scorers that pair their own
// hidden layer with the embedding of the predicted UPOS.

#include <utility>

#include "pos/model_state.hpp"

namespace velmora::detail {
namespace {

// Id 2 stands for "no value" in composite XPOS components and in features.
constexpr std::int64_t kNoValue = 2;

at::Tensor hidden_layer(const POSModel& state, const at::Tensor& rows, const std::string& name) {
  return at::relu(at::linear(rows, pos_tensor(state, name + ".weight"), pos_tensor(state, name + ".bias")));
}

// Argmax ids of a score matrix as a contiguous int64 vector (ties go to the lowest id).
std::vector<std::int64_t> best_ids(const at::Tensor& scores) {
  const at::Tensor ids = scores.argmax(1).to(at::kLong).contiguous();
  const std::int64_t* data = ids.data_ptr<std::int64_t>();
  return {data, data + ids.numel()};
}

bool outside(std::int64_t id, std::size_t size) { return id < 0 || static_cast<std::uint64_t>(id) >= size; }

// Appends `piece` after `separator` unless the text is still empty.
void join(std::string& text, std::string_view separator, std::string_view piece) {
  if (!text.empty()) text += separator;
  text += piece;
}

}  // namespace

at::Tensor pos_biaffine_scores(const POSModel& state, const at::Tensor& x1, const at::Tensor& x2,
                               const std::string& prefix) {
  const at::Tensor ones = at::ones({x1.size(0), 1}, x1.options());
  return at::bilinear(at::cat({x1, ones}, 1), at::cat({x2, ones}, 1), pos_tensor(state, prefix + ".weight"),
                      pos_tensor(state, prefix + ".bias"));
}

std::vector<POSTag> pos_predict_heads(const POSModel& state, const at::Tensor& rows, std::size_t count) {
  // The id tensors below are read for `count` rows.
  TORCH_CHECK(rows.dim() == 2 && rows.size(0) == static_cast<std::int64_t>(count), "one row per tag is required");
  const at::Tensor upos_logits = at::linear(hidden_layer(state, rows, "upos_hid"), pos_tensor(state, "upos_clf.weight"),
                                            pos_tensor(state, "upos_clf.bias"));
  const at::Tensor upos_ids = upos_logits.argmax(1).to(at::kLong).contiguous();
  const at::Tensor upos_vectors = at::embedding(pos_tensor(state, "upos_emb.weight"), upos_ids);
  const at::Tensor xpos_hidden = hidden_layer(state, rows, "xpos_hid");
  const at::Tensor feats_hidden = hidden_layer(state, rows, "ufeats_hid");

  std::vector<std::vector<std::int64_t>> xpos_ids;  // one list per plain vocabulary or component
  if (!state.xpos_composite) {
    xpos_ids.push_back(best_ids(pos_biaffine_scores(state, xpos_hidden, upos_vectors, "xpos_clf.W_bilin")));
  } else {
    for (std::size_t k = 0; k < state.xpos_components.size(); ++k) {
      xpos_ids.push_back(best_ids(
          pos_biaffine_scores(state, xpos_hidden, upos_vectors, "xpos_clf." + std::to_string(k) + ".W_bilin")));
    }
  }
  std::vector<std::vector<std::int64_t>> feature_ids;
  for (std::size_t k = 0; k < state.feature_vocabs.size(); ++k) {
    feature_ids.push_back(best_ids(
        pos_biaffine_scores(state, feats_hidden, upos_vectors, "ufeats_clf." + std::to_string(k) + ".W_bilin")));
  }

  const std::int64_t* upos = upos_ids.data_ptr<std::int64_t>();
  std::vector<POSTag> tags;
  tags.reserve(count);
  for (std::size_t t = 0; t < count; ++t) {
    POSTag tag;
    if (outside(upos[t], state.upos_labels.size())) throw POSModelError("POS classifier produced an invalid id");
    tag.upos = state.upos_labels[static_cast<std::size_t>(upos[t])];

    if (!state.xpos_composite) {
      const std::int64_t x = xpos_ids[0][t];
      if (outside(x, state.xpos_labels.size())) throw POSModelError("XPOS classifier produced an invalid id");
      tag.xpos = x == kNoValue && state.xpos_has_ignore ? "_" : state.xpos_labels[static_cast<std::size_t>(x)];
    } else {
      for (std::size_t k = 0; k < state.xpos_components.size(); ++k) {
        const std::int64_t c = xpos_ids[k][t];
        if (c == kNoValue) continue;
        if (outside(c, state.xpos_components[k].size())) {
          throw POSModelError("composite XPOS classifier produced an invalid id");
        }
        join(tag.xpos, state.xpos_separator, state.xpos_components[k][static_cast<std::size_t>(c)]);
      }
      if (tag.xpos.empty()) tag.xpos = "_";
    }

    for (std::size_t k = 0; k < state.feature_vocabs.size(); ++k) {
      const std::int64_t v = feature_ids[k][t];
      if (v == kNoValue) continue;
      const POSFeatureVocab& feature = state.feature_vocabs[k];
      if (outside(v, feature.values.size())) throw POSModelError("feature classifier produced an invalid id");
      join(tag.feats, "|", feature.name + "=" + feature.values[static_cast<std::size_t>(v)]);
    }
    if (tag.feats.empty()) tag.feats = "_";
    tags.push_back(std::move(tag));
  }
  return tags;
}

std::vector<std::vector<POSTag>> pos_predict_batch(const POSModel& state, const std::vector<at::Tensor>& encoded,
                                                   std::span<const std::vector<std::string>> sentences) {
  if (encoded.size() != sentences.size()) {
    throw POSModelError("POS encoded and sentence batches must have equal lengths");
  }
  std::vector<std::vector<POSTag>> results(sentences.size());
  std::vector<std::int64_t> lengths(sentences.size(), 0);
  for (std::size_t i = 0; i < sentences.size(); ++i) {
    if (sentences[i].empty()) continue;
    const auto words = static_cast<std::int64_t>(sentences[i].size());
    if (!encoded[i].defined() || encoded[i].dim() != 2 || encoded[i].size(0) != words) {
      throw POSModelError("POS encoded sentence length does not match its words");
    }
    lengths[i] = words;
  }
  // The heads work row by row, so a batch's rows are simply stacked.
  for (const std::vector<std::size_t>& batch : group_by_length(lengths, pos_grouping(state))) {
    std::vector<at::Tensor> rows;
    rows.reserve(batch.size());
    std::size_t total = 0;
    for (const std::size_t i : batch) {
      rows.push_back(encoded[i]);
      total += sentences[i].size();
    }
    std::vector<POSTag> tags = pos_predict_heads(state, at::cat(rows, 0), total);
    auto next = tags.begin();
    for (const std::size_t i : batch) {
      const auto words = static_cast<std::ptrdiff_t>(sentences[i].size());
      results[i].assign(std::make_move_iterator(next), std::make_move_iterator(next + words));
      next += words;
    }
  }
  return results;
}

}  // namespace velmora::detail
