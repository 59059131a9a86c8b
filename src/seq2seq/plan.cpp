// The seq2seq plan's public operations: loading, and forwarding to the prediction bodies.

#include "models/model_config.hpp"
#include "models/parallel_units.hpp"
#include "seq2seq/model_state.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {

Seq2SeqPlan::Seq2SeqPlan(std::filesystem::path bundle_path, bool verify_checksums)
    : impl_(detail::with_model_error<Seq2SeqModelError>(
          [&] { return detail::load_seq2seq_model(std::move(bundle_path), verify_checksums); })) {}

Seq2SeqPlan::~Seq2SeqPlan() = default;
Seq2SeqPlan::Seq2SeqPlan(Seq2SeqPlan&&) noexcept = default;
Seq2SeqPlan& Seq2SeqPlan::operator=(Seq2SeqPlan&&) noexcept = default;

const ModelBundle& Seq2SeqPlan::bundle() const { return *impl_->bundle; }
bool Seq2SeqPlan::uses_pos() const { return impl_->pos; }
std::int64_t Seq2SeqPlan::configured_beam_size() const { return impl_->beam_size; }

Seq2SeqPrediction Seq2SeqPlan::predict(const std::string& word, const std::optional<std::string>& pos,
                                       std::optional<long long> beam_size, bool suppress_unk) const {
  Seq2SeqPrediction prediction;
  detail::for_each_unit(1, [&](std::size_t) {
    prediction = detail::seq2seq_predict_one(*impl_, word, pos, beam_size, suppress_unk);
  });
  return prediction;
}

std::vector<Seq2SeqPrediction> Seq2SeqPlan::predict_many(const std::vector<std::string>& words,
                                                         const std::vector<std::optional<std::string>>& pos,
                                                         std::optional<long long> beam_size,
                                                         bool suppress_unk) const {
  return detail::seq2seq_predict_batch(*impl_, words, pos, beam_size, suppress_unk);
}

}  // namespace velmora
