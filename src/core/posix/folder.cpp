#include "folder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "guards.h"

namespace {

// As the kernel, which gives up after 40 links on one look-up.
constexpr int kLongestLinkChain = 40;

// Opens the folder part of `path` (up to its last slash; "." where it has none), relative to
// `base`, and gives the part after it.
int OpenFolderOf(int base, const std::string& path, FolderEntry* entry) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  entry->name = slash == std::string::npos ? path : path.substr(slash + 1);
  Descriptor opened;
  int error = Owned(openat(base, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), &opened);
  if (error == EACCES)
    error = Owned(openat(base, folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC), &opened);
  if (error == 0) entry->folder = std::move(opened);
  return error;
}

// FindFinalEntry's work: 0, the errno, or -1 for a link the system would not follow.
int FollowLinks(const char* path, FolderEntry* entry) {
  if (int error = OpenFolderOf(AT_FDCWD, path, entry)) return error;
  for (int links = 0;; ++links) {
    struct stat& info = entry->info;
    entry->exists =
        fstatat(entry->folder.Get(), entry->name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!entry->exists) return errno == ENOENT ? 0 : LastError();
    if (!S_ISLNK(info.st_mode)) return 0;
    if (!WouldSystemFollow(entry->folder.Get(), info)) return -1;
    if (links == kLongestLinkChain) return ELOOP;
    // A link's size is its target's length, except in /proc, where it may be any.
    std::string target(std::max<size_t>(static_cast<size_t>(info.st_size), PATH_MAX) + 1, '\0');
    const ssize_t length =
        readlinkat(entry->folder.Get(), entry->name.c_str(), target.data(), target.size());
    if (length < 0) return LastError();
    if (static_cast<size_t>(length) >= target.size()) return ENAMETOOLONG;
    target.resize(static_cast<size_t>(length));
    FolderEntry next;
    if (int error = OpenFolderOf(entry->folder.Get(), target, &next)) return error;
    *entry = std::move(next);
  }
}

}  // namespace

FileError FindFinalEntry(const char* path, FolderEntry* entry) {
  if (const int error = FollowLinks(path, entry))
    return error < 0 ? Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kUnfollowedLink)
                     : SystemFailure(FileStep::kOpen, FileSide::kOutput, error);
  return FileError{};
}
