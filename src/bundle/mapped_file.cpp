// Read-only private mappings of bundle files.

#include "mapped_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "velmora/errors.hpp"

namespace velmora::detail {

MappedFile::~MappedFile() {
  if (base != nullptr) ::munmap(const_cast<void*>(base), size);
  if (fd >= 0) ::close(fd);
}

std::unique_ptr<MappedFile> map_bundle_file(const std::filesystem::path& path) {
  auto file = std::make_unique<MappedFile>();
  // Close-on-exec keeps the descriptor out of child processes; non-blocking keeps a FIFO
  // from stalling the open before it is refused below.
  file->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file->fd < 0) {
    throw ModelBundleError("cannot open tensor file: " + path.string() + ": " +
                           std::strerror(errno));
  }
  struct stat info {};
  if (::fstat(file->fd, &info) != 0 || info.st_size < 0) {
    throw ModelBundleError("cannot stat tensor file: " + path.string() + ": " +
                           std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    throw ModelBundleError("tensor file is not a regular file: " + path.string());
  }
  file->size = static_cast<std::uint64_t>(info.st_size);
  if (file->size == 0) return file;
  void* base = ::mmap(nullptr, file->size, PROT_READ, MAP_PRIVATE, file->fd, 0);
  if (base == MAP_FAILED) {
    throw ModelBundleError("cannot map tensor file: " + path.string() + ": " +
                           std::strerror(errno));
  }
  file->base = base;
  return file;
}

}  // namespace velmora::detail
