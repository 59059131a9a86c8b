// Reads tensors written by tests/support/aoti_packages.py `write_raw_tensor`: u32 dtype code
// (0 int64, 1 float32), u32 rank, rank x i64 sizes, then the contiguous little-endian data.
#pragma once

#include <ATen/ATen.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::testing {

inline at::Tensor read_raw_tensor(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot open reference tensor " + path.string());
  }
  auto read = [&](void* target, std::size_t bytes) {
    if (!in.read(static_cast<char*>(target), static_cast<std::streamsize>(bytes))) {
      throw std::runtime_error("truncated reference tensor " + path.string());
    }
  };
  std::uint32_t code = 0;
  std::uint32_t rank = 0;
  read(&code, sizeof code);
  read(&rank, sizeof rank);
  if (code > 1 || rank > 8) {
    throw std::runtime_error("malformed reference tensor header in " + path.string());
  }
  std::vector<std::int64_t> sizes(rank);
  read(sizes.data(), sizes.size() * sizeof(std::int64_t));
  const auto dtype = code == 0 ? at::kLong : at::kFloat;
  at::Tensor tensor = at::empty(sizes, at::TensorOptions().dtype(dtype));
  read(tensor.data_ptr(), tensor.nbytes());
  if (in.peek() != std::ifstream::traits_type::eof()) {
    throw std::runtime_error("trailing bytes in reference tensor " + path.string());
  }
  return tensor;
}

}  // namespace velmora::testing
