#pragma once

// SHA-256 (FIPS 180-4), used to verify model bundles. Uses the CPU's SHA extensions when
// present and a portable implementation otherwise.

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::detail {

/// Lower-case hexadecimal SHA-256 digest (64 characters) of a byte range.
std::string sha256_hex(const void* data, std::size_t size);

/// The block function: folds one 64-byte block into the eight-word state.
void sha256_compress(std::uint32_t state[8], const unsigned char block[64]);

/// sha256_hex through the portable block function only, whatever the CPU offers; lets tests
/// check the accelerated path against it.
std::string sha256_hex_portable(const void* data, std::size_t size);

/// Incremental form of sha256_hex for data that arrives in pieces.
class Sha256 {
 public:
  Sha256();
  /// Hashes with the portable block function even where the CPU has SHA instructions.
  static Sha256 portable();
  void update(const void* data, std::size_t size);
  /// The digest of everything passed to update; the object must not be updated afterwards.
  std::string finish_hex();

 private:
  using CompressBlocks = void (*)(std::uint32_t*, const unsigned char*, std::size_t);
  explicit Sha256(CompressBlocks compress);

  CompressBlocks compress_;
  std::uint32_t state_[8];
  unsigned char buffer_[64];
  std::size_t buffered_ = 0;
  std::uint64_t total_ = 0;
};

}  // namespace velmora::detail
