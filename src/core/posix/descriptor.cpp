// Plain reads and writes: a single call may move fewer bytes than asked, so both loop until done,
// in calls of a few MiB.
#include "descriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {
constexpr size_t kLargestCall = size_t{4} << 20;
}  // namespace

int LastError() { return errno != 0 ? errno : EIO; }

int Owned(int fd, Descriptor* owner) {
  if (fd < 0) return LastError();
  Descriptor opened(fd);
  if (fd <= STDERR_FILENO) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) return LastError();
    opened.Reset(moved);
  }
  *owner = std::move(opened);
  return 0;
}

int ReadUpTo(int fd, void* buffer, size_t size, size_t* got) {
  auto* at = static_cast<char*>(buffer);
  for (*got = 0; *got < size;) {
    const ssize_t came = read(fd, at + *got, std::min(size - *got, kLargestCall));
    if (came < 0 && errno == EINTR) continue;
    if (came < 0) return LastError();
    if (came == 0) break;
    *got += static_cast<size_t>(came);
  }
  return 0;
}

int WriteAll(int fd, const void* buffer, size_t size) {
  auto* at = static_cast<const char*>(buffer);
  for (size_t left = size; left > 0;) {
    const ssize_t put = write(fd, at, std::min(left, kLargestCall));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return LastError();
    if (put == 0) return -1;
    at += put;
    left -= static_cast<size_t>(put);
  }
  return 0;
}

void WidenPipe(int fd) {
  constexpr int kPipeBytes = 1 << 20;
  const int size = fcntl(fd, F_GETPIPE_SZ);
  if (size >= 0 && size < kPipeBytes) fcntl(fd, F_SETPIPE_SZ, kPipeBytes);
}

void ClearNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK); }

int Reopen(int fd, int flags, Descriptor* reopened) {
  char self[sizeof "/proc/self/fd/" + 3 * sizeof(int)];
  snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return Owned(open(self, flags | O_NOCTTY | O_CLOEXEC), reopened);
}
