// Opens a bundle whose manifest.json is the fuzzed input, with and without checksum
// verification. The bundle directory holds a small assets file, a 256-byte tensor file
// and one artifact, so that valid-looking manifests reach the tensor table and the
// digests. Every outcome but ModelBundleError (or a returned bundle) is a finding.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "velmora/model_bundle.hpp"

namespace {

std::filesystem::path make_bundle_dir() {
  const std::filesystem::path base =
      std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
  const std::filesystem::path dir = base / ("velmora_fuzz_manifest_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "sub");
  std::ofstream(dir / "assets.json", std::ios::binary) << "{\"config\": {}}";
  std::string tensors(256, '\0');
  for (std::size_t i = 0; i < tensors.size(); ++i) tensors[i] = static_cast<char>(i);
  std::ofstream(dir / "tensors.bin", std::ios::binary) << tensors;
  std::ofstream(dir / "sub" / "model.pt2", std::ios::binary) << "artifact";
  std::ofstream(dir / "empty.bin", std::ios::binary);
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path dir = make_bundle_dir();
  {
    std::ofstream manifest(dir / "manifest.json", std::ios::binary | std::ios::trunc);
    manifest.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  for (bool verify : {false, true}) {
    try {
      velmora::ModelBundle bundle(dir, verify);
      for (const velmora::TensorDescriptor& tensor : bundle.tensors()) {
        const std::byte* bytes = bundle.tensor_data(tensor.name);
        // Touch the first and last byte: the range must lie inside the mapping.
        if (tensor.nbytes > 0) {
          volatile std::byte first = bytes[0];
          volatile std::byte last = bytes[tensor.nbytes - 1];
          (void)first;
          (void)last;
        }
      }
    } catch (const velmora::ModelBundleError&) {
    }
  }
  return 0;
}
