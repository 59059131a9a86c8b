// The language identifier's plan: ownership of the loaded model.

#include "langid/model_state.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {

LangIDPlan::LangIDPlan(std::filesystem::path bundle_path, bool verify_checksums)
    : impl_(detail::load_langid_model(std::move(bundle_path), verify_checksums)) {}

LangIDPlan::~LangIDPlan() = default;
LangIDPlan::LangIDPlan(LangIDPlan&&) noexcept = default;
LangIDPlan& LangIDPlan::operator=(LangIDPlan&&) noexcept = default;

const ModelBundle& LangIDPlan::bundle() const { return *impl_->bundle; }

}  // namespace velmora
