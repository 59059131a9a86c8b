// The morphological segmenter's plan: ownership of the loaded model.

#include "morphseg/model_state.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {

MorphSegPlan::MorphSegPlan(std::filesystem::path bundle_path, bool verify_checksums)
    : impl_(detail::load_morphseg_model(std::move(bundle_path), verify_checksums)) {}

MorphSegPlan::~MorphSegPlan() = default;
MorphSegPlan::MorphSegPlan(MorphSegPlan&&) noexcept = default;
MorphSegPlan& MorphSegPlan::operator=(MorphSegPlan&&) noexcept = default;

const ModelBundle& MorphSegPlan::bundle() const { return *impl_->bundle; }

}  // namespace velmora
