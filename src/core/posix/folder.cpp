#include "folder.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "guards.h"

namespace {

// As the kernel, which gives up after 40 links on one look-up.
constexpr int kLongestLinkChain = 40;

// Opens the folder `path` names relative to `base`, readable where it may be, else for look-ups.
int OpenFolderAt(int base, const char* path, int flags, Descriptor* folder) {
  flags |= O_DIRECTORY | O_CLOEXEC;
  const int error = Owned(openat(base, path, O_RDONLY | flags), folder);
  return error == EACCES ? Owned(openat(base, path, O_PATH | flags), folder) : error;
}

// Opens the folder part of `path` (up to its last slash; "." where it has none), relative to
// `base`, and gives the part after it.
int OpenFolderOf(int base, const std::string& path, FolderEntry* entry) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  entry->name = slash == std::string::npos ? path : path.substr(slash + 1);
  return OpenFolderAt(base, folder.c_str(), 0, &entry->folder);
}

// FindFinalEntry's work: 0, the errno, or -1 for a link the system would not follow.
int FollowLinks(int base, const char* path, FolderEntry* entry) {
  if (int error = OpenFolderOf(base, path, entry)) return error;
  for (int links = 0;; ++links) {
    struct stat& info = entry->info;
    entry->exists =
        fstatat(entry->folder.Get(), entry->name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!entry->exists) return errno == ENOENT ? 0 : LastError();
    if (!S_ISLNK(info.st_mode)) return 0;
    if (!WouldSystemFollow(entry->folder.Get(), info)) return -1;
    if (links == kLongestLinkChain) return ELOOP;
    if (IsInProc(entry->folder.Get())) entry->throughProcLink = true;
    // A link's size is its target's length, except in /proc, where it may be any.
    std::string target(std::max<size_t>(static_cast<size_t>(info.st_size), PATH_MAX) + 1, '\0');
    const ssize_t length =
        readlinkat(entry->folder.Get(), entry->name.c_str(), target.data(), target.size());
    if (length < 0) return LastError();
    if (static_cast<size_t>(length) >= target.size()) return ENAMETOOLONG;
    target.resize(static_cast<size_t>(length));
    FolderEntry next;
    next.throughProcLink = entry->throughProcLink;
    if (int error = OpenFolderOf(entry->folder.Get(), target, &next)) return error;
    *entry = std::move(next);
  }
}

}  // namespace

bool IsInProc(int file) {
  struct statfs system;
  return fstatfs(file, &system) == 0 && system.f_type == PROC_SUPER_MAGIC;
}

FileError FindFinalEntry(int base, const char* path, FolderEntry* entry) {
  if (const int error = FollowLinks(base, path, entry))
    return error < 0 ? Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kUnfollowedLink)
                     : SystemFailure(FileStep::kOpen, FileSide::kOutput, error);
  return FileError{};
}

FileError OpenFolder(const char* path, Descriptor* folder) {
  FolderEntry entry;
  if (const FileError error = FindFinalEntry(AT_FDCWD, path, &entry); error.Failed()) return error;
  int error = 0;
  if (entry.name.empty())
    *folder = std::move(entry.folder);
  else if (!entry.exists)
    error = ENOENT;
  else  // the folder found, not a link put in its place since
    error = OpenFolderAt(entry.folder.Get(), entry.name.c_str(), O_NOFOLLOW, folder);
  return error != 0 ? SystemFailure(FileStep::kOpen, FileSide::kOutput, error) : FileError{};
}
