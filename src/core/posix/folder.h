// A path resolved once: the folder that holds its final target, opened and held, and the target's
// name in it. Every later look-up of the file goes by that name within that folder, so that nobody
// who can write a folder on the way can redirect a later step by putting a link in the file's
// place.
#pragma once

#include <sys/stat.h>

#include <string>

#include "descriptor.h"
#include "file_layer.h"

struct FolderEntry {
  Descriptor folder;  ///< readable where it may be, so that it can be flushed, else for look-ups
  std::string name;   ///< empty where the path ends in a folder ("dir/", "/")
  bool exists = false;
  struct stat info = {};  ///< what `name` names, where it exists
  /// A link of /proc was followed (/proc/self/fd/N, /dev/stdout): its text is the name its open
  /// file had, which may name another file or none ("f (deleted)") while the link reaches the file.
  bool throughProcLink = false;
};

/// What a file with `info` is, as a value's target.
PathTarget TargetOf(const struct stat& info);
/// What the open `file` is, or nothing where the system cannot tell.
PathTarget TargetOfOpen(int file);

/// Whether the open `file` is in /proc, whose links lead to what a process holds (an open file, its
/// folders) while their text only describes it, and whose files report a size of 0 whatever they
/// hold.
bool IsInProc(int file);

/// A path resolved once (see ResolvedPath): the walk's FolderEntry, what a link of /proc reached,
/// and, where the path reaches a folder, that folder held, to look names up in.
struct PosixPath final : ResolvedPath {
  FolderEntry entry;
  /// What the last link of /proc on the way reached (O_PATH), which its text may not name.
  Descriptor reached;
  struct stat reachedInfo = {};
  Descriptor inside;
  /// The standard descriptor this value stands for (see StandardStream), or -1 for a path.
  int standard = -1;

  /// The folder the path reaches, or -1.
  int Inside() const {
    return entry.name.empty() && !error.Failed() ? entry.folder.Get() : inside.Get();
  }
  /// Looks the name up again in the folder held, following its links as the walk did, so that an
  /// output opened later sees what is there now; a value that went through a link of /proc keeps
  /// what that link reached.
  void Refresh();
};

/// Follows `path`, relative to the folder `base` (or AT_FDCWD), to the folder that holds its final
/// target, each symbolic link read once and followed only where the kernel would follow it for this
/// process, and that target's name in it (a name no file has yet, where a link dangles); a failure
/// is the value's `error`, for the output's opening, with the errno or kUnfollowedLink. Null where
/// no memory could be had.
OwnedPath ResolvePosixPath(int base, const char* path);
