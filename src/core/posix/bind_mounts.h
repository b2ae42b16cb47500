// Files mounted on another name (a bind mount), which would keep showing the old file once
// replaced.
#pragma once

#include <sys/stat.h>

/// Whether the file `info` describes is mounted on any name of this process's mounts (a bind mount
/// of a file, the only way a file is a mount point): a name that would keep showing the old file
/// once it is replaced. Only mounts of the file's own device are looked at.
bool IsMountedSomewhere(const struct stat& info);
