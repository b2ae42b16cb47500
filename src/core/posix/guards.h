// The rules by which the POSIX file layer keeps a swap from being turned against its user by other
// users and processes, each a small check or hold of its own: links followed only where the system
// would follow them, one swap in place of a file at a time, a writer of the file never lost,
// nothing left in a folder that keeps every file, and no split of a file's names.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include "descriptor.h"

/// Whether `signal`, left to its default action, ends the program and may be caught: every one but
/// those that stop, continue or are ignored by default, and the two that cannot be caught.
bool EndsProgramByDefault(int signal);

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

/// Whether `folder` is append-only (chattr +a): a file can be created in it, but never renamed or
/// removed, so that a staged file could neither take another's place nor go away. A folder open
/// for look-ups only cannot be asked, and counts as not.
bool IsAppendOnly(int folder);

/// Whether the file `info` describes is mounted on any name of this process's mounts (a bind mount
/// of a file, the only way a file is a mount point): a name that would keep showing the old file
/// once it is replaced. Only mounts of the file's own device are looked at.
bool IsMountedSomewhere(const struct stat& info);

/// Holds the file swapped in place, open as `input`, through a descriptor of its own (`held`) that
/// outlives the input's: locked, so that a second swap of it at the same time fails rather than
/// both replacing it and one swap being lost. kHeld when another process holds a lock on it.
FileError LockAgainstOtherSwaps(int input, Descriptor* held);

/// Asks the system to tell, through `held`, of any process that opens the file for writing from
/// now on (a read lease; its signal, SIGIO, is ignored while the lease is held, its action before
/// kept in `signalBefore`, and the lease's state is asked for instead). Where leases cannot be had
/// (another owner's file, a file system without them) the swap goes on with its other checks,
/// unwatched; where the file is open for writing already, the writer could be lost, and the swap
/// is refused (kHeld).
FileError WatchForWriters(int held, bool* watched, struct sigaction* signalBefore);

/// Gives up the watch on the file `held` holds, closing it, and puts SIGIO back as it was.
void StopWatching(Descriptor* held, const struct sigaction& signalBefore);

/// Whether a process opened the watched file for writing since it was watched: it is then waiting
/// for the lease to be given up, and its writes must not land on a file that has lost its name.
bool HasWriterCome(int held, bool watched);
