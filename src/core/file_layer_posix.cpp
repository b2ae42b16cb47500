// The file layer on POSIX: the same steps and outcomes as on Win32. A single read or write may move
// fewer bytes than asked, so both loop until done. Each call moves at most a few MiB, so a whole
// file is read in pieces that the swap reverses while they are still in cache. Each operation that
// fails records what it saw (file_failure_posix.h), for the native command line's message.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "file_failure_posix.h"
#include "file_layer.h"

namespace {

FileFailure lastFailure = {FileStep::kNone, nullptr, 0};

// Called by each operation as it fails, before anything else can change errno.
void RecordFailure(FileStep step, const char* path = nullptr, int error = errno) {
  lastFailure = {step, path, error};
}

static_assert(sizeof(off_t) >= 8, "files beyond 4 GiB need a 64-bit file offset");

constexpr size_t kLargestCall = size_t{4} << 20;
constexpr size_t kHugePage = size_t{2} << 20;

size_t CallSize(size_t left) { return left < kLargestCall ? left : kLargestCall; }

size_t RoundUpToHugePage(size_t size) { return (size + kHugePage - 1) & ~(kHugePage - 1); }

// Most of the cost of reading a large file into a fresh buffer is faulting its pages in one by
// one; a mapping aligned to 2 MiB and marked for huge pages takes one fault per 2 MiB instead. Any
// smaller buffer comes from the heap.
void* MapHugePageBuffer(size_t size) {
  const size_t length = RoundUpToHugePage(size);
  // Mapped with one huge page to spare, then trimmed so that the buffer starts on a boundary.
  void* mapped =
      mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  const uintptr_t end = start + length + kHugePage;
  if (end > aligned + length)
    munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
  void* buffer = reinterpret_cast<void*>(aligned);
  madvise(buffer, length, MADV_HUGEPAGE);  // a hint: without huge pages it merely costs more faults
  return buffer;
}

class PosixFileLayer final : public FileLayer {
 public:
  Handle OpenInput(const char* path) override { return OpenFile(path, O_RDONLY); }

  Handle CreateOutput(const char* path) override {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      RecordFailure(FileStep::kCreate, path);
      return kNoFile;
    }
    return fd;
  }

  Handle OpenInPlace(const char* path) override { return OpenFile(path, O_RDWR); }

  bool IsSameFile(Handle file, const char* path) override {
    struct stat open;
    struct stat named;
    return fstat(static_cast<int>(file), &open) == 0 && stat(path, &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
  }

  bool GetSize(Handle file, uint64_t* size) override {
    struct stat info;
    if (fstat(static_cast<int>(file), &info) != 0) {
      RecordFailure(FileStep::kRead);
      return false;
    }
    *size = static_cast<uint64_t>(info.st_size);
    return true;
  }

  bool Seek(Handle file, uint64_t offset) override {
    if (lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) ==
        static_cast<off_t>(offset))
      return true;
    RecordFailure(FileStep::kWrite);
    return false;
  }

  bool ReadAll(Handle file, void* buffer, uint32_t size) override {
    uint32_t got = 0;
    if (!ReadUpTo(file, buffer, size, &got)) return false;
    if (got == size) return true;
    RecordFailure(FileStep::kRead, nullptr, 0);
    return false;
  }

  bool ReadUpTo(Handle file, void* buffer, uint32_t size, uint32_t* got) override {
    auto* at = static_cast<char*>(buffer);
    for (*got = 0; *got < size;) {
      const ssize_t came = read(static_cast<int>(file), at + *got, CallSize(size - *got));
      if (came < 0 && errno == EINTR) continue;
      if (came < 0) {
        RecordFailure(FileStep::kRead);
        return false;
      }
      if (came == 0) break;
      *got += static_cast<uint32_t>(came);
    }
    return true;
  }

  bool WriteAll(Handle file, const void* buffer, uint32_t size) override {
    auto* at = static_cast<const char*>(buffer);
    for (size_t left = size; left > 0;) {
      const ssize_t put = write(static_cast<int>(file), at, CallSize(left));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        RecordFailure(FileStep::kWrite, nullptr, put < 0 ? errno : 0);
        return false;
      }
      at += put;
      left -= static_cast<size_t>(put);
    }
    return true;
  }

  void Close(Handle file) override { close(static_cast<int>(file)); }

  // A mapping that cannot be had falls back to the heap; which of the two a buffer came from is
  // remembered for its release (one swap holds one buffer at a time).
  void* AllocateBuffer(size_t size) override {
    if (size >= kHugePage) {
      if (void* mapped = MapHugePageBuffer(size)) return mapped;
      heapFallback_ = malloc(size);
      if (!heapFallback_) RecordFailure(FileStep::kAllocate);
      return heapFallback_;
    }
    void* buffer = malloc(size);
    if (!buffer) RecordFailure(FileStep::kAllocate);
    return buffer;
  }

  void ReleaseBuffer(void* buffer, size_t size) override {
    if (size >= kHugePage && buffer != heapFallback_) {
      munmap(buffer, RoundUpToHugePage(size));
      return;
    }
    if (buffer == heapFallback_) heapFallback_ = nullptr;
    free(buffer);
  }

  uint64_t LargestWholeFile() override { return UINT32_MAX; }
  uint32_t WholeReadPieceBytes() override { return kLargestCall; }
  uint32_t StreamPieceBytes() override { return kLargestCall; }

 private:
  static Handle OpenFile(const char* path, int access) {
    const FileStep step = access == O_RDONLY ? FileStep::kOpen : FileStep::kCreate;
    const int fd = open(path, access | O_CLOEXEC);
    if (fd < 0) {
      RecordFailure(step, path);
      return kNoFile;
    }
    struct stat info;
    const int error = fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
    if (error != 0) {
      RecordFailure(step, path, error);
      close(fd);
      return kNoFile;
    }
    return fd;
  }

  void* heapFallback_ = nullptr;
};

PosixFileLayer systemFileLayer;

}  // namespace

FileLayer& SystemFileLayer() { return systemFileLayer; }

FileFailure LastFileFailure() { return lastFailure; }
