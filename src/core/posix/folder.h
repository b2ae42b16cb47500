// A path resolved once: the folder that holds its final target, opened and held, and the target's
// name in it. Every later look-up of the file goes by that name within that folder, so that nobody
// who can write a folder on the way can redirect a later step by putting a link in the file's
// place.
#pragma once

#include <sys/stat.h>

#include <string>

#include "descriptor.h"

struct FolderEntry {
  Descriptor folder;  ///< readable where it may be, so that it can be flushed, else for look-ups
  std::string name;   ///< empty where the path ends in a folder ("dir/", "/")
  bool exists = false;
  struct stat info = {};  ///< what `name` names, where it exists
  /// A link of /proc was followed (/proc/self/fd/N, /dev/stdout): its text is the name its open
  /// file had, which may name another file or none ("f (deleted)") while the link reaches the file.
  bool throughProcLink = false;
};

/// Whether the open `file` is in /proc, whose links lead to what a process holds (an open file, its
/// folders) while their text only describes it, and whose files report a size of 0 whatever they
/// hold.
bool IsInProc(int file);

/// Follows `path`, relative to the folder `base` (or AT_FDCWD), to the folder that holds its final
/// target, each symbolic link read once and followed only where the kernel would follow it for this
/// process, and that target's name in it (a name no file has yet, where a link dangles). Fails for
/// the output's opening, with the errno or kUnfollowedLink; `entry` then says whether a link of
/// /proc was followed before.
FileError FindFinalEntry(int base, const char* path, FolderEntry* entry);

/// Opens the folder `path` names, its links followed as FindFinalEntry follows them, to be held
/// while many outputs are looked up by name within it. Fails as FindFinalEntry does.
FileError OpenFolder(const char* path, Descriptor* folder);
