#include "constituency/network.hpp"

#include <array>
#include <span>
#include <utility>

#include "encoders/charlm_native.hpp"
#include "encoders/transformer_native.hpp"
#include "models/small_lstm.hpp"
#include "velmora/unicode.hpp"

namespace velmora::detail {
namespace {

// Pretrained vocabularies store multi-word entries with no-break spaces.
std::string with_no_break_spaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == ' ') {
      out += "\xC2\xA0";
    } else {
      out += c;
    }
  }
  return out;
}

std::int64_t lookup(const StringMap<std::int64_t>& ids, const std::string& key, std::int64_t absent) {
  const auto found = ids.find(key);
  return found == ids.end() ? absent : found->second;
}

at::Tensor id_tensor(const std::vector<std::int64_t>& ids) {
  return at::tensor(ids, at::TensorOptions().dtype(at::kLong));
}

}  // namespace

std::int64_t pretrain_id(const ConstituencyPlan::Impl& model, const std::string& word) {
  auto key = [&](const std::string& form) { return with_no_break_spaces(model.lower ? unicode_lower(form) : form); };
  const std::int64_t exact = lookup(model.pretrain_vocab, key(word), 1);
  if (exact != 1) return exact;
  return lookup(model.pretrain_vocab, key(unicode_lower(word)), 1);
}

at::Tensor ConstituencyNetwork::word_features(const std::vector<std::string>& words,
                                              const std::vector<std::string>& tags) const {
  std::vector<std::int64_t> pretrained;
  std::vector<std::int64_t> delta;
  pretrained.reserve(words.size());
  delta.reserve(words.size());
  for (const std::string& word : words) {
    pretrained.push_back(pretrain_id(model_, word));
    delta.push_back(lookup(model_.delta_words, word, 1));
  }
  std::vector<at::Tensor> features = {at::embedding(model_.weight("embedding.weight"), id_tensor(pretrained)),
                                      at::embedding(model_.weight("delta_embedding.weight"), id_tensor(delta))};
  if (model_.tag_embedding_dim > 0) {
    std::vector<std::int64_t> tag_ids;
    tag_ids.reserve(tags.size());
    for (const std::string& tag : tags) tag_ids.push_back(lookup(model_.tags, tag, 1));
    features.push_back(at::embedding(model_.weight("tag_embedding.weight"), id_tensor(tag_ids)));
  }
  if (model_.forward_charlm) features.push_back(model_.forward_charlm->encode(words));
  if (model_.backward_charlm) features.push_back(model_.backward_charlm->encode(words));
  return at::cat(features, 1);
}

std::vector<at::Tensor> ConstituencyNetwork::word_vectors(const std::vector<std::string>& words,
                                                          const std::vector<std::string>& tags) const {
  at::Tensor rows = word_features(words, tags);
  if (model_.everything_boundaries) {
    rows = at::cat({model_.weight("word_start_embedding").reshape({1, -1}), rows,
                    model_.weight("word_end_embedding").reshape({1, -1})},
                   0);
  }
  if (model_.transformer) rows = at::cat({rows, model_.transformer->encode(words, model_.everything_boundaries)}, 1);

  const std::int64_t steps = rows.size(0);
  const at::Tensor encoded =
      model_.word_lstm && rows.scalar_type() == at::kFloat && steps > 0
          ? model_.word_lstm->run_packed(rows, std::span<const std::int64_t>(&steps, 1),
                                         {model_.word_lstm_state.first, model_.word_lstm_state.second})
          : lstm_sequence(model_.word_lstm_weights, rows, model_.num_lstm_layers, /*bidirectional=*/true,
                          model_.word_lstm_state.first.squeeze(1), model_.word_lstm_state.second.squeeze(1));
  const at::Tensor projected = at::relu(at::linear(encoded, model_.weight("word_to_constituent.weight"),
                                                   model_.weight("word_to_constituent.bias")));

  std::vector<at::Tensor> vectors;
  vectors.reserve(static_cast<std::size_t>(projected.size(0)) + 2);
  if (!model_.everything_boundaries) vectors.push_back(at::zeros({model_.hidden_size}, projected.options()));
  for (std::int64_t row = 0; row < projected.size(0); ++row) vectors.push_back(projected[row]);
  if (!model_.everything_boundaries) vectors.push_back(at::zeros({model_.hidden_size}, projected.options()));
  return vectors;
}

