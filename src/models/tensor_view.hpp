#pragma once

// Bundle weights as tensors: zero-copy views over the bundle's read-only mapping. The views do
// not own their memory; the model that holds them keeps the bundle (and so the mapping) alive,
// and nothing ever writes through them.

#include <ATen/ATen.h>

#include <optional>
#include <string_view>

#include "velmora/model_bundle.hpp"

namespace velmora::detail {

/// The tensor type of a bundle dtype name, for the ten dtypes that models read (uint8, int8,
/// int16, int32, int64, float16, float32, float64, bool, bfloat16); none for any other name.
std::optional<at::ScalarType> bundle_scalar_type(std::string_view dtype) noexcept;

/// A contiguous CPU tensor of `type` and `shape` over `data`, without a deleter.
at::Tensor read_only_view(const std::byte* data, at::ScalarType type, at::IntArrayRef shape);

/// The view of one bundle tensor. An unsupported dtype, or data that does not start on a
/// multiple of its element size (possible in a bundle written with a small alignment), fails
/// with the model's own error.
template <class Error>
at::Tensor bundle_tensor_view(const ModelBundle& bundle, const TensorDescriptor& descriptor) {
  const std::optional<at::ScalarType> type = bundle_scalar_type(descriptor.dtype);
  if (!type) throw Error("ATen view does not support bundle dtype: " + descriptor.dtype);
  const std::byte* data = bundle.tensor_data(descriptor.name);
  if (!descriptor.aligned() || reinterpret_cast<std::uintptr_t>(data) % at::elementSize(*type) != 0) {
    throw Error("tensor data is misaligned for its dtype: '" + descriptor.name + "'");
  }
  return read_only_view(data, *type, descriptor.shape);
}

}  // namespace velmora::detail
