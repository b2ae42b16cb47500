#include "folder.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "sticky_folders.h"
#include "streams.h"

namespace {

// What a walk stopped at besides an errno: a link the system would not follow for this process, and
// a link to a standard stream closed when the program started.
constexpr int kUnfollowed = -1;
constexpr int kClosedStream = -2;

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

// Follows the links from `entry`'s name in its folder, as far as they lead: 0, the errno,
// kUnfollowed or kClosedStream. A link of /proc is opened as the system follows it, to `path`'s
// `reached`, before its text is read.
int FollowFrom(FolderEntry* entry, PosixPath* path) {
  for (int links = 0;; ++links) {
    struct stat& info = entry->info;
    entry->exists =
        fstatat(entry->folder.Get(), entry->name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!entry->exists) return errno == ENOENT ? 0 : LastError();
    if (!S_ISLNK(info.st_mode)) return 0;
    if (!WouldSystemFollow(entry->folder.Get(), info)) return kUnfollowed;
    if (links == kLongestLinkChain) return ELOOP;
    if (IsInProc(entry->folder.Get())) {
      if (IsClosedStandardStream(entry->folder.Get(), entry->name)) return kClosedStream;
      entry->throughProcLink = true;
      if (Owned(openat(entry->folder.Get(), entry->name.c_str(), O_PATH | O_CLOEXEC),
                &path->reached) != 0 ||
          fstat(path->reached.Get(), &path->reachedInfo) != 0)
        path->reached.Reset();
    }
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

FileError WalkFailure(int error) {
  if (error == kClosedStream) return Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kClosed);
  return error == kUnfollowed
             ? Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kUnfollowedLink)
             : SystemFailure(FileStep::kOpen, FileSide::kOutput, error);
}

// What the system reaches by the path: what a link of /proc reached, else the walk's target (the
// folder itself where the path ends in one).
void TakeTarget(PosixPath* path) {
  struct stat folder;
  const struct stat* info = nullptr;
  if (path->reached)
    info = &path->reachedInfo;
  else if (!path->error.Failed() && path->entry.exists)
    info = &path->entry.info;
  else if (!path->error.Failed() && path->entry.name.empty() &&
           fstat(path->entry.folder.Get(), &folder) == 0)
    info = &folder;
  path->target = info ? TargetOf(*info) : PathTarget();
}

}  // namespace

PathTarget TargetOf(const struct stat& info) {
  const bool regular = S_ISREG(info.st_mode);
  return {regular                 ? PathTarget::Kind::kRegular
          : S_ISDIR(info.st_mode) ? PathTarget::Kind::kFolder
                                  : PathTarget::Kind::kOther,
          info.st_dev, info.st_ino, regular ? static_cast<uint64_t>(info.st_size) : 0};
}

PathTarget TargetOfOpen(int file) {
  struct stat info;
  return fstat(file, &info) == 0 ? TargetOf(info) : PathTarget();
}

bool IsInProc(int file) {
  struct statfs system;
  return fstatfs(file, &system) == 0 && system.f_type == PROC_SUPER_MAGIC;
}

OwnedPath ResolvePosixPath(int base, const char* path) {
  OwnedPath made = MakeOwned<PosixPath, ResolvedPath>();
  if (!made) return made;
  auto& resolved = static_cast<PosixPath&>(*made);
  // An empty path names nothing, not the current folder.
  int error = *path == '\0' ? ENOENT : OpenFolderOf(base, path, &resolved.entry);
  if (error == 0) error = FollowFrom(&resolved.entry, &resolved);
  if (error != 0) resolved.error = WalkFailure(error);
  TakeTarget(&resolved);
  // A folder is held once found, not a link put in its place since, for the names looked up in it.
  if (!resolved.error.Failed() && resolved.entry.exists && S_ISDIR(resolved.entry.info.st_mode)) {
    if (const int opened = OpenFolderAt(resolved.entry.folder.Get(), resolved.entry.name.c_str(),
                                        O_NOFOLLOW, &resolved.inside))
      resolved.error = SystemFailure(FileStep::kOpen, FileSide::kOutput, opened);
  }
  return made;
}

void PosixPath::Refresh() {
  if (error.Failed() || entry.throughProcLink || entry.name.empty()) return;
  if (const int failed = FollowFrom(&entry, this)) error = WalkFailure(failed);
  TakeTarget(this);
}