StackNode ConstituencyNetwork::sentinel(const std::vector<at::Tensor>& weights,
                                        const std::pair<at::Tensor, at::Tensor>& initial,
                                        const char* start_embedding) const {
  const auto& [h0, c0] = initial;
  StackNode node;
  if (!model_.everything_boundaries) {
    node.h = h0.squeeze(1);
    node.c = c0.squeeze(1);
    node.output = h0[-1].squeeze(0);
    return node;
  }
  std::tie(node.h, node.c) =
      lstm_single_step(weights, model_.weight(start_embedding).reshape({-1}), h0.squeeze(1), c0.squeeze(1));
  node.output = node.h[-1];
  return node;
}

StackNode ConstituencyNetwork::transition_sentinel() const {
  return sentinel(model_.transition_stack_weights, model_.transition_stack_state, "transition_stack.start_embedding");
}

StackNode ConstituencyNetwork::constituent_sentinel() const {
  return sentinel(model_.constituent_stack_weights, model_.constituent_stack_state,
                  "constituent_stack.start_embedding");
}

void ConstituencyNetwork::finish_pushes(const std::vector<at::Tensor>& weights,
                                        const std::optional<PreparedLstmStep>& prepared, std::int64_t width,
                                        const std::vector<PendingPush>& pushes,
                                        const std::vector<at::Tensor>& inputs) const {
  if (pushes.empty()) return;
  const std::array<std::int64_t, 2> expected{model_.num_lstm_layers, width};
  std::vector<at::Tensor> hidden;
  std::vector<at::Tensor> cell;
  for (std::size_t i = 0; i < pushes.size(); ++i) {
    if (inputs[i].dim() != 1 || inputs[i].numel() < 1) throw ConstituencyModelError("constituency stack input is not a vector");
    const StackNode& below = *pushes[i].below;
    if (below.h.sizes() != at::IntArrayRef(expected) || below.c.sizes() != at::IntArrayRef(expected)) {
      throw ConstituencyModelError("constituency stack state has the wrong shape");
    }
    hidden.push_back(below.h);
    cell.push_back(below.c);
  }
  const at::Tensor rows = at::stack(inputs);
  const auto [h, c] = prepared && rows.scalar_type() == at::kFloat
                          ? (*prepared)(rows, at::stack(hidden, 1), at::stack(cell, 1))
                          : lstm_single_step(weights, rows, at::stack(hidden, 1), at::stack(cell, 1));
  for (std::size_t i = 0; i < pushes.size(); ++i) {
    StackNode& node = *pushes[i].node;
    node.h = h.select(1, static_cast<std::int64_t>(i));
    node.c = c.select(1, static_cast<std::int64_t>(i));
    node.output = node.h[-1];
  }
}

void ConstituencyNetwork::finish_constituent_pushes(const std::vector<PendingPush>& pushes) const {
  std::vector<at::Tensor> inputs;
  inputs.reserve(pushes.size());
  for (const PendingPush& push : pushes) inputs.push_back(push.node->value->hidden[-1]);
  finish_pushes(model_.constituent_stack_weights, model_.constituent_step, model_.hidden_size, pushes, inputs);
}

void ConstituencyNetwork::finish_transition_pushes(const std::vector<PendingPush>& pushes) const {
  const at::Tensor& embedding = model_.weight("transition_embedding.weight");
  std::vector<at::Tensor> inputs;
  inputs.reserve(pushes.size());
  for (const PendingPush& push : pushes) inputs.push_back(embedding[*push.node->transition]);
  finish_pushes(model_.transition_stack_weights, model_.transition_step, model_.transition_hidden_size, pushes,
                inputs);
}

