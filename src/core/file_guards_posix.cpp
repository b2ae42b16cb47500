// The rules by which the POSIX file layer keeps a swap from being turned against its user by other
// users and processes: links followed only where the system would follow them, one swap in place
// of a file at a time, a writer of the file never lost, nothing left in a folder that keeps every
// file, no split of a file's names, and no access or privilege carried that its content would not
// have.
#include "file_guards_posix.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// Whether the system applies its rule on links in shared folders (fs.protected_symlinks); where
// that cannot be read, it is taken as applied.
bool AreSharedFolderLinksProtected() {
  const int fd = open("/proc/sys/fs/protected_symlinks", O_RDONLY | O_CLOEXEC);
  char value = '1';
  if (fd >= 0) {
    if (read(fd, &value, 1) != 1) value = '1';
    close(fd);
  }
  return value != '0';
}

}  // namespace

bool WouldSystemFollow(int folder, const struct stat& link) {
  struct stat shared;
  if (fstat(folder, &shared) != 0) return false;
  if ((shared.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH)) return true;
  if (link.st_uid == geteuid() || link.st_uid == shared.st_uid) return true;
  return !AreSharedFolderLinksProtected();
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
  FILE* mounts = fopen("/proc/self/mountinfo", "re");
  if (!mounts) return false;
  char* line = nullptr;
  size_t room = 0;
  bool mounted = false;
  while (!mounted && getline(&line, &room, mounts) > 0) {
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
  free(line);
  fclose(mounts);
  return mounted;
}

bool IsNameless(const struct stat& reached) {
  return S_ISREG(reached.st_mode) && reached.st_nlink == 0;
}

FileLayer::Error LockAgainstOtherSwaps(int input, FileLayer::Replacement* replacement) {
  const int held = fcntl(input, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (held < 0) return errno;
  replacement->original = held;
  if (flock(held, LOCK_EX | LOCK_NB) == 0) return FileLayer::kOk;
  return errno == EWOULDBLOCK ? FileLayer::kChanged : errno;
}

FileLayer::Error WatchForWriters(FileLayer::Replacement* replacement) {
  signal(SIGIO, SIG_IGN);
  if (fcntl(static_cast<int>(replacement->original), F_SETLEASE, F_RDLCK) == 0) {
    replacement->watched = true;
    return FileLayer::kOk;
  }
  return errno == EAGAIN ? FileLayer::kChanged : FileLayer::kOk;
}

bool HasWriterCome(const FileLayer::Replacement& replacement) {
  return replacement.watched &&
         fcntl(static_cast<int>(replacement.original), F_GETLEASE) != F_RDLCK;
}

FileLayer::Error PutInPlace(int folder, FileLayer::Replacement* replacement) {
  const char* newName = replacement->newName;
  const char* name = replacement->name;
  const bool isNew = replacement->target == FileLayer::Target::kNewOutput;
  if (replacement->watched && renameat2(folder, newName, folder, name, RENAME_EXCHANGE) == 0) {
    if (HasWriterCome(*replacement)) {
      renameat2(folder, newName, folder, name, RENAME_EXCHANGE);
      return FileLayer::kChanged;
    }
    unlinkat(folder, newName, 0);  // the old file, now beside the new
    return FileLayer::kOk;
  }
  int renamed = renameat2(folder, newName, folder, name, isNew ? RENAME_NOREPLACE : 0);
  if (renamed != 0 && isNew && (errno == EINVAL || errno == ENOSYS))
    renamed = renameat(folder, newName, folder, name);
  if (renamed == 0) return FileLayer::kOk;
  return errno == EEXIST ? FileLayer::kChanged : errno;
}

namespace {

// An attribute that any write to a file makes the system remove, which new content must not carry:
// file capabilities grant privileges to the content they were set on.
bool IsClearedByWrite(const char* name) { return strcmp(name, "security.capability") == 0; }

}  // namespace

FileLayer::Error GiveAttributes(int from, int to) {
  const ssize_t listLength = flistxattr(from, nullptr, 0);
  if (listLength < 0) return errno == ENOTSUP ? FileLayer::kOk : errno;
  char* names = static_cast<char*>(malloc(static_cast<size_t>(listLength) + 1));
  if (!names) return ENOMEM;
  const ssize_t got = flistxattr(from, names, static_cast<size_t>(listLength));
  FileLayer::Error error = got < 0 ? errno : FileLayer::kOk;
  bool hasAccessList = false;
  for (ssize_t at = 0; error == FileLayer::kOk && at < got; at += strlen(names + at) + 1) {
    const char* name = names + at;
    if (strcmp(name, "system.posix_acl_access") == 0) hasAccessList = true;
    if (IsClearedByWrite(name)) continue;
    const ssize_t length = fgetxattr(from, name, nullptr, 0);
    void* value = length >= 0 ? malloc(static_cast<size_t>(length) + 1) : nullptr;
    if (!value) {
      error = length < 0 ? errno : ENOMEM;
    } else {
      const ssize_t read = fgetxattr(from, name, value, static_cast<size_t>(length));
      if (read < 0 || fsetxattr(to, name, value, static_cast<size_t>(read), 0) != 0) error = errno;
      free(value);
    }
  }
  free(names);
  if (error == FileLayer::kOk && !hasAccessList &&
      fremovexattr(to, "system.posix_acl_access") != 0 && errno != ENODATA && errno != ENOTSUP)
    error = errno;
  return error;
}

namespace {

// The access control list of `from`, if it has one, given to `to`, a new output: its named users'
// and groups, its deny entries, and its group entry rather than its mask as the group's access.
FileLayer::Error GiveAccessList(int from, int to, bool* given) {
  const char kAccessList[] = "system.posix_acl_access";
  *given = false;
  const ssize_t length = fgetxattr(from, kAccessList, nullptr, 0);
  if (length < 0) return errno == ENODATA || errno == ENOTSUP ? FileLayer::kOk : errno;
  void* value = malloc(static_cast<size_t>(length) + 1);
  if (!value) return ENOMEM;
  const ssize_t read = fgetxattr(from, kAccessList, value, static_cast<size_t>(length));
  FileLayer::Error error = FileLayer::kOk;
  if (read < 0 || fsetxattr(to, kAccessList, value, static_cast<size_t>(read), 0) != 0)
    error = errno;
  *given = error == FileLayer::kOk;
  free(value);
  return error;
}

}  // namespace

FileLayer::Error GiveNewOutputAccess(int input, const struct stat& info, int output) {
  const mode_t mask = umask(0);
  umask(mask);
  bool given = false;
  if (const FileLayer::Error error = GiveAccessList(input, output, &given)) return error;
  struct stat listed;  // the bits the list sets, its mask as the group's
  if (given && fstat(output, &listed) != 0) return errno;
  const mode_t mode = given ? listed.st_mode : info.st_mode;
  return fchmod(output, mode & 0666 & ~mask) == 0 ? FileLayer::kOk : errno;
}
