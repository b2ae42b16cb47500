// Owners of what the POSIX file layer opens, and the one way its calls report a failure: the errno
// of the call, returned as a value (0 when it worked), never left for a later line to read.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "file_error.h"

/// A descriptor, closed when its owner goes.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~Descriptor() { Reset(); }

  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  /// Closes the descriptor held, if any, and holds `fd` instead.
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

/// What `open` or `openat` returned, as an owned descriptor moved above the three standard ones
/// (where it landed on one of them, which only a caller that started with one closed can see), so
/// that no file is ever read or written as if it were a standard stream. 0 or the errno.
[[nodiscard]] int Owned(int fd, Descriptor* owner);

/// The errno of the call that just failed, never 0.
[[nodiscard]] int LastError();

/// A failed POSIX call at `step`, with its errno.
inline FileError SystemFailure(FileStep step, FileSide side, int error) {
  return Failure(step, side, FileReason::kSystem, error);
}

/// Reads until `size` bytes have come or the file has ended; 0 or the errno.
[[nodiscard]] int ReadUpTo(int fd, void* buffer, size_t size, size_t* got);
/// Writes exactly `size` bytes; 0, the errno, or -1 where the system stored nothing more without
/// saying why.
[[nodiscard]] int WriteAll(int fd, const void* buffer, size_t size);

/// Raises the buffer of `fd`, where it is a pipe, to 1 MiB (the most the system lets any user ask
/// for by default), so that a piece moves through it in one or two calls rather than the many of a
/// pipe's default 64 KiB, each of which wakes the process at its other end: the copy through a
/// stream then takes half the time. Anything else, or a pipe the system will not widen, is left
/// as it is.
void WidenPipe(int fd);

/// Whether both describe the same file (the same device and inode), however it was reached.
inline bool IsSameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

/// Takes O_NONBLOCK off `fd`, opened with it so that opening a pipe or a device does not wait.
void ClearNonBlocking(int fd);

/// Opens the file `fd` holds again, through /proc/self/fd (the very file, not its path looked up
/// again), with `flags`. 0 or the errno.
[[nodiscard]] int Reopen(int fd, int flags, Descriptor* reopened);