StackNode ConstituencyNetwork::push_constituent(const StackNode& top, Constituent value) const {
  StackNode node;
  node.value = std::move(value);
  finish_constituent_pushes({{&node, &top}});
  return node;
}

StackNode ConstituencyNetwork::push_transition(const StackNode& top, std::int64_t transition) const {
  StackNode node;
  node.transition = transition;
  finish_transition_pushes({{&node, &top}});
  return node;
}

at::Tensor ConstituencyNetwork::word_constituent(const at::Tensor& word_vector) const {
  return word_vector.narrow(0, 0, model_.hidden_size).unsqueeze(0);
}

at::Tensor ConstituencyNetwork::open_marker(std::int64_t open_index) const {
  const at::Tensor& dummy = model_.weight("dummy_embedding.weight");
  if (open_index < 0 || open_index >= dummy.size(0)) {
    throw ConstituencyModelError("constituency Open index is outside dummy embeddings");
  }
  return dummy[open_index].unsqueeze(0);
}

at::Tensor ConstituencyNetwork::pool(const std::vector<at::Tensor>& children) const {
  std::vector<at::Tensor> rows;
  rows.reserve(children.size());
  for (const at::Tensor& child : children) rows.push_back(child.squeeze(0));
  return at::amax(at::stack(rows), 0).unsqueeze(0);
}

at::Tensor ConstituencyNetwork::reduce(const at::Tensor& pooled) const {
  if (model_.reduce_product && pooled.scalar_type() == at::kFloat) return at::relu((*model_.reduce_product)(pooled));
  return at::relu(at::linear(pooled, model_.weight("reduce_linear.weight"), model_.weight("reduce_linear.bias")));
}

at::Tensor ConstituencyNetwork::compose(const std::vector<at::Tensor>& children) const { return reduce(pool(children)); }

at::Tensor ConstituencyNetwork::score_rows(const std::vector<const ParserState*>& states) const {
  std::vector<at::Tensor> words;
  std::vector<at::Tensor> transitions;
  std::vector<at::Tensor> constituents;
  for (const ParserState* state : states) {
    words.push_back(state->word_vectors[static_cast<std::size_t>(state->word_position + 1)]);
    transitions.push_back(state->transition_stack.back().output);
    constituents.push_back(state->constituent_stack.back().output);
  }
  at::Tensor x = at::cat({at::stack(words), at::stack(transitions), at::stack(constituents)}, 1);
  if (!model_.output_products.empty() && x.scalar_type() == at::kFloat) {
    for (const RowProducts& layer : model_.output_products) x = layer(at::relu(x));
  } else {
    for (const auto& [weight, bias] : model_.output_layers) x = at::linear(at::relu(x), weight, bias);
  }
  if (x.dim() != 2 || x.size(1) != static_cast<std::int64_t>(model_.transitions.size())) {
    throw ConstituencyModelError("constituency output layer has the wrong shape");
  }
  return x.to(at::kDouble).contiguous();
}

std::vector<double> ConstituencyNetwork::score(const ParserState& state) const {
  const at::Tensor scores = score_rows({&state});
  const double* data = scores.const_data_ptr<double>();
  return std::vector<double>(data, data + scores.size(1));
}

at::Tensor DeferredStackEncoder::word_constituent(const at::Tensor& word_vector) const {
  return network_.word_constituent(word_vector);
}

at::Tensor DeferredStackEncoder::open_marker(std::int64_t open_index) const { return network_.open_marker(open_index); }

at::Tensor DeferredStackEncoder::compose(const std::vector<at::Tensor>& children) const {
  return network_.pool(children);
}

StackNode DeferredStackEncoder::push_constituent(const StackNode&, Constituent value) const {
  StackNode node;
  node.value = std::move(value);
  return node;
}

StackNode DeferredStackEncoder::push_transition(const StackNode&, std::int64_t transition) const {
  StackNode node;
  node.transition = transition;
  return node;
}

}  // namespace velmora::detail
