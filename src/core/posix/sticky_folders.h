// The system's rules on sticky folders that everyone may write (/tmp), which the layer keeps for
// the links it follows and the files it opens by name itself, as the kernel would.
#pragma once

#include <sys/stat.h>

/// Whether the kernel would follow `link`, found in `folder`, for this process, as it rules for the
/// links it follows itself: in a sticky folder that everyone may write (/tmp), only a link of this
/// process's user or of the folder's owner, lest another user's link turn a write to a file of
/// theirs into a write anywhere this process may write.
bool WouldSystemFollow(int folder, const struct stat& link);

/// Whether the kernel would open the existing `file`, found in `folder`, for writing by a process
/// that may create it (O_CREAT), as it rules for regular files and named pipes in sticky folders
/// (fs.protected_regular, fs.protected_fifos): in one that everyone (or, at level 2, its group)
/// may write, only a file of this process's user or of the folder's owner, lest another user's
/// file, made first under the name, receive this user's data.
bool WouldSystemOpen(int folder, const struct stat& file);
