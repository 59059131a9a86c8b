// The standalone character language model: a charlm bundle holds the model's tensors under
// their bare names.

#include <utility>

#include "encoders/charlm_native.hpp"
#include "velmora/charlm.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {

struct CharLMPlan::Impl {
  std::shared_ptr<ModelBundle> bundle;
  std::unique_ptr<detail::NativeCharLM> model;
};

CharLMPlan::CharLMPlan(std::filesystem::path bundle_path, bool verify_checksums) : impl_(std::make_unique<Impl>()) {
  impl_->bundle = std::make_shared<ModelBundle>(std::move(bundle_path), verify_checksums);
  const std::string& processor = impl_->bundle->processor();
  if (processor != "forward_charlm" && processor != "backward_charlm") {
    throw CharLMModelError("expected a forward/backward_charlm bundle, got '" + processor + "'");
  }
  // Malformed assets surface as the JSON reader's own error, with the dotted path of the key.
  const detail::JsonValue assets = detail::parse_json(impl_->bundle->assets_json());
  impl_->model = std::make_unique<detail::NativeCharLM>(impl_->bundle, "", assets);
}

CharLMPlan::~CharLMPlan() = default;
CharLMPlan::CharLMPlan(CharLMPlan&&) noexcept = default;
CharLMPlan& CharLMPlan::operator=(CharLMPlan&&) noexcept = default;

const ModelBundle& CharLMPlan::bundle() const { return *impl_->bundle; }
bool CharLMPlan::is_forward() const { return impl_->model->is_forward(); }
std::int64_t CharLMPlan::hidden_size() const { return impl_->model->hidden_size(); }

std::vector<std::vector<float>> CharLMPlan::encode(const std::vector<std::string>& words) const {
  const at::Tensor rows = impl_->model->encode(words).to(at::kFloat).contiguous();
  std::vector<std::vector<float>> result(static_cast<std::size_t>(rows.size(0)),
                                         std::vector<float>(static_cast<std::size_t>(rows.size(1))));
  const float* data = rows.data_ptr<float>();
  for (auto& row : result) {
    std::copy(data, data + row.size(), row.begin());
    data += row.size();
  }
  return result;
}

}  // namespace velmora
