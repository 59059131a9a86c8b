#pragma once

// A bundle file (the tensor file or an artifact) mapped read-only for the bundle's life.

#include <cstdint>
#include <filesystem>
#include <memory>

namespace velmora::detail {

struct MappedFile {
  const void* base = nullptr;  ///< first mapped byte; null for an empty file
  std::uint64_t size = 0;      ///< file size in bytes at opening
  int fd = -1;                 ///< open descriptor, -1 when closed

  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  /// Unmaps and closes.
  ~MappedFile();
};

/// Opens and maps a regular file read-only; throws ModelBundleError.
std::unique_ptr<MappedFile> map_bundle_file(const std::filesystem::path& path);

}  // namespace velmora::detail
