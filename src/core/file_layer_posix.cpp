// The file layer on POSIX: the same steps and outcomes as on Win32. A single read or write may move
// fewer bytes than asked (the kernel caps one call near 2 GiB), so both loop until done.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "file_layer.h"

namespace {

constexpr size_t kLargestCall = size_t{1} << 30;

size_t CallSize(size_t left) { return left < kLargestCall ? left : kLargestCall; }

class PosixFileLayer final : public FileLayer {
 public:
  Handle OpenInput(const char* path) override {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kNoFile;
    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
      close(fd);
      return kNoFile;
    }
    return fd;
  }

  Handle CreateOutput(const char* path) override {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? kNoFile : fd;
  }

  bool GetSize(Handle file, uint64_t* size) override {
    struct stat info;
    if (fstat(static_cast<int>(file), &info) != 0) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
  }

  bool ReadAll(Handle file, void* buffer, uint32_t size) override {
    auto* at = static_cast<char*>(buffer);
    for (size_t left = size; left > 0;) {
      const ssize_t got = read(static_cast<int>(file), at, CallSize(left));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      at += got;
      left -= static_cast<size_t>(got);
    }
    return true;
  }

  bool WriteAll(Handle file, const void* buffer, uint32_t size) override {
    auto* at = static_cast<const char*>(buffer);
    for (size_t left = size; left > 0;) {
      const ssize_t put = write(static_cast<int>(file), at, CallSize(left));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      at += put;
      left -= static_cast<size_t>(put);
    }
    return true;
  }

  void Close(Handle file) override { close(static_cast<int>(file)); }

  void* AllocateBuffer(size_t size) override { return malloc(size); }

  void ReleaseBuffer(void* buffer, size_t) override { free(buffer); }
};

PosixFileLayer systemFileLayer;

}  // namespace

FileLayer& SystemFileLayer() { return systemFileLayer; }
