// The multi-word-token expander's public operations.

#include "models/model_config.hpp"
#include "models/parallel_units.hpp"
#include "seq2seq/mwt_model.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {

MWTPlan::MWTPlan(std::filesystem::path bundle_path, bool verify_checksums)
    : impl_(detail::with_model_error<MWTModelError>(
          [&] { return detail::load_mwt_model(std::move(bundle_path), verify_checksums); })) {}

MWTPlan::~MWTPlan() = default;
MWTPlan::MWTPlan(MWTPlan&&) noexcept = default;
MWTPlan& MWTPlan::operator=(MWTPlan&&) noexcept = default;

const ModelBundle& MWTPlan::bundle() const { return *impl_->bundle; }

std::string MWTPlan::expand(const std::string& token) const {
  std::string expansion;
  detail::for_each_unit(1, [&](std::size_t) { expansion = detail::mwt_expand_token(*impl_, token); });
  return expansion;
}

}  // namespace velmora
