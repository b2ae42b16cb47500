#include "guards.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

bool EndsProgramByDefault(int signal) {
  switch (signal) {
    case SIGKILL:
    case SIGSTOP:
    case SIGCHLD:
    case SIGCONT:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGURG:
    case SIGWINCH:
      return false;
    default:
      return signal >= 1 && signal < NSIG && (signal < 32 || signal >= SIGRTMIN);
  }
}

namespace {

// The value of a protection setting under /proc/sys/fs (0 off, 1 or 2 on); where it cannot be
// read, it is taken as on.
char ProtectionLevel(const char* setting) {
  const Descriptor file(open(setting, O_RDONLY | O_CLOEXEC));
  char value = '1';
  if (!file || read(file.Get(), &value, 1) != 1) value = '1';
  return value;
}

}  // namespace

bool WouldSystemFollow(int folder, const struct stat& link) {
  struct stat shared;
  if (fstat(folder, &shared) != 0) return false;
  if ((shared.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH)) return true;
  if (link.st_uid == geteuid() || link.st_uid == shared.st_uid) return true;
  return ProtectionLevel("/proc/sys/fs/protected_symlinks") == '0';
}

bool WouldSystemOpen(int folder, const struct stat& file) {
  const char* setting = S_ISREG(file.st_mode)    ? "/proc/sys/fs/protected_regular"
                        : S_ISFIFO(file.st_mode) ? "/proc/sys/fs/protected_fifos"
                                                 : nullptr;
  struct stat shared;
  if (setting == nullptr) return true;
  if (fstat(folder, &shared) != 0) return false;
  if ((shared.st_mode & S_ISVTX) == 0) return true;
  if (file.st_uid == geteuid() || file.st_uid == shared.st_uid) return true;
  const char level = ProtectionLevel(setting);
  if (level == '0') return true;
  return (shared.st_mode & S_IWOTH) == 0 && ((shared.st_mode & S_IWGRP) == 0 || level < '2');
}

bool IsAppendOnly(int folder) {
  int flags = 0;
  return ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
}

namespace {

// A mount point as /proc/self/mountinfo spells it, its space, tab, line feed and backslash written
// as three octal digits after a backslash, decoded in place.
void DecodeMountPoint(char* point) {
  char* to = point;
  for (const char* from = point; *from != '\0'; ++to) {
    if (from[0] == '\\' && from[1] >= '0' && from[1] <= '3' && from[2] && from[3]) {
      *to = static_cast<char>((from[1] - '0') * 64 + (from[2] - '0') * 8 + (from[3] - '0'));
      from += 4;
    } else {
      *to = *from++;
    }
  }
  *to = '\0';
}

}  // namespace

bool IsMountedSomewhere(const struct stat& info) {
  const std::unique_ptr<FILE, int (*)(FILE*)> mounts(fopen("/proc/self/mountinfo", "re"), fclose);
  if (!mounts) return false;
  // What getline allocates, grown as it needs, freed when its owner goes.
  struct Line {
    char* text = nullptr;
    size_t room = 0;
    ~Line() { free(text); }
  } buffer;
  bool mounted = false;
  while (!mounted && getline(&buffer.text, &buffer.room, mounts.get()) > 0) {
    char* line = buffer.text;
    unsigned major = 0, minor = 0;
    int pointAt = 0, pointEnd = 0;
    if (sscanf(line, "%*s %*s %u:%u %*s %n%*s%n", &major, &minor, &pointAt, &pointEnd) != 2 ||
        pointEnd == 0 || makedev(major, minor) != info.st_dev)
      continue;
    line[pointEnd] = '\0';
    DecodeMountPoint(line + pointAt);
    struct stat point;
    mounted = stat(line + pointAt, &point) == 0 && S_ISREG(point.st_mode) &&
              point.st_dev == info.st_dev && point.st_ino == info.st_ino;
  }
  return mounted;
}

FileError LockAgainstOtherSwaps(int input, Descriptor* held) {
  if (const int error = Owned(fcntl(input, F_DUPFD_CLOEXEC, STDERR_FILENO + 1), held))
    return SystemFailure(FileStep::kOpen, FileSide::kOutput, error);
  if (flock(held->Get(), LOCK_EX | LOCK_NB) == 0) return FileError{};
  if (errno == EWOULDBLOCK) return Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kHeld);
  return SystemFailure(FileStep::kOpen, FileSide::kOutput, LastError());
}

FileError WatchForWriters(int held, bool* watched, struct sigaction* signalBefore) {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGIO, &ignore, signalBefore);
  *watched = fcntl(held, F_SETLEASE, F_RDLCK) == 0;
  const int error = errno;
  if (!*watched) sigaction(SIGIO, signalBefore, nullptr);
  if (*watched || error != EAGAIN) return FileError{};
  return Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kHeld);
}

void StopWatching(Descriptor* held, const struct sigaction& signalBefore) {
  held->Reset();
  sigaction(SIGIO, &signalBefore, nullptr);
}

bool HasWriterCome(int held, bool watched) { return watched && fcntl(held, F_GETLEASE) != F_RDLCK; }
