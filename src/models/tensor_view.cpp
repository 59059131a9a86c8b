#include "models/tensor_view.hpp"

#include <array>
#include <utility>

namespace velmora::detail {

std::optional<at::ScalarType> bundle_scalar_type(std::string_view dtype) noexcept {
  static constexpr std::array<std::pair<std::string_view, at::ScalarType>, 10> kTypes{{
      {"uint8", at::kByte},
      {"int8", at::kChar},
      {"int16", at::kShort},
      {"int32", at::kInt},
      {"int64", at::kLong},
      {"float16", at::kHalf},
      {"float32", at::kFloat},
      {"float64", at::kDouble},
      {"bool", at::kBool},
      {"bfloat16", at::kBFloat16},
  }};
  for (const auto& [name, type] : kTypes) {
    if (name == dtype) return type;
  }
  return std::nullopt;
}

at::Tensor read_only_view(const std::byte* data, at::ScalarType type, at::IntArrayRef shape) {
  // from_blob takes a mutable pointer; the mapping is read-only and the view is only read.
  auto* bytes = const_cast<std::byte*>(data);
  return at::from_blob(bytes, shape, [](void*) {}, at::TensorOptions().dtype(type).device(at::kCPU));
}

}  // namespace velmora::detail
