#include "sticky_folders.h"

#include <fcntl.h>
#include <unistd.h>

#include "descriptor.h"

namespace {

// The value of a protection setting under /proc/sys/fs (0 off, 1 or 2 on); where it cannot be
// read, it is taken as on.
char ProtectionLevel(const char* setting) {
  const Descriptor file(open(setting, O_RDONLY | O_CLOEXEC));
  char value;
  return file && read(file.Get(), &value, 1) == 1 ? value : '1';
}

// Whether `owner` is this process's user or the owner of the folder `shared`: the one exception of
// the system's rules on sticky folders.
bool IsOwnersOrOurs(uid_t owner, const struct stat& shared) {
  return owner == geteuid() || owner == shared.st_uid;
}

}  // namespace

bool WouldSystemFollow(int folder, const struct stat& link) {
  struct stat shared;
  if (fstat(folder, &shared) != 0) return false;
  if ((shared.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH)) return true;
  if (IsOwnersOrOurs(link.st_uid, shared)) return true;
  return ProtectionLevel("/proc/sys/fs/protected_symlinks") == '0';
}

bool WouldSystemOpen(int folder, const struct stat& file) {
  const char* setting = S_ISREG(file.st_mode)    ? "/proc/sys/fs/protected_regular"
                        : S_ISFIFO(file.st_mode) ? "/proc/sys/fs/protected_fifos"
                                                 : nullptr;
  if (setting == nullptr) return true;
  struct stat shared;
  if (fstat(folder, &shared) != 0) return false;
  if ((shared.st_mode & S_ISVTX) == 0) return true;
  if (IsOwnersOrOurs(file.st_uid, shared)) return true;
  const char level = ProtectionLevel(setting);
  if (level == '0') return true;
  return (shared.st_mode & S_IWOTH) == 0 && ((shared.st_mode & S_IWGRP) == 0 || level < '2');
}
