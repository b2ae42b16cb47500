#include "metadata.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "descriptor.h"

namespace {

const char kAccessList[] = "system.posix_acl_access";

// The owner and group of `info` given to `fd`; the group alone may fail where it grants nothing
// more or less than everyone else has.
int GiveOwner(int fd, const struct stat& info) {
  if (fchown(fd, info.st_uid, info.st_gid) == 0) return 0;
  const int error = LastError();
  struct stat now;
  if (fstat(fd, &now) != 0) return LastError();
  if (now.st_uid != info.st_uid) return error;
  const bool groupMatters = ((info.st_mode >> 3) & 7) != (info.st_mode & 7);
  return now.st_gid != info.st_gid && groupMatters ? error : 0;
}

// One attribute of `from`, given to `to`.
int GiveAttribute(int from, int to, const char* name) {
  const ssize_t length = fgetxattr(from, name, nullptr, 0);
  if (length < 0) return LastError();
  std::string value(static_cast<size_t>(length) + 1, '\0');
  const ssize_t read = fgetxattr(from, name, value.data(), static_cast<size_t>(length));
  if (read < 0 || fsetxattr(to, name, value.data(), static_cast<size_t>(read), 0) != 0)
    return LastError();
  return 0;
}

// Removes the access control list `to` got from its folder's default list, where it has one. 0 or
// the errno.
int RemoveAccessList(int to) {
  return fremovexattr(to, kAccessList) == 0 || errno == ENODATA || errno == ENOTSUP ? 0
                                                                                    : LastError();
}

// Every extended attribute of `from` given to `to`, but the file capabilities, which any write to a
// file makes the system remove (they grant privileges to the content they were set on); where
// `from` has no access control list, `to` gets none either (a folder's default list would
// otherwise be inherited).
int GiveAttributes(int from, int to) {
  const ssize_t listLength = flistxattr(from, nullptr, 0);
  if (listLength < 0) return errno == ENOTSUP ? 0 : LastError();
  std::string names(static_cast<size_t>(listLength) + 1, '\0');
  const ssize_t got = flistxattr(from, names.data(), static_cast<size_t>(listLength));
  if (got < 0) return LastError();
  bool hasAccessList = false;
  for (size_t at = 0; at < static_cast<size_t>(got); at += strlen(names.c_str() + at) + 1) {
    const char* name = names.c_str() + at;
    if (strcmp(name, kAccessList) == 0) hasAccessList = true;
    if (strcmp(name, "security.capability") == 0) continue;
    if (const int error = GiveAttribute(from, to, name)) return error;
  }
  return hasAccessList ? 0 : RemoveAccessList(to);
}

// The flags a user sets on a file and a new file of the same content keeps; the data journal's flag
// wants a privilege, and is left to the folder's.
constexpr int kGivenFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL |
                            FS_NOATIME_FL | FS_NOCOMP_FL | FS_NOTAIL_FL | FS_NOCOW_FL | FS_DAX_FL;

}  // namespace

bool Fingerprint::operator==(const Fingerprint& other) const {
  return volume == other.volume && index == other.index && size == other.size &&
         modified == other.modified && changed == other.changed;
}

Fingerprint FingerprintOf(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
          static_cast<uint64_t>(info.st_size),
          info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec,
          info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec};
}

int CopyMetadata(int from, int to) {
  struct stat info;
  if (fstat(from, &info) != 0) return LastError();
  if (const int error = GiveOwner(to, info)) return error;
  if (const int error = GiveAttributes(from, to)) return error;
  if (fchmod(to, info.st_mode & 07777) != 0) return LastError();
  struct stat now;
  if (fstat(to, &now) != 0) return LastError();
  return (now.st_mode & 07777) == (info.st_mode & 07777) ? 0 : EPERM;
}

int GiveNewOutputAccess(int from, int to) {
  struct stat info;
  if (fstat(from, &info) != 0) return LastError();
  const mode_t mask = umask(0);
  umask(mask);
  // A stream that is no regular file (a pipe, a device) has no access of its data to keep: the
  // output gets what a file made there gets.
  if (!S_ISREG(info.st_mode)) return fchmod(to, 0666 & ~mask) == 0 ? 0 : LastError();
  // A set-group-ID folder gives its own group; the input's where this user may give it.
  struct stat made = info;
  if (fchown(to, static_cast<uid_t>(-1), info.st_gid) != 0 && fstat(to, &made) != 0)
    return LastError();
  const mode_t foreignGroup = made.st_gid == info.st_gid ? 0 : S_IRWXG;
  const bool listed = fgetxattr(from, kAccessList, nullptr, 0) >= 0;
  if (!listed && errno != ENODATA && errno != ENOTSUP) return LastError();
  if (const int error = listed ? GiveAttribute(from, to, kAccessList) : RemoveAccessList(to))
    return error;
  // The bits the list sets, its mask as the group's; none for a group that is not the input's.
  if (listed && fstat(to, &info) != 0) return LastError();
  return fchmod(to, info.st_mode & 0666 & ~mask & ~foreignGroup) == 0 ? 0 : LastError();
}

int GiveFlags(int from, int to) {
  int flags = 0;
  if (ioctl(from, FS_IOC_GETFLAGS, &flags) != 0)
    return errno == ENOTTY || errno == EOPNOTSUPP || errno == EINVAL ? 0 : LastError();
  // Those the new file took from its folder go too, where the file it stands for lacks them.
  int given = 0;
  if (ioctl(to, FS_IOC_GETFLAGS, &given) != 0) return (flags & kGivenFlags) != 0 ? LastError() : 0;
  const int wanted = (given & ~kGivenFlags) | (flags & kGivenFlags);
  return wanted == given || ioctl(to, FS_IOC_SETFLAGS, &wanted) == 0 ? 0 : LastError();
}
